#include "Script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<Words> statements;
    std::vector<int> lines;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& parseCase)
{
    return out << parseCase.name;
}

class ParseTest : public testing::TestWithParam<ParseCase> { };

TEST_P(ParseTest, GivesTheStatementsAndTheirLines)
{
    const ParseCase& expected = GetParam();
    const hostbatch::ParsedScript parsed = hostbatch::parseScript(expected.text);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    std::vector<Words> statements;
    std::vector<int> lines;
    for (const hostbatch::Statement& statement : parsed.statements) {
        statements.push_back(statement.words);
        lines.push_back(statement.line);
    }
    EXPECT_EQ(statements, expected.statements);
    EXPECT_EQ(lines, expected.lines);
}

INSTANTIATE_TEST_SUITE_P(Separators, ParseTest,
    testing::Values(ParseCase { "empty", "", {}, {} },
        ParseCase { "oneWord", "echoNothing", { { "echoNothing" } }, { 1 } },
        ParseCase { "wordsAndFlags", "cmd -f 12 -x -5", { { "cmd", "-f", "12", "-x", "-5" } }, { 1 } },
        ParseCase { "semicolons", "a 1; b 2;c", { { "a", "1" }, { "b", "2" }, { "c" } }, { 1, 1, 1 } },
        ParseCase { "lineEnds", "a\nb x\n\nc", { { "a" }, { "b", "x" }, { "c" } }, { 1, 2, 4 } },
        ParseCase { "emptyStatements", ";; ;\n\n  \t;a;;", { { "a" } }, { 3 } },
        ParseCase { "carriageReturns", "a 1\r\nb\r\n", { { "a", "1" }, { "b" } }, { 1, 2 } },
        ParseCase { "tabsAndSpaces", " \t a \t b ", { { "a", "b" } }, { 1 } }),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Comments, ParseTest,
    testing::Values(ParseCase { "lineComment", "a // b; c\nd", { { "a" }, { "d" } }, { 1, 2 } },
        ParseCase { "lineCommentOnly", "// nothing here", {}, {} },
        ParseCase { "commentEndsWord", "a//b", { { "a" } }, { 1 } },
        ParseCase { "singleSlashIsPartOfWord", "load dir/file.so", { { "load", "dir/file.so" } }, { 1 } },
        ParseCase { "blockComment", "a /* b; c */ d", { { "a", "d" } }, { 1 } },
        ParseCase { "blockCommentSpansLines", "/* one\ntwo\n*/ a\nb", { { "a" }, { "b" } }, { 3, 4 } },
        // A line end inside a block comment does not end the statement around it.
        ParseCase { "statementAroundBlockComment", "a /*\n*/ b", { { "a", "b" } }, { 1 } },
        ParseCase { "blockCommentEndsWord", "a/*x*/b", { { "a", "b" } }, { 1 } },
        ParseCase {
            "commentMarksInString", "a \"// not /* a comment\"", { { "a", "// not /* a comment" } }, { 1 } }),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Strings, ParseTest,
    testing::Values(ParseCase { "quoted", "a \"b c\"", { { "a", "b c" } }, { 1 } },
        ParseCase { "emptyString", "a \"\"", { { "a", "" } }, { 1 } },
        ParseCase { "separatorsInString", "a \"x; y\"", { { "a", "x; y" } }, { 1 } },
        ParseCase { "escapes", R"(a "q\" b\\ n\n t\t")", { { "a", "q\" b\\ n\n t\t" } }, { 1 } },
        ParseCase { "quoteEndsWord", "a\"b\"c", { { "a", "b", "c" } }, { 1 } },
        ParseCase { "flagLikeString", "cmd -f \"-name\"", { { "cmd", "-f", "-name" } }, { 1 } },
        ParseCase { "quotedCommandName", "\"echo\" 1", { { "echo", "1" } }, { 1 } },
        ParseCase { "highBytesKept", "a \"\xc3\xa9\"", { { "a", "\xc3\xa9" } }, { 1 } }),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    std::string text;
    std::string error;
    int line;
};

std::ostream& operator<<(std::ostream& out, const ErrorCase& errorCase)
{
    return out << errorCase.name;
}

class ParseErrorTest : public testing::TestWithParam<ErrorCase> { };

TEST_P(ParseErrorTest, ReportsTheErrorAndNoStatements)
{
    const ErrorCase& expected = GetParam();
    const hostbatch::ParsedScript parsed = hostbatch::parseScript(expected.text);
    EXPECT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error, expected.error);
    EXPECT_EQ(parsed.errorLine, expected.line);
    EXPECT_TRUE(parsed.statements.empty());
}

INSTANTIATE_TEST_SUITE_P(Errors, ParseErrorTest,
    testing::Values(ErrorCase { "stringAtEnd", "a\nb \"open", "unterminated string", 2 },
        ErrorCase { "lineEndInString", "a;\nb \"open\nc\"", "unterminated string", 2 },
        ErrorCase { "backslashAtEnd", "a \"x\\", "unterminated string", 1 },
        ErrorCase { "backslashBeforeLineEnd", "\n\na \"x\\\n\"", "unterminated string", 3 },
        ErrorCase { "unknownEscape", "a\nb\nc \"\\q\"", "unknown escape \\q in string", 3 },
        ErrorCase { "blockCommentOpen", "a\n/* b\nc", "unterminated comment", 2 },
        ErrorCase { "errorAfterGoodStatements", "a; b\nc\nd \"", "unterminated string", 3 }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
