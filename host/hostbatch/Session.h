#pragma once

#include "Script.h"
#include "Transcript.h"

#include <host/CommandRegistry.h>
#include <host/PluginLoader.h>

#include <functional>
#include <string>
#include <string_view>

namespace hostbatch {

/// One run of the host: a command registry with the plug-ins loaded into it, and
/// the statements run against them. Plug-ins stay loaded until the session goes.
class Session {
public:
    /// Receives each statement's outcome as soon as the statement has run.
    using Report = std::function<void(const StatementOutcome&)>;

    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Loads the plug-in at `path`, as the `loadPlugin` built-in does, and returns
    /// the loader's outcome with the script-editor lines the load produced in
    /// `lines` (the loader's reason is not among them).
    host::PluginLoader::LoadOutcome loadPlugin(const std::string& path, std::vector<host::EditorLine>& lines);

    /// From now on, gives every statement's outcome its wall time (off at first).
    void timeStatements(bool on) { timeStatements_ = on; }

    /// Runs one statement: the built-ins `loadPlugin "path"` and `unloadPlugin
    /// "name"`, or else the registered command of that name. The outcome's
    /// status is kSuccess, the loader's or the command's status (kNotFound for
    /// an unknown command, kInvalidParameter for a built-in given other than
    /// one argument); a partial load fails with the loader's status.
    StatementOutcome run(const Statement& statement);

    /// Parses the whole of `text` and, when it parses, runs its statements in
    /// order, handing each outcome to `report`. A syntax error is reported as one
    /// failing outcome with the error line "<sourceName>:<line>: <what>" and
    /// nothing runs. Stops after the first failing statement unless `keepGoing`.
    /// Returns true when every statement succeeded.
    bool runScript(
        const std::string& sourceName, std::string_view text, bool keepGoing, const Report& report);

private:
    StatementOutcome runLoadPlugin(const Statement& statement);
    StatementOutcome runUnloadPlugin(const Statement& statement);
    StatementOutcome runCommand(const Statement& statement);

    // The loader unloads its plug-ins from the registry, so it must go first.
    host::CommandRegistry registry_;
    host::PluginLoader loader_;
    bool timeStatements_ = false;
};

}  // namespace hostbatch
