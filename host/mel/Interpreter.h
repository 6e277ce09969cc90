#pragma once

#include "Builtin.h"
#include "Environment.h"
#include "Outcome.h"
#include "Parser.h"
#include "SessionStore.h"
#include "Syntax.h"
#include "Value.h"

#include <host/CommandRegistry.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace mel {

/// Bounds on what one top-level statement may do; 0 means no bound.
struct Limits {
    std::uint64_t steps = 0;  ///< Statements and expressions evaluated.
    int callDepth = 1000;  ///< Procedures, eval and source inside one another.
    std::size_t valueSize = 0;  ///< Elements of an array or a matrix.
    std::size_t stringSize = 0;  ///< Bytes of a string.
    std::size_t sourceSize = 0;  ///< Bytes of a script file, or of one statement read from a stream.
    std::size_t outputSize = 0;  ///< Bytes of lines one statement holds when they are not streamed.
    /// Bytes the process holds allocated, looked at every few milliseconds of
    /// a statement and as a built-in's result grows: what the session holds in
    /// all, its variables, values and plug-ins' buffers together.
    std::size_t memory = 0;
};

/// Runs MEL: sources read whole or as they arrive, statement by statement,
/// with procedures, built-ins, and commands through the registry, and
/// variables in an Environment. A top-level variable or procedure lives as
/// long as the interpreter. Every line, `print` output included, goes to
/// host::ScriptEditor as it happens; each top-level statement's lines and
/// result are reported as its outcome. The interpreter prints nothing itself.
class Interpreter {
public:
    /// Receives each top-level statement's outcome as soon as the statement has
    /// run; it may take the result and the lines out of it.
    using Report = std::function<void(StatementOutcome&)>;

    /// Starts with no built-ins: an embedding opens the libraries it wants.
    explicit Interpreter(host::CommandRegistry& registry);

    /// Adds a built-in, or replaces the one of the same name.
    void addBuiltin(Builtin builtin);
    /// The names of the built-ins, sorted.
    std::vector<std::string> builtinNames() const;
    bool hasBuiltin(const std::string& name) const { return builtins_.count(name) != 0; }
    /// What a call of `name` would find: a built-in, a procedure, a registered
    /// command, or a script on MAYA_SCRIPT_PATH named after it (looked for last).
    NameKind lookup(const std::string& name);

    void setLimits(const Limits& limits);
    const Limits& limits() const { return limits_; }
    /// A flag that, once set (by a signal handler), ends the running statement
    /// with "interrupted" and is cleared; one set between statements stops the next.
    void setInterruptFlag(volatile std::sig_atomic_t* flag) { interrupt_ = flag; }
    /// From now on, gives every statement's outcome its wall time (off at first).
    void timeStatements(bool on) { timeStatements_ = on; }
    /// From now on, reports a running statement's lines as they pile up, as
    /// outcomes holding only lines, before the statement's own outcome (off at
    /// first: a statement's lines are then held until it ends, to the output limit).
    void streamLines(bool on) { streamLines_ = on; }
    /// Makes the running source stop after the statement that is running.
    void requestStop() { stopRequested_ = true; }
    /// From now on, a top-level statement gives the value it has as it is, in
    /// its outcome's `value`: a built-in's or a procedure's (a command's result
    /// stays in `result`), and an expression's, an assignment's included (off at
    /// first: only calls give a result, converted to a command's, as a
    /// transcript shows it).
    void giveValues(bool on) { giveValues_ = on; }
    /// Whether a script ended the run (quit), and the exit status it asked for.
    bool runEnded() const { return runEnded_; }
    std::optional<int> endStatus() const { return endStatus_; }

    /// Checks the whole of `text` and, when it parses, defines its procedures
    /// and runs its top-level statements in order, handing each outcome to
    /// `report`. A syntax error is reported as one failing outcome with the
    /// error line "line L.C: what" and nothing of the text runs. Stops after
    /// the first failing statement unless `keepGoing`. `file` names the script
    /// file the text was read from, empty when it was given otherwise: whatIs
    /// names it for the procedures it defines. Returns true when every
    /// statement succeeded.
    bool runScript(
        std::string_view text, bool keepGoing, const Report& report, const std::string& file = std::string());

