#include "Session.h"

#include "Lexer.h"
#include "Parser.h"

#include <host/ScriptEditor.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace hostbatch {

namespace {

std::vector<Line> fromEditor(std::vector<host::EditorLine> lines)
{
    std::vector<Line> converted;
    for (host::EditorLine& line : lines)
        converted.push_back(Line { hostbatch::fromEditor(line.kind), std::move(line.text) });
    return converted;
}

}  // namespace

Session::Session()
    : loader_(registry_)
    , interpreter_(registry_)
{
    host::ScriptEditor::take();  // lines from before the session belong to no statement
    // The loader belongs to the session: the interpreter knows these two only as rows.
    interpreter_.addBuiltin(Builtin { "loadPlugin", 1, 1, [this](Call& call) { loadOrUnload(call, true); } });
    interpreter_.addBuiltin(
        Builtin { "unloadPlugin", 1, 1, [this](Call& call) { loadOrUnload(call, false); } });
}

// loadPlugin "PATH or NAME" and unloadPlugin "NAME"; the loader's reason, or the
// status's when it gives none, is the error line.
void Session::loadOrUnload(Call& call, bool load)
{
    const std::string argument = call.text(0);
    MStatus status;
    std::string error;
    if (load) {
        const host::PluginLoader::LoadOutcome outcome = loader_.load(argument);
        status = outcome.status;
        error = outcome.error;
    } else {
        status = loader_.unload(argument, error);
    }
    if (status)
        return;
    host::ScriptEditor::show(
        host::LineKind::Error, error.empty() ? std::string(status.errorString().asChar()) : error);
    call.failShown(status);
}

host::PluginLoader::LoadOutcome Session::loadPlugin(const std::string& path, std::vector<Line>& lines)
{
    host::PluginLoader::LoadOutcome outcome = loader_.load(path);
    lines = fromEditor(host::ScriptEditor::take());
    return outcome;
}

StatementOutcome Session::runStatement(const Stmt& statement)
{
    const auto start = std::chrono::steady_clock::now();
    StatementOutcome outcome;
    outcome.command = statement.firstWord;
    try {
        interpreter_.runTopLevel(statement, outcome);
        outcome.lines = interpreter_.takeLines();
    } catch (const std::bad_alloc&) {
        outcome = StatementOutcome();
        outcome.command = statement.firstWord;
        outcome.status = MS::kFailure;
        outcome.lines = interpreter_.takeLines();
        outcome.lines.push_back(Line { LineKind::Error, "out of memory" });
    } catch (const std::length_error&) {
        outcome = StatementOutcome();
        outcome.command = statement.firstWord;
        outcome.status = MS::kFailure;
        outcome.lines = interpreter_.takeLines();
        outcome.lines.push_back(Line { LineKind::Error, "out of memory" });
    }
    if (timeStatements_) {
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        outcome.milliseconds = elapsed.count();
    }
    return outcome;
}

StatementOutcome Session::failureOf(const std::string& what)
{
    StatementOutcome failure;
    failure.status = MS::kFailure;
    failure.lines.push_back(Line { LineKind::Error, what });
    return failure;
}

bool Session::runStatements(StatementReader& reader, bool keepGoing, const Report& report)
{
    bool allSucceeded = true;
    while (true) {
        StmtPtr statement;
        StatementReader::Result next = StatementReader::Result::End;
        try {
            next = reader.next(statement);
        } catch (const std::bad_alloc&) {
            report(failureOf("out of memory"));
            return false;
        }
        if (next == StatementReader::Result::End)
            return allSucceeded;
        if (next == StatementReader::Result::Error) {
            if (reader.readFailed())
                return false;
            report(failureOf(reader.error()));
            allSucceeded = false;
            if (!keepGoing || stopRequested_ || !reader.skipError())
                return false;
            continue;
        }
        if (streamLines_)
            interpreter_.streamLines([&report, &statement](std::vector<Line>&& lines) {
                StatementOutcome piece;
                piece.command = statement->firstWord;
                piece.status = MS::kSuccess;
                piece.lines = std::move(lines);
                report(piece);
            });
        const StatementOutcome outcome = runStatement(*statement);
        interpreter_.streamLines(nullptr);
        statement.reset();
        report(outcome);
        if (!outcome.status)
            allSucceeded = false;
        if (stopRequested_ || (!outcome.status && !keepGoing))
            return false;
    }
}

bool Session::runScript(std::string_view text, bool keepGoing, const Report& report, const std::string& file)
{
    // Its procedures name the file, as those of a sourced file do.
    interpreter_.setScriptFile(file);
    const struct ForgetFile {
        Interpreter& interpreter;
        ~ForgetFile() { interpreter.setScriptFile(std::string()); }
    } forgetFile { interpreter_ };
    // Checked whole first, one statement at a time, so that a syntax error runs
    // nothing of it and a large source is never held as a whole tree; its
    // procedures are known before any of it runs.
    std::vector<std::shared_ptr<const Procedure>> procedures;
    {
        StatementReader check(text);
        StmtPtr statement;
        StatementReader::Result next = StatementReader::Result::End;
        try {
            while ((next = check.next(statement)) == StatementReader::Result::Statement)
                if (statement->kind == Stmt::Kind::Procedure)
                    procedures.push_back(statement->procedure);
        } catch (const std::bad_alloc&) {
            report(failureOf("out of memory"));
            return false;
        }
        if (next == StatementReader::Result::Error) {
            report(failureOf(check.error()));
            return false;
        }
    }
    for (auto& procedure : procedures)
        interpreter_.define(std::move(procedure));
    procedures.clear();
    StatementReader reader(text);
    return runStatements(reader, keepGoing, report);
}

bool Session::runStream(const Read& read, bool keepGoing, const Report& report, bool& readFailed)
{
    StatementReader reader(read, interpreter_.limits().sourceSize);
    const bool succeeded = runStatements(reader, keepGoing, report);
    readFailed = reader.readFailed();
    return succeeded;
}

}  // namespace hostbatch
