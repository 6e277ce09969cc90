// The parser's reading of command statements (words, strings, comments,
// separators) and of the rest of the language, and its syntax errors.
#include <mel/Parser.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

// The words of a command statement whose arguments are all words, numbers or
// strings, as written; "<expr>" for any other statement or argument.
Words wordsOf(const mel::Stmt& statement)
{
    const mel::Expr* command = statement.expression.get();
    if (statement.kind != mel::Stmt::Kind::Expression || command->kind != mel::Expr::Kind::Command)
        return { "<expr>" };
    Words words { command->text };
    for (const mel::ExprPtr& operand : command->operands) {
        const bool number = operand->kind == mel::Expr::Kind::Int || operand->kind == mel::Expr::Kind::Float;
        const bool asWritten = operand->kind == mel::Expr::Kind::String || (number && !operand->text.empty());
        words.push_back(asWritten ? operand->text : "<expr>");
    }
    return words;
}

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
    const mel::ParsedSource parsed = mel::parseSource(expected.text);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    std::vector<Words> statements;
    std::vector<int> lines;
    for (const mel::StmtPtr& statement : parsed.statements) {
        if (statement->kind == mel::Stmt::Kind::Empty)
            continue;
        statements.push_back(wordsOf(*statement));
        lines.push_back(statement->line);
    }
    EXPECT_EQ(statements, expected.statements);
    EXPECT_EQ(lines, expected.lines);
}

INSTANTIATE_TEST_SUITE_P(Separators, ParseTest,
    testing::Values(ParseCase { "empty", "", {}, {} },
        ParseCase { "oneWord", "echoNothing", { { "echoNothing" } }, { 1 } },
        ParseCase { "wordsAndFlags", "cmd -f 12 -x -5", { { "cmd", "-f", "12", "-x", "-5" } }, { 1 } },
        ParseCase { "semicolons", "a 1; b 2;c", { { "a", "1" }, { "b", "2" }, { "c" } }, { 1, 1, 1 } },
        // Line ends are whitespace: a command may span lines.
        ParseCase { "lineEnds", "a\nb x;\n\nc", { { "a", "b", "x" }, { "c" } }, { 1, 4 } },
        ParseCase { "emptyStatements", ";; ;\n\n  \t;a;;", { { "a" } }, { 3 } },
        ParseCase { "carriageReturns", "a 1;\r\nb\r\n", { { "a", "1" }, { "b" } }, { 1, 2 } },
        // A lone CR ends a line as a line feed does.
        ParseCase { "loneCarriageReturns", "a 1;\rb;\r\rc", { { "a", "1" }, { "b" }, { "c" } }, { 1, 2, 4 } },
        ParseCase { "tabsAndSpaces", " \t a \t b ", { { "a", "b" } }, { 1 } }),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Comments, ParseTest,
    testing::Values(ParseCase { "lineComment", "a // b; c\n;d", { { "a" }, { "d" } }, { 1, 2 } },
        ParseCase { "lineCommentOnly", "// nothing here", {}, {} },
        ParseCase { "lineCommentEndsAtACarriageReturn", "a; // note\rb", { { "a" }, { "b" } }, { 1, 2 } },
        ParseCase { "commentEndsWord", "a//b", { { "a" } }, { 1 } },
        ParseCase { "singleSlashIsPartOfWord", "load dir/file.so", { { "load", "dir/file.so" } }, { 1 } },
        ParseCase { "blockComment", "a /* b; c */ d", { { "a", "d" } }, { 1 } },
        ParseCase { "blockCommentSpansLines", "/* one\ntwo\n*/ a;\nb", { { "a" }, { "b" } }, { 3, 4 } },
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
        // A backslash before a character with no special meaning leaves the character.
        ParseCase { "undefinedEscapesGiveTheCharacter", R"(a "\.\)\q\ x")", { { "a", ".)q x" } }, { 1 } },
        ParseCase { "backslashContinuesAString", "a \"x \\\ny\";\nb", { { "a", "x y" }, { "b" } }, { 1, 3 } },
        ParseCase { "backslashContinuesAStringOverCrLf", "a \"x\\\r\ny\";\r\nb", { { "a", "xy" }, { "b" } },
            { 1, 3 } },
        ParseCase { "flagLikeString", "cmd -f \"-name\"", { { "cmd", "-f", "-name" } }, { 1 } },
        ParseCase { "stringStatementIsAnExpression", "\"echo\"", { { "<expr>" } }, { 1 } },
        ParseCase { "highBytesKept", "a \"\xc3\xa9\"", { { "a", "\xc3\xa9" } }, { 1 } }),
    [](const auto& info) { return std::string(info.param.name); });