    /// Reads a source through `read` and runs each top-level statement as soon as
    /// the parser finds it complete (an `if` once the next word shows that no
    /// `else` follows). A syntax error fails that statement; with `keepGoing`
    /// reading goes on after the error's line. A statement longer than the
    /// script limit ends the source. `readFailed` tells whether reading ended
    /// with an error.
    bool runStream(const Read& read, bool keepGoing, const Report& report, bool& readFailed);

    /// Calls `name` as a top-level statement of that one call would, through the
    /// one lookup (a built-in, a procedure, a command), with `arguments` as the
    /// values of its arguments (a command gets them as text, an array element by
    /// element), and returns the call's outcome. Lines streamed while it runs
    /// are reported through `report` as outcomes of lines alone. The call stands
    /// on no line of a script, so its error lines name none. Throws only std::bad_alloc,
    /// when the arguments cannot be held.
    StatementOutcome call(const std::string& name, std::vector<Value> arguments, const Report& report);

    /// Defines `procedure` (replacing one of the same name).
    void define(std::shared_ptr<const Procedure> procedure);

private:
    class BuiltinCall;

    enum class Flow { Normal, Break, Continue, Return };

    /// Thrown once a failure's lines have been shown; `catchable` is false for
    /// the limits, which `catch` must not turn into a value.
    struct Failure {
        MStatus status;
        bool catchable;
    };

    /// What calling something gave.
    struct CallResult {
        bool fromCommand = false;
        host::CommandResult commandResult;  ///< When fromCommand.
        bool hasValue = false;
        Value value;
    };

    // Statements and expressions walked inside one another, procedure bodies
    // included: far more than scripts need, well within the stack.
    static constexpr int kMaxNesting = 6000;

    // Counts one level of walking, or of calls when `call` is set, for its lifetime.
    class DepthGuard {
    public:
        DepthGuard(Interpreter& interpreter, int line, bool call)
            : interpreter_(interpreter)
            , call_(call)
        {
            if (++interpreter_.nesting_ > kMaxNesting
                || (call_ && ++interpreter_.depth_ > interpreter_.limits_.callDepth
                    && interpreter_.limits_.callDepth > 0))
                interpreter_.failDepth(line, call_);
        }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
        ~DepthGuard()
        {
            --interpreter_.nesting_;
            if (call_)
                --interpreter_.depth_;
        }

    private:
        Interpreter& interpreter_;
        bool call_;
    };

    // Names the script file the statements run from now on come from, empty for
    // none (the command line, standard input, eval).
    void setScriptFile(std::string path) { sourcing_ = std::move(path); }
    // Runs the statements `reader` gives; false when one failed or did not parse.
    bool runStatements(StatementReader& reader, bool keepGoing, const Report& report);
    // When lines are streamed, hands those of the statement starting now to
    // `report` as they pile up, as outcomes of `command` holding only lines.
    void streamLinesTo(const Report& report, const std::string& command);
    // Checks the whole of `text`, defines its procedures and runs its statements;
    // a syntax error is one failing outcome, with `what` before it.
    bool runWhole(std::string_view text, bool keepGoing, const Report& report, const char* what);
    // Once a top-level source has ended: the scripts evalDeferred queued, each
    // as a source of its own, or none when the source stopped early.
    bool runDeferred(bool sourceSucceeded, bool keepGoing, const Report& report);
    StatementOutcome runStatement(const Stmt& statement);
    // Runs one top-level statement and fills `outcome`'s status and result: a
    // statement that only calls something takes the callee's result (a command's
    // as the command set it). Throws std::bad_alloc; nothing else.
    void runTopLevel(const Stmt& statement, StatementOutcome& outcome);
    // The lines shown since the last call, with `print` output among them.
    std::vector<Line> takeLines();
    // Hands the lines held so far on as an outcome of their own, when lines are streamed.
    void handOnLines();

    Flow exec(const Stmt& statement);
    Flow execBody(const std::vector<StmtPtr>& body, std::size_t first);
    Flow execLoopBody(const Stmt& statement, bool& stop);
    void execDeclaration(const Stmt& statement);
    Flow execSwitch(const Stmt& statement);
    Flow execForIn(const Stmt& statement);

