#pragma once

#include "SessionStore.h"
#include "Value.h"

#include <maya/MStatus.h>

#include <cstddef>
#include <cstdlib>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace mel {

/// What a name stands for, in the order the one lookup tries them.
enum class NameKind { None, Builtin, Procedure, Command, Script };

/// One call of a built-in, as the built-in sees it: its arguments, read one at a
/// time in the way it needs them, and the one place its value goes. The
/// interpreter checked the argument count against the built-in's row already.
class Call {
public:
    virtual ~Call() = default;

    virtual const std::string& name() const = 0;
    virtual int line() const = 0;
    virtual std::size_t count() const = 0;

    /// Argument `i`'s value.
    virtual Value value(std::size_t i) = 0;
    /// Argument `i`'s value without a copy when it is a variable (the variable
    /// itself), else held in `scratch`.
    virtual const Value& valueOf(std::size_t i, Value& scratch) = 0;
    /// Argument `i` as text; an array there is an error.
    virtual std::string text(std::size_t i) = 0;
    /// Argument `i` as a number; a string or an array there is an error.
    virtual double number(std::size_t i) = 0;
    int integer(std::size_t i) { return truncatedInt(number(i)); }
    /// Assigns to argument `i`, which must be a variable (declared by this when
    /// it is not), as `$var = value` does.
    virtual void assign(std::size_t i, Value value) = 0;
    /// Evaluates argument `i`, unevaluated so far; false when it failed in a way
    /// `catch` turns into a value. `quiet` drops the error lines it showed.
    virtual bool attempt(std::size_t i, bool quiet) = 0;

    /// The call's value; a string or an array past its limit is an error.
    virtual void give(Value value) = 0;
    /// Fails unless `size` elements of an array are within the array limit.
    virtual void checkSize(std::size_t size) = 0;
    /// Fails unless `size` bytes of a string are within the string limit.
    virtual void checkText(std::size_t size) = 0;
    /// Runs script text at the top level of the session, as eval and source do;
    /// with `giveValue`, the call's value is that of its last statement when that
    /// called something.
    virtual void runText(const std::string& text, const char* what, bool giveValue) = 0;
    /// Reads the script file at `path` (a regular file within the script limit)
    /// and runs it as source does.
    virtual void runFile(const std::string& path) = 0;
    /// What `name` stands for, found as a call of it would find it.
    virtual NameKind lookup(const std::string& name) = 0;
    /// The script file that defined the procedure `name`; empty when it was
    /// defined otherwise (on the command line, standard input, eval); "the
    /// standard library" for one of the library's own procedures.
    virtual std::string procedureFile(const std::string& name) = 0;
    /// The type of the variable `$name` in reach of the call, if declared.
    virtual std::optional<Type> variableType(const std::string& name) = 0;
    /// Fails the call with "interrupted", as Ctrl-C ends a statement, once
    /// Ctrl-C has been pressed: a built-in that waits or works long looks here
    /// now and then.
    virtual void checkInterrupt() = 0;
    /// Ends the running top-level statement at once, as a success that catch
    /// does not stop, and the run with it (quit): the source stops there, no
    /// deferred script runs, and the interpreter's runEnded() and endStatus()
    /// tell the program, with `status` the exit status asked for, if any.
    [[noreturn]] virtual void endRun(std::optional<int> status) = 0;

    /// Shows "line L: what" as an error and fails the call.
    [[noreturn]] void fail(const std::string& what)
    {
        raise(&what, MS::kFailure);
        std::abort();  // raise always throws
    }
    /// Fails the call with `status` once its lines have been shown.
    [[noreturn]] void failShown(MStatus status)
    {
        raise(nullptr, status);
        std::abort();
    }

    /// What the libraries keep between calls, for the session.
    virtual SessionStore& store() = 0;

protected:
    /// Throws the interpreter's failure: with `what`, after showing "line L: what".
    virtual void raise(const std::string* what, MStatus status) = 0;
};

/// The scripts evalDeferred has queued, kept in the session store, in the
/// order they run: the interpreter runs them, one after another, as top-level
/// sources of their own once the top-level source running has ended.
struct DeferredScripts {
    struct Script {
        std::string text;
        int priority = 0;  ///< 0 normal, 1 low, 2 lowest: a queue is kept in this order.
    };
    std::deque<Script> scripts;
};

/// A built-in's body.
using BuiltinFunction = std::function<void(Call&)>;

/// One row of the built-in table. The interpreter checks the argument count
/// before `run` is called; `most` is kAnyCount for no upper bound.
struct Builtin {
    /// A command of the host, or one of the procedures the host ships as
    /// scripts (`stringArrayContains`...), here written into the library: a
    /// procedure a script defines by its name takes its place, and whatIs
    /// names it as a procedure.
    enum class Kind { Command, Procedure };

    std::string name;
    int fewest = 0;
    int most = 0;
    BuiltinFunction run;
    Kind kind = Kind::Command;

    static constexpr int kAnyCount = -1;
};

}  // namespace mel
