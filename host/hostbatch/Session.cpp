#include "Session.h"

#include <host/ScriptEditor.h>
#include <maya/MArgList.h>
#include <maya/MString.h>

#include <chrono>
#include <utility>

namespace hostbatch {

namespace {

// The reason to show for a failure; the loader may leave its text empty.
std::string reasonFor(const std::string& error, const MStatus& status)
{
    return error.empty() ? std::string(status.errorString().asChar()) : error;
}

// A built-in takes exactly one argument; false after showing why not.
bool hasOneArgument(const Statement& statement, const char* what)
{
    if (statement.words.size() == 2)
        return true;
    host::ScriptEditor::show(
        host::LineKind::Error, statement.words.front() + ": expected one argument, " + what);
    return false;
}

}  // namespace

Session::Session()
    : loader_(registry_)
{
    host::ScriptEditor::take();  // lines from before the session belong to no statement
}

host::PluginLoader::LoadOutcome Session::loadPlugin(
    const std::string& path, std::vector<host::EditorLine>& lines)
{
    host::PluginLoader::LoadOutcome outcome = loader_.load(path);
    lines = host::ScriptEditor::take();
    return outcome;
}

StatementOutcome Session::run(const Statement& statement)
{
    const auto start = std::chrono::steady_clock::now();
    StatementOutcome outcome;
    const std::string& name = statement.words.front();
    if (name == "loadPlugin")
        outcome = runLoadPlugin(statement);
    else if (name == "unloadPlugin")
        outcome = runUnloadPlugin(statement);
    else
        outcome = runCommand(statement);
    outcome.command = name;
    outcome.lines = host::ScriptEditor::take();
    if (timeStatements_) {
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        outcome.milliseconds = elapsed.count();
    }
    return outcome;
}

bool Session::runScript(
    const std::string& sourceName, std::string_view text, bool keepGoing, const Report& report)
{
    const ParsedScript script = parseScript(text);
    if (!script.ok()) {
        StatementOutcome failure;
        failure.status = MS::kFailure;
        failure.lines.push_back(host::EditorLine { host::LineKind::Error,
            sourceName + ":" + std::to_string(script.errorLine) + ": " + script.error });
        report(failure);
        return false;
    }
    bool allSucceeded = true;
    for (const Statement& statement : script.statements) {
        const StatementOutcome outcome = run(statement);
        report(outcome);
        if (outcome.status)
            continue;
        allSucceeded = false;
        if (!keepGoing)
            break;
    }
    return allSucceeded;
}

StatementOutcome Session::runLoadPlugin(const Statement& statement)
{
    StatementOutcome outcome;
    if (!hasOneArgument(statement, "the plug-in's path")) {
        outcome.status = MS::kInvalidParameter;
        return outcome;
    }
    const host::PluginLoader::LoadOutcome load = loader_.load(statement.words[1]);
    outcome.status = load.status;
    if (!load.status)
        host::ScriptEditor::show(host::LineKind::Error, reasonFor(load.error, load.status));
    return outcome;
}

StatementOutcome Session::runUnloadPlugin(const Statement& statement)
{
    StatementOutcome outcome;
    if (!hasOneArgument(statement, "the plug-in's name")) {
        outcome.status = MS::kInvalidParameter;
        return outcome;
    }
    std::string error;
    outcome.status = loader_.unload(statement.words[1], error);
    if (!outcome.status)
        host::ScriptEditor::show(host::LineKind::Error, reasonFor(error, outcome.status));
    return outcome;
}

StatementOutcome Session::runCommand(const Statement& statement)
{
    MArgList args;
    for (std::size_t i = 1; i < statement.words.size(); ++i)
        args.addArg(MString(statement.words[i]));
    host::Invocation invocation = registry_.run(statement.words.front(), args);
    StatementOutcome outcome;
    outcome.status = invocation.status;
    outcome.result = std::move(invocation.result);
    return outcome;
}

}  // namespace hostbatch