    Value eval(const Expr& expression);
    /// The value of `expression` without a copy when it names a variable:
    /// the variable itself; otherwise `scratch`, holding the value.
    const Value& valueOf(const Expr& expression, Value& scratch);
    void evalDiscarded(const Expr& expression);
    Value evalUnary(const Expr& expression);
    Value evalBinary(const Expr& expression);
    // Operators deep enough for most arithmetic; a bound keeps a failed try cheap.
    static constexpr int kIntLevels = 3;
    bool intValue(const Expr& expression, int& value, int levels = kIntLevels);
    bool intChain(const Expr& expression, int& value, int levels);
    Value combine(Op op, const Value& left, const Value& right, int line);
    int combineInts(Op op, int left, int right, int line);
    Value combineVectors(Op op, const Value& left, const Value& right, int line);
    Value combineMatrices(Op op, const Value& left, const Value& right, int line);
    Value negate(const Value& operand, int line);
    Value evalArray(const Expr& expression);
    Value evalMatrix(const Expr& expression);
    Value evalIndex(const Expr& expression);
    double& matrixElement(const Expr& target, int line);
    Value assign(const Expr& expression, bool wanted);
    Value step(const Expr& expression);
    bool stepInt(const Expr& expression, int& result);
    bool truth(const Expr& expression);
    int indexOf(const Expr& expression);
    double number(const Value& value, int line, const char* where);

    CallResult invoke(const Expr& call);
    CallResult callProcedure(const Procedure& procedure, const Expr& call);
    CallResult callCommand(const Expr& call);
    CallResult callBuiltin(const Builtin& builtin, const Expr& call);
    CallResult runText(const std::string& text, int line, const char* what);
    bool autoLoad(const std::string& name, int line);
    void runFile(const std::string& path, int line);

    /// Assigns to `$name`, found through `slot` when given.
    void setVariable(const std::string& name, Value value, int line, VariableSlot* slot = nullptr);
    void setElement(const Expr& target, Value value, int line);
    void checkSize(std::size_t size, int line);
    void checkText(std::size_t size, int line);
    // A string against the string limit, an array against the array limit.
    void checkValue(const Value& value, int line);
    void checkResult(const host::CommandResult& result, int line);
    /// Counts a step; every so often looks at what may end the statement.
    void tick(int line)
    {
        if (--ticksLeft_ == 0)
            checkpoint(line);
    }
    // Ctrl-C, the step bound, the output and the memory held, looked at once a run of steps.
    void checkpoint(int line);
    void checkInterrupt(int line)
    {
        if (interrupt_ != nullptr && *interrupt_ != 0)
            failInterrupted(line);
    }
    [[noreturn]] void failInterrupted(int line);
    // The memory bound, looked at once a MemoryClock tick since the last look.
    void checkMemory(int line);
    [[noreturn]] void endRun(std::optional<int> status);
    // Out of line, so that the checks of tick and DepthGuard, made at every
    // step, stay small enough to be inlined.
    [[noreturn]] void failDepth(int line, bool call);
    void checkOutput(int line);

    [[noreturn]] void fail(int line, const std::string& what);
    [[noreturn]] void failLimit(int line, const std::string& what);

    host::CommandRegistry& registry_;
    std::unordered_map<std::string, Builtin> builtins_;
    SessionStore store_;  // what libraries keep: its files close with the session
    Limits limits_;
    volatile std::sig_atomic_t* interrupt_ = nullptr;
    bool timeStatements_ = false;
    bool streamLines_ = false;
    bool giveValues_ = false;
    bool stopRequested_ = false;
    bool runEnded_ = false;
    std::optional<int> endStatus_;
    std::uint64_t memoryLooked_ = ~std::uint64_t { 0 };  // the MemoryClock tick of the last look
    // Hands a running statement's lines on as they pile up, when streamed.
    std::function<void(std::vector<Line>&&)> lineSink_;
    std::uint64_t steps_ = 0;  // counted up to the last checkpoint
    unsigned ticksGranted_ = 1;  // the run of steps the last checkpoint allowed
    unsigned ticksLeft_ = 1;  // of that run
    int depth_ = 0;  // procedures, eval and source running inside one another
    int nesting_ = 0;  // statements and expressions being walked, for the stack
    Environment environment_;
    std::map<std::string, std::shared_ptr<const Procedure>> procedures_;
    std::unordered_map<std::string, std::string> procedureFiles_;  // those defined by a script file
    std::string sourcing_;  // the script file running, if any
    Value returnValue_;
};

}  // namespace mel
