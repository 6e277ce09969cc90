#include "Transcript.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

using host::CommandResult;
using EditorLine = mel::Line;
using host::LineKind;

mel::StatementOutcome withResult(CommandResult result)
{
    mel::StatementOutcome outcome;
    outcome.command = "cmd";
    outcome.result = std::move(result);
    return outcome;
}

struct ResultCase {
    const char* name;
    CommandResult result;
    std::string text;
    std::string json;
};

std::ostream& operator<<(std::ostream& out, const ResultCase& resultCase)
{
    return out << resultCase.name;
}

class ResultTest : public testing::TestWithParam<ResultCase> { };

TEST_P(ResultTest, FormatsAsTextAndJson)
{
    const ResultCase& expected = GetParam();
    std::string text;
    hostbatch::appendText(text, withResult(expected.result));
    EXPECT_EQ(text, expected.text);
    std::string json;
    hostbatch::appendJson(json, withResult(expected.result));
    EXPECT_EQ(json, R"({"command":"cmd","status":0,"result":)" + expected.json + R"(,"lines":[]})" + "\n");
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Results, ResultTest,
    testing::Values(ResultCase { "none", std::monostate {}, "", "null" },
        ResultCase { "int", 640, "// Result: 640 //\n", "640" },
        ResultCase { "negativeInt", -2147483647 - 1, "// Result: -2147483648 //\n", "-2147483648" },
        ResultCase { "double", 0.1, "// Result: 0.1 //\n", "0.1" },
        ResultCase { "wholeDouble", 3.0, "// Result: 3 //\n", "3" },
        ResultCase { "largeDouble", 1e21, "// Result: 1e+21 //\n", "1e+21" },
        ResultCase { "infinity", kInfinity, "// Result: inf //\n", "null" },
        ResultCase { "notANumber", std::numeric_limits<double>::quiet_NaN(), "// Result: nan //\n", "null" },
        ResultCase { "true", true, "// Result: 1 //\n", "true" },
        ResultCase { "false", false, "// Result: 0 //\n", "false" },
        ResultCase { "string", std::string("a \"b\""), "// Result: a \"b\" //\n", R"("a \"b\"")" },
        ResultCase { "emptyString", std::string(), "// Result:  //\n", R"("")" },
        ResultCase { "ints", std::vector<int> { 1, -2, 3 }, "// Result: 1 -2 3 //\n", "[1,-2,3]" },
        ResultCase { "emptyInts", std::vector<int> {}, "// Result:  //\n", "[]" },
        ResultCase {
            "strings", std::vector<std::string> { "a", "b c" }, "// Result: a b c //\n", R"(["a","b c"])" },
        ResultCase { "emptyStrings", std::vector<std::string> {}, "// Result:  //\n", "[]" }),
    [](const auto& info) { return std::string(info.param.name); });

struct EscapeCase {
    const char* name;
    std::string text;
    std::string json;
};

std::ostream& operator<<(std::ostream& out, const EscapeCase& escapeCase)
{
    return out << escapeCase.name;
}

class JsonStringTest : public testing::TestWithParam<EscapeCase> { };

TEST_P(JsonStringTest, EscapesWhatJsonRequires)
{
    std::string json;
    hostbatch::appendJsonString(json, GetParam().text);
    EXPECT_EQ(json, GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Escapes, JsonStringTest,
    testing::Values(EscapeCase { "plain", "abc", R"("abc")" },
        EscapeCase { "quoteAndBackslash", R"(a"b\c)", R"("a\"b\\c")" },
        EscapeCase { "shortEscapes", "a\nb\tc\rd", R"("a\nb\tc\rd")" },
        EscapeCase { "otherControls", std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")" },
        EscapeCase { "nulByte", std::string("a\0b", 3), R"("a\u0000b")" },
        EscapeCase { "validUtf8Passed", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x99\x82",
            "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x99\x82\"" },
        EscapeCase { "strayBytesEscaped", "\xff\xfe.png", R"("\udcff\udcfe.png")" },
        EscapeCase { "cutSequenceEscaped", "a\xe2\x82", R"("a\udce2\udc82")" },
        EscapeCase { "overlongEscaped", "\xc0\xaf", R"("\udcc0\udcaf")" },
        EscapeCase { "surrogateEscaped", "\xed\xa0\x80", R"("\udced\udca0\udc80")" },
        EscapeCase { "aboveUnicodeEscaped", "\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")" },
        EscapeCase { "slashKept", "a/b", R"("a/b")" }),
    [](const auto& info) { return std::string(info.param.name); });

mel::StatementOutcome withLines()
{
    mel::StatementOutcome outcome;
    outcome.command = "echoMessages";
    outcome.status = MS::kFailure;
    outcome.lines = {
        EditorLine { LineKind::Info, "some \"info\"" },
        EditorLine { LineKind::StatusPrint, "echoMessages: Unexpected Internal Failure" },
        EditorLine { LineKind::Warning, "a warning" },
        EditorLine { LineKind::Error, "an error" },
    };
    return outcome;
}

TEST(TranscriptLines, TextFramesErrorsAndWarningsAndLeavesStatusPrintsOut)
{
    std::string text;
    hostbatch::appendText(text, withLines());
    EXPECT_EQ(text, "some \"info\"\n// Warning: a warning //\n// Error: an error //\n");
}

TEST(TranscriptLines, JsonListsKindsInOrderAndLeavesStatusPrintsOut)
{
    std::string json;
    hostbatch::appendJson(json, withLines());
    EXPECT_EQ(json,
        R"({"command":"echoMessages","status":1,"result":null,"lines":[)"
        R"({"kind":"info","text":"some \"info\""},{"kind":"warning","text":"a warning"},)"
        R"({"kind":"error","text":"an error"}]})"
        "\n");
}