// The forms of statement that published scripts use beside the plain ones.
INSTANTIATE_TEST_SUITE_P(PublishedForms, ParseTest,
    testing::Values(ParseCase { "bracketedFirstArgument", R"(setAttr ($c + ".ty") 0 -k "on";)",
                        { { "setAttr", "<expr>", "0", "-k", "on" } }, { 1 } },
        ParseCase { "bracketedCallAlone", R"(print ("a" + 1);)", { { "<expr>" } }, { 1 } },
        ParseCase { "arrayLiteralArguments", R"(cmd -flag {"a", "b"} {$x};)",
            { { "cmd", "-flag", "<expr>", "<expr>" } }, { 1 } },
        ParseCase { "pathAfterAVariable", "select $g|child;", { { "select", "<expr>", "|child" } }, { 1 } },
        ParseCase { "conversionStartsAStatement", "int($x); string (1) + 2;", { { "<expr>" }, { "<expr>" } },
            { 1, 1 } },
        ParseCase {
            "forHeaderSequences", "for ($i = 0, $j = 9; $i < $j; $i++, $j--) a;", { { "<expr>" } }, { 1 } }),
    [](const auto& info) { return std::string(info.param.name); });

// A word that is a whole number is a number of its own type, keeping its text.
TEST(CommandArguments, NumberWordsAreNumbers)
{
    const mel::ParsedSource parsed
        = mel::parseSource("cmd 3 -5 +2 1.50 .5 1e3 -2E-2 007 1. 3a 1e -x 2147483648 - 0x1F -0xff 0xg");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.statements.size(), 1u);
    using Kind = mel::Expr::Kind;
    struct Expected {
        Kind kind;
        int number;
        double real;
    };
    const std::vector<Expected> expected = { { Kind::Int, 3, 0 }, { Kind::Int, -5, 0 }, { Kind::Int, 2, 0 },
        { Kind::Float, 0, 1.5 }, { Kind::Float, 0, 0.5 }, { Kind::Float, 0, 1000 }, { Kind::Float, 0, -0.02 },
        { Kind::Int, 7, 0 }, { Kind::Float, 0, 1 }, { Kind::String, 0, 0 }, { Kind::String, 0, 0 },
        { Kind::String, 0, 0 }, { Kind::Float, 0, 2147483648.0 }, { Kind::String, 0, 0 },
        { Kind::Int, 31, 0 }, { Kind::Int, -255, 0 }, { Kind::String, 0, 0 } };
    const auto& operands = parsed.statements[0]->expression->operands;
    ASSERT_EQ(operands.size(), expected.size());
    const Words written = { "3", "-5", "+2", "1.50", ".5", "1e3", "-2E-2", "007", "1.", "3a", "1e", "-x",
        "2147483648", "-", "0x1F", "-0xff", "0xg" };
    ASSERT_EQ(written.size(), expected.size());
    for (std::size_t i = 0; i < operands.size(); ++i) {
        EXPECT_EQ(operands[i]->kind, expected[i].kind) << written[i];
        EXPECT_EQ(operands[i]->text, written[i]);
        EXPECT_EQ(operands[i]->number, expected[i].number) << written[i];
        EXPECT_DOUBLE_EQ(operands[i]->real, expected[i].real) << written[i];
    }
}

struct ErrorCase {
    const char* name;
    std::string text;
    std::string error;
    int line;
    int column;
};

std::ostream& operator<<(std::ostream& out, const ErrorCase& errorCase)
{
    return out << errorCase.name;
}

class ParseErrorTest : public testing::TestWithParam<ErrorCase> { };

TEST_P(ParseErrorTest, ReportsTheErrorAndNoStatements)
{
    const ErrorCase& expected = GetParam();
    const mel::ParsedSource parsed = mel::parseSource(expected.text);
    EXPECT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error, expected.error);
    EXPECT_EQ(parsed.errorLine, expected.line);
    EXPECT_EQ(parsed.errorColumn, expected.column);
    EXPECT_TRUE(parsed.statements.empty());
}

