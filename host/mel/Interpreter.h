#pragma once

#include "Builtin.h"
#include "Code.h"
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

    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;
    ~Interpreter();

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
    class MachineCall;
    struct Frame;

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

    /// How running a piece of code ended.
    struct Exit {
        enum class Kind { End, Return, Yield, Break, Continue } kind = Kind::End;
        std::int32_t reg = -1;  ///< Return: the value register (none when < 0); Yield: the register.
        Bank bank = Bank::Value;  ///< Yield: the register's bank.
        bool temporary = false;  ///< Yield: a register no variable holds, whose value may move out.
    };

    /// What a procedure or command call found before its arguments ran.
    struct PendingCall {
        const Procedure* procedure = nullptr;  ///< null: a command
    };

    // Statements and expressions walked inside one another, procedure bodies
    // included: far more than scripts need, well within the stack.
    static constexpr int kMaxNesting = 6000;

    // Counts `levels` of nesting, and one call when `call` is set, for its lifetime.
    class DepthGuard {
    public:
        DepthGuard(Interpreter& interpreter, int line, int levels, bool call)
            : interpreter_(interpreter)
            , levels_(levels)
            , call_(call)
        {
            interpreter_.nesting_ += levels_;
            if (interpreter_.nesting_ > kMaxNesting
                || (call_ && ++interpreter_.depth_ > interpreter_.limits_.callDepth
                    && interpreter_.limits_.callDepth > 0))
                interpreter_.failDepth(line, levels_, call_);
        }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
        ~DepthGuard()
        {
            interpreter_.nesting_ -= levels_;
            if (call_)
                --interpreter_.depth_;
        }

    private:
        Interpreter& interpreter_;
        int levels_;
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

    // ---- running compiled code (Machine.cpp)

    // Runs `code` from its start in a frame of its own at the top level (a
    // statement, or one of eval's or source's): the call it makes, when it
    // is a call statement, is the result.
    CallResult runCode(const Code& code);
    // Runs `frame`'s code from `pc` until it ends, returns or yields.
    Exit execute(Frame& frame, std::int32_t pc);
    void storeInstruction(const Code& code, const Instruction* in, Value* v, int line);
    void concatenate(const Code& code, const Instruction* in, const Scalar* s, Value* v, int line);
    void appendText(const Instruction* in, Value* v, int line);
    void makeArray(const Code& code, const Instruction* in, Value* v, int line);
    void variableAppend(const Code& code, const Instruction* in, Value* v, int line);
    void callInstruction(Frame& frame, const Instruction* in, std::int32_t pc);
    // Works out argument `i` of the built-in call `site`, from its code.
    Value argumentValue(Frame& frame, const CallSite& site, std::size_t i);
    CallResult call(Frame& frame, const CallSite& site, const PendingCall* pending);
    PendingCall prepareCall(const CallSite& site);
    // The procedure a script defined by the call's name, if any.
    const Procedure* definedProcedure(const CallSite& site);
    void checkArgumentCount(const CallSite& site, const Procedure& procedure);
    CallResult callBuiltin(Frame& frame, const CallSite& site);
    // How a procedure's call gave its value.
    enum class Returned { Nothing, Value, Number };
    // Calls `procedure`; its value in `result`, or in `number` when that is
    // given and the procedure returns a number of register bank `bank`.
    Returned callProcedure(Frame& frame, const CallSite& site, const Procedure& procedure, Value& result,
        Scalar* number = nullptr, Bank bank = Bank::Value);
    // A call compiled to give the number its procedure returned unboxed.
    void callForNumber(Frame& frame, const Instruction* in, const CallSite& site, const Procedure* procedure);
    bool callNumberDirectly(Frame& frame, const Instruction* in, std::int32_t pc);
    Returned resultOf(const Exit& exit, const Frame& callee, const CallSite& site, const Procedure& procedure,
        Value& result, Scalar* number, Bank bank);
    void takeNumber(Value value, Bank bank, Scalar& number, const CallSite& site);
    // The type of number the procedure defined as `name` returns, if it returns one.
    std::optional<Type> numberReturnedBy(const std::string& name) const;
    // Whether every procedure `code` took to return a number still does.
    bool assumptionsHold(const Code& code) const;
    void passArgument(
        const Value& value, const Procedure& procedure, std::size_t i, Register to, Frame& callee, int line);
    CallResult callCommand(Frame& frame, const CallSite& site);
    static Value registerValue(const Frame& frame, Register reg);
    // The value of the variable `reference` names, as reading it gives it.
    Value read(Frame& frame, const Reference& reference);
    // The variable itself, when it is declared and holds a value (not an
    // unboxed number); null otherwise.
    Value* place(Frame& frame, const Reference& reference);
    // Assigns to the variable `reference` names, as `$var = value` does.
    void write(Frame& frame, const Reference& reference, Value value);
    const Code& compiled(const Procedure& procedure);

    CallResult runText(const std::string& text, int line, const char* what);
    bool autoLoad(const std::string& name, int line);
    void runFile(const std::string& path, int line);

    // The shared operations of the language on values, with its wording of
    // each error (Operators.cpp).
    Value combine(Op op, const Value& left, const Value& right, int line);
    int combineInts(Op op, int left, int right, int line);
    Value combineVectors(Op op, const Value& left, const Value& right, int line);
    double number(const Value& value, int line, const char* where);
    bool truth(const Value& value, int line);
    int indexOf(const Value& value, int line);
    void checkIndex(int index, int line);
    Value negate(const Value& value, int line);
    Value stepped(const Value& value, int change, const char* op, int line);
    bool caseMatches(const Value& subject, const Value& label, int line);
    Value arrayOf(const std::vector<std::pair<const Value*, int>>& elements, int line);
    Value converted(Value value, const Conversion& conversion, int line);
    void assignInto(Value value, Value& variable, const Conversion& conversion, int line);
    [[noreturn]] void failConversion(
        const Value& value, const Value& to, const Conversion& conversion, int line);
    Value combineMatrices(Op op, const Value& left, const Value& right, int line);
    Value makeMatrix(const Code& code, const Instruction* in, const Scalar* s);
    // `$m[row][column]`, which must exist: a matrix does not grow.
    double& matrixElement(Value& matrix, int row, int column, const std::string& name, int line);
    // The variable names[`name`] of `code`, found by name, which must be declared.
    Value& variableNamed(const Code& code, std::int32_t name, int line);
    Value element(const Value& array, int index, const std::string& name, int line);
    void setElement(Value& array, int index, Value value, const std::string& name, int line);

    // Assigns to `$name`, found through `slot` when given: what `$name = value` does
    // for a variable found by name.
    void setVariable(const std::string& name, Value value, int line, VariableSlot* slot = nullptr);
    void declareVariable(const DeclarationInfo& declaration, Value value, int line);
    void setVariableElement(const std::string& name, int index, Value value, int line);
    void checkSize(std::size_t size, int line);
    void checkText(std::size_t size, int line);
    // A string against the string limit, an array against the array limit.
    void checkValue(const Value& value, int line);
    void checkResult(const host::CommandResult& result, int line);
    // Counts steps; every so often looks at what may end the statement.
    void tick(int steps, int line)
    {
        if ((ticksLeft_ -= steps) <= 0)
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
    [[noreturn]] void failDepth(int line, int levels, bool call);
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
    std::int64_t ticksGranted_ = 1;  // the run of steps the last checkpoint allowed
    std::int64_t ticksLeft_ = 1;  // of that run
    int depth_ = 0;  // procedures, eval and source running inside one another
    int nesting_ = 0;  // statements and expressions being walked, for the stack
    Environment environment_;
    std::map<std::string, std::shared_ptr<const Procedure>> procedures_;
    // Bumped at each definition, so that a call site's cached procedure is
    // looked up again only then.
    std::uint64_t procedureGeneration_ = 1;
    // Procedures replaced while a statement runs: running code may still be
    // theirs, so they go only when the statement ends.
    std::vector<std::shared_ptr<const Procedure>> replaced_;
    // And code compiled again because a procedure it calls changed its type.
    std::vector<std::shared_ptr<const Code>> recompiled_;
    std::unordered_map<std::string, std::string> procedureFiles_;  // those defined by a script file
    std::string sourcing_;  // the script file running, if any
    CallResult lastCall_;  // of the call statement running
    // Where frames' registers live: stacks of fixed blocks, so that a
    // register stays where it is while frames come and go above it.
    class RegisterStacks;
    std::unique_ptr<RegisterStacks> registers_;
};

}  // namespace mel