TEST(TranscriptLines, PrintOutputStaysInOrderAsItIs)
{
    mel::StatementOutcome outcome = withResult(std::monostate {});
    outcome.lines = { { LineKind::Output, "a" }, { LineKind::Warning, "w" }, { LineKind::Output, "b\n" } };
    std::string text;
    hostbatch::appendText(text, outcome);
    EXPECT_EQ(text, "a// Warning: w //\nb\n");
    std::string json;
    hostbatch::appendJson(json, outcome);
    EXPECT_EQ(json,
        R"({"command":"cmd","status":0,"result":null,"lines":[{"kind":"output","text":"a"},)"
        R"({"kind":"warning","text":"w"},{"kind":"output","text":"b\n"}]})"
        "\n");
}

// A drained transcript is the same text, handed over in chunks no larger than
// one chunk and a block.
TEST(TranscriptLines, LargeResultsAreDrainedInChunks)
{
    std::vector<int> values(1 << 20, 123);
    for (const bool json : { false, true }) {
        std::string whole;
        json ? hostbatch::appendJson(whole, withResult(values))
             : hostbatch::appendText(whole, withResult(values));
        hostbatch::TranscriptOut out;
        std::string drained;
        std::size_t largest = 0;
        out.drain = [&](std::string& text) {
            largest = std::max(largest, text.size());
            drained += text;
            text.clear();
        };
        json ? hostbatch::appendJson(out, withResult(values))
             : hostbatch::appendText(out, withResult(values));
        drained += out.text;
        EXPECT_EQ(drained, whole);
        EXPECT_GT(largest, 0u);
        EXPECT_LT(largest, hostbatch::TranscriptOut::kChunk + 32768);
    }
}

TEST(TranscriptLines, ResultFollowsTheLines)
{
    mel::StatementOutcome outcome = withResult(7);
    outcome.lines = { EditorLine { LineKind::Info, "computing" } };
    std::string text = "earlier\n";
    hostbatch::appendText(text, outcome);
    EXPECT_EQ(text, "earlier\ncomputing\n// Result: 7 //\n");
}

struct TimedCase {
    const char* name;
    CommandResult result;
    double milliseconds;
    std::string text;
    std::string json;
};

std::ostream& operator<<(std::ostream& out, const TimedCase& timedCase)
{
    return out << timedCase.name;
}

class TimedTest : public testing::TestWithParam<TimedCase> { };

TEST_P(TimedTest, TimeComesLastWithThreeDecimals)
{
    const TimedCase& expected = GetParam();
    mel::StatementOutcome outcome = withResult(expected.result);
    outcome.milliseconds = expected.milliseconds;
    std::string text;
    hostbatch::appendText(text, outcome);
    EXPECT_EQ(text, expected.text);
    std::string json;
    hostbatch::appendJson(json, outcome);
    EXPECT_EQ(json, R"({"command":"cmd","status":0,"result":)" + expected.json + "\n");
}

INSTANTIATE_TEST_SUITE_P(Times, TimedTest,
    testing::Values(TimedCase { "noResult", std::monostate {}, 0.0, "// Time: 0.000 ms //\n",
                        R"(null,"lines":[],"ms":0.000})" },
        TimedCase { "afterResult", 7, 12.3456, "// Result: 7 //\n// Time: 12.346 ms //\n",
            R"(7,"lines":[],"ms":12.346})" },
        TimedCase { "roundsDown", std::vector<int> { 1, 2 }, 1.0004,
            "// Result: 1 2 //\n// Time: 1.000 ms //\n", R"([1,2],"lines":[],"ms":1.000})" },
        TimedCase { "longRun", std::monostate {}, 61234.5, "// Time: 61234.500 ms //\n",
            R"(null,"lines":[],"ms":61234.500})" }),
    [](const auto& info) { return std::string(info.param.name); });

// Long enough to fill the printing block several times, with values on both
// sides of the small-number table and at the ends of int; the expected text is
// joined from std::to_string.
TEST(TranscriptResults, LongIntegerListsPrintEveryValue)
{
    const int edges[] = { 0, 9, 10, 99, 100, 999, 1000, 1001, -1, -999, 2147483647, -2147483647 - 1 };
    std::vector<int> values;
    for (int round = 0; round < 3000; ++round)
        values.push_back(round % 5 == 0 ? edges[round / 5 % 12] : round * 37 % 1300 - 150);
    std::string spaced;
    std::string commas;
    for (std::size_t i = 0; i < values.size(); ++i) {
        spaced += (i > 0 ? " " : "") + std::to_string(values[i]);
        commas += (i > 0 ? "," : "") + std::to_string(values[i]);
    }
    std::string text;
    hostbatch::appendText(text, withResult(values));
    EXPECT_EQ(text, "// Result: " + spaced + " //\n");
    std::string json;
    hostbatch::appendJson(json, withResult(values));
    EXPECT_EQ(json, R"({"command":"cmd","status":0,"result":[)" + commas + R"(],"lines":[]})" + "\n");
}

}  // namespace
