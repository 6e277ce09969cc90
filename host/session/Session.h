#pragma once

#include <mel/Interpreter.h>

#include <host/CommandRegistry.h>
#include <host/PluginLoader.h>

#include <csignal>
#include <string>
#include <string_view>
#include <vector>

namespace host {

/// The host in one process: a command registry with the plug-ins loaded into
/// it, and a MEL interpreter with the standard library opened and the loader's
/// own built-ins (`loadPlugin`, `unloadPlugin`) added, as hostbatch and the
/// Python module both run it. Plug-ins, top-level variables and procedures
/// stay until the session goes.
class Session {
public:
    using Report = mel::Interpreter::Report;

    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Loads the plug-in at `path`, as the `loadPlugin` built-in does, and returns
    /// the loader's outcome with the script-editor lines the load produced in
    /// `lines` (the loader's reason is not among them).
    PluginLoader::LoadOutcome loadPlugin(const std::string& path, std::vector<mel::Line>& lines);

    /// The commands registered, to look them and their syntax up.
    const CommandRegistry& registry() const { return registry_; }

    /// The interpreter, to run sources and set how it runs them.
    mel::Interpreter& interpreter() { return interpreter_; }
    const mel::Interpreter& interpreter() const { return interpreter_; }

    /// The same as the interpreter's, for the common calls.
    bool runScript(
        std::string_view text, bool keepGoing, const Report& report, const std::string& file = std::string())
    {
        return interpreter_.runScript(text, keepGoing, report, file);
    }
    bool runStream(const mel::Read& read, bool keepGoing, const Report& report, bool& readFailed)
    {
        return interpreter_.runStream(read, keepGoing, report, readFailed);
    }

private:
    void loadOrUnload(mel::Call& call, bool load);

    // The loader unloads its plug-ins from the registry, so it must go first.
    CommandRegistry registry_;
    PluginLoader loader_;
    mel::Interpreter interpreter_;
};

}  // namespace host
