// What the end-to-end transcripts cannot show: the arguments a command
// receives, the status prints kept with a statement, and the built-ins'
// argument checks.
#include "Session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using host::EditorLine;
using host::LineKind;

class SessionWithEcho : public testing::Test {
protected:
    void SetUp() override
    {
        std::vector<EditorLine> lines;
        const host::PluginLoader::LoadOutcome load = session.loadPlugin(ECHO_PLUGIN, lines);
        ASSERT_TRUE(load.status) << load.error;
        EXPECT_TRUE(lines.empty());
    }

    std::vector<hostbatch::StatementOutcome> runScript(const std::string& text)
    {
        std::vector<hostbatch::StatementOutcome> outcomes;
        session.runScript("test.mel", text, true,
            [&outcomes](const hostbatch::StatementOutcome& outcome) { outcomes.push_back(outcome); });
        return outcomes;
    }

    hostbatch::Session session;
};

TEST_F(SessionWithEcho, PassesUnquotedArgumentsToTheCommand)
{
    const auto outcomes = runScript(R"(echoStrings -f "a\tb" "" "c;d" -5)");
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].command, "echoStrings");
    EXPECT_EQ(outcomes[0].status, MS::kSuccess);
    EXPECT_EQ(
        outcomes[0].result, host::CommandResult(std::vector<std::string> { "-f", "a\tb", "", "c;d", "-5" }));
}

TEST_F(SessionWithEcho, KeepsEachStatementsLinesApartWithItsStatusPrints)
{
    const auto outcomes = runScript("echoMessages; echoNothing");
    ASSERT_EQ(outcomes.size(), 2u);
    const std::vector<EditorLine> expected = {
        { LineKind::Info, "echoMessages: some information" },
        { LineKind::Warning, "echoMessages: a warning" },
        { LineKind::Error, "echoMessages: an error" },
        { LineKind::StatusPrint, "echoMessages: Unexpected Internal Failure" },
    };
    EXPECT_EQ(outcomes[0].lines, expected);
    EXPECT_TRUE(outcomes[1].lines.empty());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(outcomes[1].result));
}

TEST_F(SessionWithEcho, TimesStatementsOnlyWhenAsked)
{
    const auto untimed = runScript("echoInt 1; loadPlugin");
    ASSERT_EQ(untimed.size(), 2u);
    EXPECT_FALSE(untimed[0].milliseconds.has_value());
    EXPECT_FALSE(untimed[1].milliseconds.has_value());

    session.timeStatements(true);
    const auto timed = runScript("echoInt 1; loadPlugin; unknownCommand");
    ASSERT_EQ(timed.size(), 3u);
    for (const hostbatch::StatementOutcome& outcome : timed) {
        ASSERT_TRUE(outcome.milliseconds.has_value()) << outcome.command;
        EXPECT_GE(*outcome.milliseconds, 0.0) << outcome.command;
    }
}

struct BuiltinCase {
    const char* name;
    std::vector<std::string> words;
    std::string error;
};

std::ostream& operator<<(std::ostream& out, const BuiltinCase& builtinCase)
{
    return out << builtinCase.name;
}

class BuiltinArguments : public testing::TestWithParam<BuiltinCase> { };

TEST_P(BuiltinArguments, RefuseAnythingButOneArgument)
{
    hostbatch::Session session;
    const BuiltinCase& expected = GetParam();
    const hostbatch::StatementOutcome outcome = session.run(hostbatch::Statement { expected.words, 1 });
    EXPECT_EQ(outcome.command, expected.words.front());
    EXPECT_EQ(outcome.status, MS::kInvalidParameter);
    EXPECT_EQ(outcome.lines, (std::vector<EditorLine> { { LineKind::Error, expected.error } }));
}

INSTANTIATE_TEST_SUITE_P(Builtins, BuiltinArguments,
    testing::Values(BuiltinCase { "loadWithoutPath", { "loadPlugin" },
                        "loadPlugin: expected one argument, the plug-in's path" },
        BuiltinCase { "loadTwoPaths", { "loadPlugin", "a.so", "b.so" },
            "loadPlugin: expected one argument, the plug-in's path" },
        BuiltinCase { "unloadWithoutName", { "unloadPlugin" },
            "unloadPlugin: expected one argument, the plug-in's name" },
        BuiltinCase { "unloadTwoNames", { "unloadPlugin", "a", "b" },
            "unloadPlugin: expected one argument, the plug-in's name" }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
