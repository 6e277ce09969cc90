#pragma once

#include "Interpreter.h"
#include "Parser.h"
#include "Transcript.h"

#include <host/CommandRegistry.h>
#include <host/PluginLoader.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace hostbatch {

/// One run of the host: a command registry with the plug-ins loaded into it, and
/// the interpreter that runs sources against them. Plug-ins, top-level variables
/// and procedures stay until the session goes.
class Session {
public:
    /// Receives each top-level statement's outcome as soon as the statement has run.
    using Report = std::function<void(const StatementOutcome&)>;
    using Read = hostbatch::Read;

    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Loads the plug-in at `path`, as the `loadPlugin` built-in does, and returns
    /// the loader's outcome with the script-editor lines the load produced in
    /// `lines` (the loader's reason is not among them).
    host::PluginLoader::LoadOutcome loadPlugin(const std::string& path, std::vector<Line>& lines);

    /// Adds a built-in, or replaces the one of the same name.
    void addBuiltin(Builtin builtin) { interpreter_.addBuiltin(std::move(builtin)); }
    /// The names of the built-ins, sorted: the interpreter's and the session's own.
    std::vector<std::string> builtinNames() const { return interpreter_.builtinNames(); }

    /// From now on, gives every statement's outcome its wall time (off at first).
    void timeStatements(bool on) { timeStatements_ = on; }
    void setLimits(const Limits& limits) { interpreter_.setLimits(limits); }
    void setInterruptFlag(volatile std::sig_atomic_t* flag) { interpreter_.setInterruptFlag(flag); }
    /// From now on, reports a running statement's lines as they pile up, as
    /// outcomes holding only lines, before the statement's own outcome (off at
    /// first: a statement's lines are then held until it ends, to the output limit).
    void streamLines(bool on) { streamLines_ = on; }
    /// Makes the running source stop after the statement that is running.
    void requestStop() { stopRequested_ = true; }

    /// Checks the whole of `text` and, when it parses, runs its top-level
    /// statements in order, handing each outcome to `report`. A syntax error is
    /// reported as one failing outcome with the error line "line L.C: what" and
    /// nothing of the text runs. Stops after the first failing statement unless
    /// `keepGoing`. `file` names the script file the text was read from, empty
    /// when it was given otherwise. Returns true when every statement succeeded.
    bool runScript(
        std::string_view text, bool keepGoing, const Report& report, const std::string& file = std::string());

    /// Reads a source through `read` and runs each top-level statement as soon as
    /// the parser finds it complete (an `if` once the next word shows that no
    /// `else` follows). A syntax error fails that statement; with `keepGoing`
    /// reading goes on after the error's line. A statement longer than the
    /// script limit ends the source. `readFailed` tells whether reading ended
    /// with an error.
    bool runStream(const Read& read, bool keepGoing, const Report& report, bool& readFailed);

private:
    // Runs the statements `reader` gives; false when one failed or did not parse.
    bool runStatements(StatementReader& reader, bool keepGoing, const Report& report);
    static StatementOutcome failureOf(const std::string& what);
    StatementOutcome runStatement(const Stmt& statement);
    void loadOrUnload(Call& call, bool load);

    // The loader unloads its plug-ins from the registry, so it must go first.
    host::CommandRegistry registry_;
    host::PluginLoader loader_;
    Interpreter interpreter_;
    bool timeStatements_ = false;
    bool stopRequested_ = false;
    bool streamLines_ = false;
};

}  // namespace hostbatch
