#include <host/CommandRegistry.h>

#include <host/Activity.h>
#include <host/ScriptEditor.h>

#include <maya/MPxCommand.h>

#include <exception>
#include <utility>

namespace host {

// Gives a command object created by the registry the syntax built at registration.
class CommandAccess {
public:
    static void setSyntax(MPxCommand& command, const MSyntax& syntax) { command.syntax_ = &syntax; }
};

namespace {

void showInternalError(const std::string& commandName, const std::string& what)
{
    ScriptEditor::show(LineKind::Error, commandName + ": internal error: " + what);
}

}  // namespace

CommandRegistry::~CommandRegistry() = default;

MStatus CommandRegistry::registerCommand(const PluginRecord& owner, const std::string& name,
    MCreatorFunction creator, MCreateSyntaxFunction newSyntax)
{
    if (name.empty() || creator == nullptr)
        return MStatus::kInvalidParameter;
    if (contains(name))
        return MStatus::kFailure;
    MSyntax syntax = newSyntax != nullptr ? newSyntax() : MSyntax();
    commands_.emplace(name, std::make_unique<Entry>(Entry { &owner, creator, std::move(syntax) }));
    return MStatus::kSuccess;
}

MStatus CommandRegistry::deregisterCommand(const PluginRecord& owner, const std::string& name)
{
    const auto found = commands_.find(name);
    if (found == commands_.end() || found->second->owner != &owner)
        return MStatus::kFailure;
    commands_.erase(found);
    return MStatus::kSuccess;
}

void CommandRegistry::removeCommandsOf(const PluginRecord& owner)
{
    for (auto entry = commands_.begin(); entry != commands_.end();) {
        if (entry->second->owner == &owner)
            entry = commands_.erase(entry);
        else
            ++entry;
    }
}

bool CommandRegistry::contains(const std::string& name) const
{
    return commands_.count(name) != 0;
}

std::vector<std::string> CommandRegistry::commandsOf(const PluginRecord& owner) const
{
    std::vector<std::string> names;
    for (const auto& [name, entry] : commands_) {
        if (entry->owner == &owner)
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> CommandRegistry::commandNames() const
{
    std::vector<std::string> names;
    for (const auto& entry : commands_)
        names.push_back(entry.first);
    return names;
}

const MSyntax* CommandRegistry::syntaxOf(const std::string& name) const
{
    const auto found = commands_.find(name);
    return found == commands_.end() ? nullptr : &found->second->syntax;
}

Invocation CommandRegistry::run(const std::string& name, const MArgList& args, std::size_t arrayBound) const
{
    Invocation invocation;
    const auto found = commands_.find(name);
    if (found == commands_.end()) {
        ScriptEditor::show(LineKind::Error, "Cannot find procedure \"" + name + "\".");
        invocation.status = MStatus::kNotFound;
        return invocation;
    }
    const Entry& entry = *found->second;
    // The front end hears of the command's start and end, whichever way it ends.
    struct Running {
        explicit Running(const std::string& command) { noteCommand(command, true); }
        ~Running() { noteCommand({}, false); }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running(name);

    // A command is plug-in code: whatever it throws stops at this boundary so
    // that the host keeps running.
    const ArrayBoundScope bound(arrayBound);
    try {
        std::unique_ptr<MPxCommand> command(static_cast<MPxCommand*>(entry.creator()));
        if (command == nullptr) {
            showInternalError(name, "the creator made no command object");
            invocation.status = MStatus::kFailure;
            return invocation;
        }
        CommandAccess::setSyntax(*command, entry.syntax);
        ResultScope scope(invocation.result);
        invocation.status = command->doIt(args);
        command.reset();  // its arrays go first, so that the result is moved, not copied
        scope.settle();
    } catch (const ArrayBoundPassed&) {
        // The arrays it had built are gone with the frames the throw left.
    } catch (const std::exception& error) {
        showInternalError(name, error.what());
        invocation = Invocation { MStatus::kFailure, std::monostate {} };
    } catch (...) {
        showInternalError(name, "unknown exception");
        invocation = Invocation { MStatus::kFailure, std::monostate {} };
    }
    // Also when the command caught the throw and went on.
    if (bound.passed())
        invocation = Invocation { MStatus::kFailure, std::monostate {}, true };
    return invocation;
}

MObject ObjectAccess::objectFor(LoadingPlugin& plugin)
{
    MObject object;
    object.object_ = &plugin;
    return object;
}

ObjectAccess::LoadingPlugin* ObjectAccess::pluginOf(const MObject& object)
{
    return static_cast<LoadingPlugin*>(object.object_);
}

}  // namespace host
