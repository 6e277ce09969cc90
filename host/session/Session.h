#pragma once

#include <mel/Interpreter.h>
#include <mel/lib/Plugins.h>

#include <host/CommandRegistry.h>
#include <host/PluginLoader.h>

#include <csignal>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace host {

/// The host in one process: a command registry with the plug-ins loaded into
/// it, and a MEL interpreter with the standard library opened and the plug-in
/// built-ins (`loadPlugin`, `unloadPlugin`, `pluginInfo`) over its loader, as
/// hostbatch and the Python module both run it. Plug-ins, top-level variables
/// and procedures stay until the session goes.
class Session : private mel::PluginHost {
public:
    using Report = mel::Interpreter::Report;

    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() override = default;

    /// The memory bound a session gets by default: half of the memory this
    /// process may have, the machine's or its control group's when smaller.
    static std::size_t defaultMemoryBound();

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
    MStatus load(const std::string& pathOrName, std::string& error) override;
    MStatus unload(const std::string& name, std::string& error) override;
    std::vector<Plugin> plugins() const override;

    // The loader unloads its plug-ins from the registry, so it must go first.
    CommandRegistry registry_;
    PluginLoader loader_;
    mel::Interpreter interpreter_;
};

}  // namespace host
