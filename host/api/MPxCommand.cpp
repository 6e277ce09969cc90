#include <maya/MPxCommand.h>

#include <host/CommandResult.h>

#include <climits>
#include <string>
#include <utility>

namespace {

// The result slot of the command running on this thread; null outside a command.
thread_local host::ResultScope::Slot* currentSlot = nullptr;
// The array bound in force on this thread; null outside any.
thread_local host::ArrayBoundScope* currentBound = nullptr;

void storeResult(host::CommandResult value)
{
    if (currentSlot == nullptr)
        return;
    currentSlot->sharedInts.reset();
    *currentSlot->result = std::move(value);
}

}  // namespace

namespace host {

class ArrayAccess {
public:
    static const std::shared_ptr<std::vector<int>>& elements(const MIntArray& array)
    {
        return array.elements_;
    }
};

ResultScope::ResultScope(CommandResult& result)
    : slot_ { &result, nullptr }
    , previous_(std::exchange(currentSlot, &slot_))
{
}

ResultScope::~ResultScope()
{
    settle();
    currentSlot = previous_;
}

void ResultScope::settle()
{
    std::shared_ptr<std::vector<int>> shared = std::move(slot_.sharedInts);
    if (!shared)
        return;
    // Still shared means the command's array outlives the call: copy.
    if (shared.use_count() == 1)
        *slot_.result = std::move(*shared);
    else
        *slot_.result = *shared;
}

ArrayBoundScope::ArrayBoundScope(std::size_t bound)
    : bound_(bound)
    , outer_(std::exchange(currentBound, this))
{
}

ArrayBoundScope::~ArrayBoundScope()
{
    currentBound = outer_;
}

std::size_t ArrayBoundScope::bound()
{
    return currentBound != nullptr ? currentBound->bound_ : 0;
}

void ArrayBoundScope::refuse()
{
    currentBound->passed_ = true;
    throw ArrayBoundPassed { currentBound->bound_ };
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
    if (currentSlot == nullptr)
        return;
    // Shared for now and settled once the command is gone: a result of
    // millions of integers is then never copied.
    const std::shared_ptr<std::vector<int>>& elements = host::ArrayAccess::elements(value);
    *currentSlot->result = std::vector<int>();
    currentSlot->sharedInts = elements ? elements : std::make_shared<std::vector<int>>();
}

void MPxCommand::setResult(const MStringArray& value)
{
    std::vector<std::string> elements;
    elements.reserve(value.length());
    for (unsigned int index = 0; index < value.length(); ++index)
        elements.emplace_back(value[index].asChar());
    storeResult(std::move(elements));
}