INSTANTIATE_TEST_SUITE_P(Errors, ParseErrorTest,
    testing::Values(ErrorCase { "stringAtEnd", "a;\nb \"open", "unterminated string", 2, 3 },
        ErrorCase { "lineEndInString", "a;\nb \"open\nc\"", "unterminated string", 2, 3 },
        ErrorCase { "backslashAtEnd", "a \"x\\", "unterminated string", 1, 3 },
        ErrorCase { "continuedStringNeverClosed", "\n\na \"x\\\n", "unterminated string", 3, 3 },
        ErrorCase { "carriageReturnInString", "a;\rb \"open\rc\"", "unterminated string", 2, 3 },
        ErrorCase { "blockCommentOpen", "a;\n/* b\nc", "unterminated comment", 2, 1 },
        ErrorCase { "errorAfterGoodStatements", "a; b;\nc;\nd \"", "unterminated string", 3, 3 },
        ErrorCase { "missingSemicolon", "int $a = 1\nprint $a;", "expected ';', found 'print'", 2, 1 },
        ErrorCase {
            "unclosedBlock", "if (1) {\n  print 1;", "expected '}', found the end of the script", 2, 11 },
        ErrorCase { "missingOperand", "int $a = 1 + ;", "expected an expression, found ';'", 1, 14 },
        ErrorCase { "unclosedBackquote", "string $s = `echoString a;",
            "expected '`' to close the one at line 1.13, found ';'", 1, 26 },
        ErrorCase {
            "procInsideBlock", "{ proc f() { } }", "procedures are defined only at the top level", 1, 3 },
        ErrorCase { "keywordAsCommand", "else;", "expected a statement, found 'else'", 1, 1 },
        // `name (...)` that reads neither as a call nor as a command says where
        // the reading that went further stopped.
        ErrorCase { "matrixWithoutASize", "matrix $m;",
            "a matrix is declared with its size in numbers: matrix $m[rows][columns]", 1, 10 },
        ErrorCase { "matrixSizeFromAVariable", "matrix $m[2][$n];",
            "a matrix is declared with its size in numbers: matrix $m[rows][columns]", 1, 14 },
        ErrorCase { "arrayOfMatrices", "proc f(matrix $m[]) {}", "there are no arrays of matrices", 1, 17 },
        ErrorCase {
            "matrixLiteralSeparator", "print <<1, 2 3>>;", "expected ',', ';' or '>>', found '3'", 1, 14 },
        ErrorCase { "neitherCallNorCommand", "foo($a, $b) 1;", "expected ';', found '1'", 1, 13 },
        ErrorCase { "callReadFurther", "foo($a, );", "expected an expression, found ')'", 1, 9 },
        ErrorCase { "commandReadFurther", "foo ($a) -f (1 +);", "expected an expression, found ')'", 1, 17 },
        ErrorCase { "assignToLiteral", "1 = 2;", "expected a variable before '='", 1, 3 },
        ErrorCase { "tooDeep", std::string(300, '(') + "1" + std::string(300, ')') + ";",
            "nesting deeper than 200 levels", 1, 200 },
        ErrorCase { "deepInsideAChain",
            "int $a = 1 + " + std::string(300, '(') + "1" + std::string(300, ')') + ";",
            "nesting deeper than 200 levels", 1, 213 }),
    [](const auto& info) { return std::string(info.param.name); });

// Scripts written as published tools are (corpus/): each parses whole.
std::vector<std::string> corpusFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MEL_CORPUS))
        if (entry.path().extension() == ".mel")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Corpus : public testing::TestWithParam<std::string> { };

TEST_P(Corpus, Parses)
{
    std::ifstream file(std::filesystem::path(MEL_CORPUS) / GetParam(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    ASSERT_FALSE(text.str().empty());
    const mel::ParsedSource parsed = mel::parseSource(text.str());
    EXPECT_TRUE(parsed.ok()) << "line " << parsed.errorLine << "." << parsed.errorColumn << ": "
                             << parsed.error;
    EXPECT_FALSE(parsed.statements.empty());
}

INSTANTIATE_TEST_SUITE_P(Scripts, Corpus, testing::ValuesIn(corpusFiles()), [](const auto& info) {
    std::string name = info.param.substr(0, info.param.size() - 4);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

}  // namespace
