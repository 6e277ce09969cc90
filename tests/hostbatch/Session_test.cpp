#include "Session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using host::EditorLine;
using host::LineKind;

hostbatch::Statement statement(std::vector<std::string> words)
{
    return hostbatch::Statement { std::move(words), 1 };
}

// Runs `text` and keeps every outcome reported.
struct ScriptRun {
    bool succeeded = false;
    std::vector<hostbatch::StatementOutcome> outcomes;

    std::vector<std::string> commands() const
    {
        std::vector<std::string> names;
        for (const hostbatch::StatementOutcome& outcome : outcomes)
            names.push_back(outcome.command);
        return names;
    }
};

ScriptRun runScript(hostbatch::Session& session, const std::string& text, bool keepGoing)
{
    ScriptRun run;
    run.succeeded = session.runScript("test.mel", text, keepGoing,
        [&run](const hostbatch::StatementOutcome& outcome) { run.outcomes.push_back(outcome); });
    return run;
}

class SessionWithEcho : public testing::Test {
protected:
    void SetUp() override
    {
        std::vector<EditorLine> lines;
        const host::PluginLoader::LoadOutcome load = session.loadPlugin(ECHO_PLUGIN, lines);
        ASSERT_TRUE(load.status) << load.error;
        EXPECT_TRUE(lines.empty());
    }

    hostbatch::Session session;
};

TEST_F(SessionWithEcho, PassesUnquotedArgumentsToTheCommand)
{
    const ScriptRun run = runScript(session, R"(echoStrings -f "a\tb" "" "c;d")", false);
    ASSERT_TRUE(run.succeeded);
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.outcomes[0].command, "echoStrings");
    EXPECT_EQ(
        run.outcomes[0].result, host::CommandResult(std::vector<std::string> { "-f", "a\tb", "", "c;d" }));
}

TEST_F(SessionWithEcho, StopsAfterTheFirstFailure)
{
    const ScriptRun run = runScript(session, "echoInt 1; echoMessages; echoInt 2", false);
    EXPECT_FALSE(run.succeeded);
    EXPECT_EQ(run.commands(), (std::vector<std::string> { "echoInt", "echoMessages" }));
    EXPECT_EQ(run.outcomes[1].status, MS::kFailure);
}

TEST_F(SessionWithEcho, KeepsGoingWhenAskedAndStillFails)
{
    const ScriptRun run = runScript(session, "echoInt 1; echoThrow; echoInt 2", true);
    EXPECT_FALSE(run.succeeded);
    EXPECT_EQ(run.commands(), (std::vector<std::string> { "echoInt", "echoThrow", "echoInt" }));
    EXPECT_EQ(run.outcomes[2].result, host::CommandResult(2));
}

TEST_F(SessionWithEcho, KeepsEachStatementsLinesApart)
{
    const ScriptRun run = runScript(session, "echoMessages; echoNothing", true);
    ASSERT_EQ(run.outcomes.size(), 2u);
    const std::vector<EditorLine> expected = {
        { LineKind::Info, "echoMessages: some information" },
        { LineKind::Warning, "echoMessages: a warning" },
        { LineKind::Error, "echoMessages: an error" },
        { LineKind::StatusPrint, "echoMessages: Unexpected Internal Failure" },
    };
    EXPECT_EQ(run.outcomes[0].lines, expected);
    EXPECT_TRUE(run.outcomes[1].lines.empty());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(run.outcomes[1].result));
}

TEST_F(SessionWithEcho, SyntaxErrorRunsNothingOfTheScript)
{
    const ScriptRun run = runScript(session, "echoInt 1\necho \"open", true);
    EXPECT_FALSE(run.succeeded);
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_EQ(run.outcomes[0].command, "");
    EXPECT_EQ(run.outcomes[0].status, MS::kFailure);
    EXPECT_EQ(run.outcomes[0].lines,
        (std::vector<EditorLine> { { LineKind::Error, "test.mel:2: unterminated string" } }));
}

TEST_F(SessionWithEcho, CommandsAreUnknownAfterUnload)
{
    const hostbatch::StatementOutcome unload = session.run(statement({ "unloadPlugin", "echo_plugin" }));
    EXPECT_EQ(unload.status, MS::kSuccess);
    EXPECT_TRUE(unload.lines.empty());
    const hostbatch::StatementOutcome after = session.run(statement({ "echoInt", "1" }));
    EXPECT_EQ(after.status, MS::kNotFound);
    EXPECT_EQ(after.lines.size(), 1u);
}

TEST_F(SessionWithEcho, LoadingTheSamePluginTwiceFails)
{
    const hostbatch::StatementOutcome again = session.run(statement({ "loadPlugin", ECHO_PLUGIN }));
    EXPECT_EQ(again.status, MS::kFailure);
    ASSERT_EQ(again.lines.size(), 1u);
    EXPECT_EQ(again.lines[0].kind, LineKind::Error);
}

struct BuiltinCase {
    const char* name;
    std::vector<std::string> words;
    MStatus::MStatusCode status;
    std::string error;  // empty: any error text, from the loader or registry
};

std::ostream& operator<<(std::ostream& out, const BuiltinCase& builtinCase)
{
    return out << builtinCase.name;
}

class SessionFailure : public testing::TestWithParam<BuiltinCase> { };

TEST_P(SessionFailure, ShowsOneErrorLineAndFails)
{
    hostbatch::Session session;
    const BuiltinCase& expected = GetParam();
    const hostbatch::StatementOutcome outcome = session.run(statement(expected.words));
    EXPECT_EQ(outcome.command, expected.words.front());
    EXPECT_EQ(outcome.status, expected.status);
    ASSERT_EQ(outcome.lines.size(), 1u);
    EXPECT_EQ(outcome.lines[0].kind, LineKind::Error);
    EXPECT_FALSE(outcome.lines[0].text.empty());
    if (!expected.error.empty()) {
        EXPECT_EQ(outcome.lines[0].text, expected.error);
    }
    EXPECT_TRUE(std::holds_alternative<std::monostate>(outcome.result));
}

INSTANTIATE_TEST_SUITE_P(Builtins, SessionFailure,
    testing::Values(BuiltinCase { "unknownCommand", { "noSuchCommand", "1" }, MS::kNotFound, "" },
        BuiltinCase { "loadMissingFile", { "loadPlugin", "./no/such/plugin.so" }, MS::kNotFound, "" },
        BuiltinCase { "loadWithoutPath", { "loadPlugin" }, MS::kInvalidParameter,
            "loadPlugin: expected one argument, the plug-in's path" },
        BuiltinCase { "loadTwoPaths", { "loadPlugin", "a.so", "b.so" }, MS::kInvalidParameter,
            "loadPlugin: expected one argument, the plug-in's path" },
        BuiltinCase { "unloadWithoutName", { "unloadPlugin" }, MS::kInvalidParameter,
            "unloadPlugin: expected one argument, the plug-in's name" },
        BuiltinCase { "unloadNotLoaded", { "unloadPlugin", "echo_plugin" }, MS::kNotFound, "" }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
