// Running sources: a script at hand or a stream at the top level, statement
// by statement with each outcome reported, and eval and source inside a
// running statement.
#include "Interpreter.h"

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
        const Expr* call = statement.kind == Stmt::Kind::Expression ? statement.expression.get() : nullptr;
        if (call != nullptr && (call->kind == Expr::Kind::Call || call->kind == Expr::Kind::Command)) {
            tick(statement.line);
            CallResult result = invoke(*call);
            if (result.fromCommand)
                outcome.result = std::move(result.commandResult);
            else if (result.hasValue && giveValues_)
                outcome.value = std::move(result.value);
            else if (result.hasValue)
                outcome.result = toCommandResult(std::move(result.value));
        } else if (giveValues_ && statement.kind == Stmt::Kind::Expression) {
            tick(statement.line);
            outcome.value = eval(*statement.expression);
        } else {
            const Flow flow = exec(statement);
            if (flow == Flow::Break || flow == Flow::Continue)
                fail(statement.line,
                    std::string(flow == Flow::Break ? "break" : "continue") + " outside a loop");
            if (flow == Flow::Return)
                fail(statement.line, "return outside a procedure");
        }
        outcome.status = MS::kSuccess;
    } catch (const Failure& failure) {
        outcome.status = failure.status;
    }
    environment_.leaveAll();
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
    const DepthGuard depth(*this, line, true);
    environment_.enterTopLevel();
    struct FramePop {
        Environment& environment;
        ~FramePop() { environment.leave(); }
    } pop { environment_ };
    CallResult result;
    StatementReader reader(text);
    StmtPtr statement;
    while (reader.next(statement) == StatementReader::Result::Statement) {
        const Expr* call = statement->kind == Stmt::Kind::Expression ? statement->expression.get() : nullptr;
        if (call != nullptr && (call->kind == Expr::Kind::Call || call->kind == Expr::Kind::Command)) {
            tick(statement->line);
            result = invoke(*call);
            continue;
        }
        result = CallResult();
        const Flow flow = exec(*statement);
        if (flow != Flow::Normal)
            fail(statement->line,
                std::string(what) + ": break, continue or return outside a loop or procedure");
    }
    return result;
}

}  // namespace mel
