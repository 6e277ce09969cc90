// Running sources: a script at hand or a stream at the top level, statement
// by statement with each outcome reported, and eval and source inside a
// running statement.
#include "Interpreter.h"

#include "Compiler.h"
#include "ScriptFile.h"

#include <host/ScriptEditor.h>

#include <chrono>
#include <deque>
#include <new>
#include <stdexcept>
#include <utility>

namespace mel {

namespace {

void reportFailure(const Interpreter::Report& report, const std::string& what)
{
    StatementOutcome failure;
    failure.status = MS::kFailure;
    failure.lines.push_back(Line { host::LineKind::Error, what });
    report(failure);
}

}  // namespace

bool Interpreter::runScript(
    std::string_view text, bool keepGoing, const Report& report, const std::string& file)
{
    bool succeeded = false;
    {
        // Its procedures name the file, as those of a sourced file do.
        setScriptFile(file);
        const struct ForgetFile {
            Interpreter& interpreter;
            ~ForgetFile() { interpreter.setScriptFile(std::string()); }
        } forgetFile { *this };
        succeeded = runWhole(text, keepGoing, report, "");
    }
    return runDeferred(succeeded, keepGoing, report);
}

bool Interpreter::runWhole(std::string_view text, bool keepGoing, const Report& report, const char* what)
{
    std::vector<std::shared_ptr<const Procedure>> procedures;
    std::string error;
    try {
        if (!hoistProcedures(text, procedures, error)) {
            reportFailure(report, what + error);
            return false;
        }
    } catch (const std::bad_alloc&) {
        reportFailure(report, "out of memory");
        return false;
    }
    for (auto& procedure : procedures)
        define(std::move(procedure));
    procedures.clear();
    StatementReader reader(text);
    return runStatements(reader, keepGoing, report);
}

bool Interpreter::runStream(const Read& read, bool keepGoing, const Report& report, bool& readFailed)
{
    StatementReader reader(read, limits_.sourceSize);
    const bool succeeded = runStatements(reader, keepGoing, report);
    readFailed = reader.readFailed();
    return runDeferred(succeeded && !readFailed, keepGoing && !readFailed, report);
}

// A batch host has no idle time: what evalDeferred queued runs once the source
// it was queued in has ended, as the host runs it once the script is done.
bool Interpreter::runDeferred(bool sourceSucceeded, bool keepGoing, const Report& report)
{
    std::deque<DeferredScripts::Script>& deferred = store_.get<DeferredScripts>().scripts;
    // A source that stopped early (at a failure, or when asked) ran only in part.
    bool allSucceeded = sourceSucceeded;
    if (!sourceSucceeded && !keepGoing)
        deferred.clear();
    while (!deferred.empty() && !stopRequested_) {
        const std::string text = std::move(deferred.front().text);
        deferred.pop_front();
        if (runWhole(text, keepGoing, report, "evalDeferred: "))
            continue;
        allSucceeded = false;
        if (!keepGoing || stopRequested_)
            break;
    }
    deferred.clear();
    return allSucceeded;
}

bool Interpreter::runStatements(StatementReader& reader, bool keepGoing, const Report& report)
{
    bool allSucceeded = true;
    while (true) {
        StmtPtr statement;
        StatementReader::Result next = StatementReader::Result::End;
        try {
            next = reader.next(statement);
        } catch (const std::bad_alloc&) {
            reportFailure(report, "out of memory");
            return false;
        }
        if (next == StatementReader::Result::End)
            return allSucceeded;
        if (next == StatementReader::Result::Error) {
            if (reader.readFailed())
                return false;
            reportFailure(report, reader.error());
            allSucceeded = false;
            if (!keepGoing || stopRequested_ || !reader.skipError())
                return false;
            continue;
        }
        streamLinesTo(report, statement->firstWord);
        StatementOutcome outcome = runStatement(*statement);
        lineSink_ = nullptr;
        statement.reset();
        report(outcome);
        if (!outcome.status)
            allSucceeded = false;
        if (stopRequested_ || (!outcome.status && !keepGoing))
            return allSucceeded;
    }
}

void Interpreter::streamLinesTo(const Report& report, const std::string& command)
{
    if (!streamLines_)
        return;
    lineSink_ = [&report, &command](std::vector<Line>&& lines) {
        StatementOutcome piece;
        piece.command = command;
        piece.status = MS::kSuccess;
        piece.lines = std::move(lines);
        report(piece);
    };
}

StatementOutcome Interpreter::runStatement(const Stmt& statement)
{
    const auto start = std::chrono::steady_clock::now();
    StatementOutcome outcome;
    outcome.command = statement.firstWord;
    // What ran out of memory shows the lines it had shown, then says so.
    const auto outOfMemory = [this, &statement] {
        StatementOutcome failed;
        failed.command = statement.firstWord;
        failed.status = MS::kFailure;
        failed.lines = takeLines();
        failed.lines.push_back(Line { host::LineKind::Error, "out of memory" });
        return failed;
    };
    try {
        runTopLevel(statement, outcome);
        outcome.lines = takeLines();
    } catch (const std::bad_alloc&) {
        outcome = outOfMemory();
    } catch (const std::length_error&) {
        outcome = outOfMemory();
    }
    if (timeStatements_) {
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        outcome.milliseconds = elapsed.count();
    }
    return outcome;
}

void Interpreter::runTopLevel(const Stmt& statement, StatementOutcome& outcome)
{
    steps_ = 0;
    ticksGranted_ = ticksLeft_ = 1;
    environment_.leaveAll();
    environment_.enterTopLevel();
    try {
        CallResult result = runCode(*compileStatement(
            statement, CodeKind::TopLevel, std::string(), builtins_,
            [this](const std::string& name) { return numberReturnedBy(name); },
            [this](const std::string& name) { return environment_.global(name); }, giveValues_));
        if (result.fromCommand)
            outcome.result = std::move(result.commandResult);
        else if (result.hasValue && giveValues_)
            outcome.value = std::move(result.value);
        else if (result.hasValue)
            outcome.result = toCommandResult(std::move(result.value));
        outcome.status = MS::kSuccess;
    } catch (const Failure& failure) {
        outcome.status = failure.status;
    }
    environment_.leaveAll();
    // Nothing runs now: the procedures it replaced can go.
    replaced_.clear();
    recompiled_.clear();
}

std::vector<Line> Interpreter::takeLines()
{
    return host::ScriptEditor::take();
}

void Interpreter::handOnLines()
{
    if (lineSink_)
        lineSink_(takeLines());
}

void Interpreter::runFile(const std::string& path, int line)
{
    std::string text;
    std::string error;
    if (!readScriptFile(path, limits_.sourceSize, text, error))
        fail(line, error);
    struct Restore {
        std::string& sourcing;
        std::string previous;
        ~Restore() { sourcing = std::move(previous); }
    } restore { sourcing_, std::exchange(sourcing_, path) };
    runText(text, line, "source");
}

// Parses and runs `text` at the top level, as eval and source do; the value is
// that of its last statement when that statement called something.
Interpreter::CallResult Interpreter::runText(const std::string& text, int line, const char* what)
{
    // Checked whole first, as a script file is: a syntax error runs nothing.
    std::vector<std::shared_ptr<const Procedure>> procedures;
    std::string error;
    if (!hoistProcedures(text, procedures, error))
        fail(line, std::string(what) + ": " + error);
    for (auto& procedure : procedures)
        define(std::move(procedure));
    const DepthGuard depth(*this, line, 1, true);
    environment_.enterTopLevel();
    struct FramePop {
        Environment& environment;
        ~FramePop() { environment.leave(); }
    } pop { environment_ };
    CallResult result;
    StatementReader reader(text);
    StmtPtr statement;
    while (reader.next(statement) == StatementReader::Result::Statement)
        result = runCode(*compileStatement(
            *statement, CodeKind::Text, what, builtins_,
            [this](const std::string& name) { return numberReturnedBy(name); },
            [this](const std::string& name) { return environment_.global(name); }));
    return result;
}

namespace {

// An expression whose value is `value`, as a literal of a script would give it.
ExprPtr literalOf(Value&& value)
{
    auto literal = std::make_unique<Expr>();
    switch (value.type()) {
    case Type::Int:
        literal->kind = Expr::Kind::Int;
        literal->number = std::get<int>(value);
        break;
    case Type::Float:
        literal->kind = Expr::Kind::Float;
        literal->real = std::get<double>(value);
        break;
    case Type::String:
        literal->kind = Expr::Kind::String;
        literal->text = std::get<std::string>(std::move(value));
        break;
    case Type::Vector: {
        literal->kind = Expr::Kind::Vector;
        const Vector3& vector = std::get<Vector3>(value);
        for (const double component : { vector.x, vector.y, vector.z })
            literal->operands.push_back(literalOf(Value(component)));
        break;
    }
    default:  // an array: a literal of its elements
        literal->kind = Expr::Kind::Array;
        for (std::size_t i = 0; i < value.size(); ++i)
            literal->operands.push_back(literalOf(value.element(i)));
        break;
    }
    return literal;
}

}  // namespace

StatementOutcome Interpreter::call(
    const std::string& name, std::vector<Value> arguments, const Report& report)
{
    auto call = std::make_unique<Expr>();
    call->kind = Expr::Kind::Call;
    call->text = name;
    for (Value& argument : arguments)
        call->operands.push_back(literalOf(std::move(argument)));
    arguments.clear();
    Stmt statement;
    statement.kind = Stmt::Kind::Expression;
    statement.firstWord = name;
    statement.expression = std::move(call);
    streamLinesTo(report, statement.firstWord);
    StatementOutcome outcome = runStatement(statement);
    lineSink_ = nullptr;
    return outcome;
}

}  // namespace mel
