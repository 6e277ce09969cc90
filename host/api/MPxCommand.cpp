#include <maya/MPxCommand.h>

#include <host/CommandResult.h>

#include <climits>
#include <string>
#include <utility>

namespace {

// The result slot of the command running on this thread; null outside a command.
thread_local host::CommandResult* currentResult = nullptr;

void storeResult(host::CommandResult value)
{
    if (currentResult != nullptr)
        *currentResult = std::move(value);
}

}  // namespace

namespace host {

ResultScope::ResultScope(CommandResult& result)
    : previous_(std::exchange(currentResult, &result))
{
}

ResultScope::~ResultScope()
{
    currentResult = previous_;
}

}  // namespace host

MPxCommand::~MPxCommand() = default;

MStatus MPxCommand::doIt(const MArgList&)
{
    return MStatus::kNotImplemented;
}

MStatus MPxCommand::undoIt()
{
    return MStatus::kNotImplemented;
}

MStatus MPxCommand::redoIt()
{
    return MStatus::kNotImplemented;
}

bool MPxCommand::isUndoable() const
{
    return false;
}

bool MPxCommand::hasSyntax() const
{
    return true;
}

MSyntax MPxCommand::syntax() const
{
    return syntax_ != nullptr ? *syntax_ : MSyntax();
}

void MPxCommand::clearResult()
{
    storeResult(std::monostate {});
}

void MPxCommand::setResult(int value)
{
    storeResult(value);
}

void MPxCommand::setResult(unsigned int value)
{
    // Results hold signed integers; larger values keep their size as a real number.
    if (value > static_cast<unsigned int>(INT_MAX))
        storeResult(static_cast<double>(value));
    else
        storeResult(static_cast<int>(value));
}

void MPxCommand::setResult(double value)
{
    storeResult(value);
}

void MPxCommand::setResult(bool value)
{
    storeResult(value);
}

void MPxCommand::setResult(const char* value)
{
    storeResult(std::string(value != nullptr ? value : ""));
}

void MPxCommand::setResult(const MString& value)
{
    storeResult(std::string(value.asChar()));
}

void MPxCommand::setResult(const MIntArray& value)
{
    std::vector<int> elements;
    elements.reserve(value.length());
    for (unsigned int index = 0; index < value.length(); ++index)
        elements.push_back(value[index]);
    storeResult(std::move(elements));
}

void MPxCommand::setResult(const MStringArray& value)
{
    std::vector<std::string> elements;
    elements.reserve(value.length());
    for (unsigned int index = 0; index < value.length(); ++index)
        elements.emplace_back(value[index].asChar());
    storeResult(std::move(elements));
}
