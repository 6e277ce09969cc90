#pragma once

#include <host/CommandResult.h>
#include <maya/MArgList.h>
#include <maya/MFnPlugin.h>
#include <maya/MStatus.h>
#include <maya/MSyntax.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

/// Who registered a command: a loaded plug-in, or the host itself (tests).
struct PluginRecord {
    std::string name;
    std::string path = {};  ///< The library's absolute path, for a loaded plug-in.
    std::string vendor = {};  ///< As the plug-in's first MFnPlugin names them.
    std::string version = {};
};

/// The outcome of running one command.
struct Invocation {
    MStatus status;
    CommandResult result;
    /// The command was ended because an array of it would pass the run's array
    /// bound; nothing was shown, the caller says so.
    bool passedArrayBound = false;
};

/// The commands a host knows, each owned by the plug-in that registered it.
class OPENMAYA_EXPORT CommandRegistry {
public:
    CommandRegistry() = default;
    CommandRegistry(const CommandRegistry&) = delete;
    CommandRegistry& operator=(const CommandRegistry&) = delete;
    ~CommandRegistry();

    /// kFailure when `name` is already registered, kInvalidParameter for an empty
    /// name or a null creator. The syntax is built here, once.
    MStatus registerCommand(const PluginRecord& owner, const std::string& name, MCreatorFunction creator,
        MCreateSyntaxFunction newSyntax);
    /// kFailure when `owner` has no command of that name.
    MStatus deregisterCommand(const PluginRecord& owner, const std::string& name);
    /// Removes whatever `owner` still has registered.
    void removeCommandsOf(const PluginRecord& owner);

    bool contains(const std::string& name) const;
    /// The names `owner` has registered, sorted.
    std::vector<std::string> commandsOf(const PluginRecord& owner) const;
    /// Every registered name, sorted.
    std::vector<std::string> commandNames() const;
    /// The syntax `name` was registered with (empty when it gave none), so that
    /// a caller can check flags and their argument types before running it; null
    /// for a name not registered. Valid until the command is deregistered.
    const MSyntax* syntaxOf(const std::string& name) const;

    /// Runs `name` with `args`: creates the command object, parses nothing itself
    /// (the command does), calls doIt, and deletes the object. An unknown name,
    /// a null object from the creator, and any exception out of the command are
    /// shown as one error line naming the command and give kFailure (unknown
    /// name: kNotFound). With an `arrayBound`, no array of the command's
    /// (MIntArray, MStringArray) may hold more elements: the command is ended at
    /// the append that would pass it, its objects freed, with kFailure and
    /// `passedArrayBound` set, and nothing shown.
    Invocation run(const std::string& name, const MArgList& args, std::size_t arrayBound = 0) const;

private:
    struct Entry {
        const PluginRecord* owner;
        MCreatorFunction creator;
        MSyntax syntax;
    };
    std::map<std::string, std::unique_ptr<Entry>> commands_;
};

/// The link between an MObject handed to a plug-in and the host's record of that
/// plug-in, for MFnPlugin.
class OPENMAYA_EXPORT ObjectAccess {
public:
    struct LoadingPlugin {
        CommandRegistry* registry;
        PluginRecord* record;
    };
    static MObject objectFor(LoadingPlugin& plugin);
    /// Null for an object that names no plug-in.
    static LoadingPlugin* pluginOf(const MObject& object);
};

}  // namespace host
