#include "editorTest.h"

#include <maya/MArgDatabase.h>

#include <initializer_list>
#include <optional>

namespace {

MSyntax testSyntax()
{
    MSyntax syntax;
    syntax.addFlag("-x", "-offset", MSyntax::kDouble);
    syntax.addFlag("-n", "-count", MSyntax::kLong);
    syntax.addFlag("-f", "-file", MSyntax::kString);
    syntax.addFlag("-b", "-blend", MSyntax::kBoolean);
    syntax.addFlag("-v", "-verbose");
    syntax.addFlag("-p", "-pair", MSyntax::kLong, MSyntax::kLong);
    return syntax;
}

MArgList argsOf(std::initializer_list<const char*> tokens)
{
    MArgList args;
    for (const char* token : tokens)
        args.addArg(token);
    return args;
}

struct ParseFailure {
    std::vector<const char*> tokens;
    const char* errorLine;
};

class ParseFailureTest : public EditorTest, public testing::WithParamInterface<ParseFailure> { };

TEST_P(ParseFailureTest, ShowsOneErrorLineAndFails)
{
    MArgList args;
    for (const char* token : GetParam().tokens)
        args.addArg(token);
    MStatus status;
    MArgDatabase parsed(testSyntax(), args, &status);

    EXPECT_EQ(status, MS::kFailure);
    EXPECT_EQ(host::ScriptEditor::take(), errorLine(GetParam().errorLine));
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseFailureTest,
    testing::Values(ParseFailure { { "-foo" }, "Invalid flag: -foo" },
        ParseFailure { { "-x" }, "Flag -x needs an argument" },
        ParseFailure { { "-v", "-offset" }, "Flag -offset needs an argument" },
        ParseFailure { { "-p", "1" }, "Flag -p needs 2 arguments" },
        ParseFailure { { "-x", "abc" }, "Flag -x expects a number, not \"abc\"" },
        ParseFailure { { "-x", "" }, "Flag -x expects a number, not \"\"" },
        ParseFailure { { "-x", "1.5x" }, "Flag -x expects a number, not \"1.5x\"" },
        ParseFailure { { "-x", "nan" }, "Flag -x expects a number, not \"nan\"" },
        ParseFailure { { "-x", "0x10" }, "Flag -x expects a number, not \"0x10\"" },
        ParseFailure { { "-x", " 1" }, "Flag -x expects a number, not \" 1\"" },
        ParseFailure { { "-n", "2.5" }, "Flag -n expects a whole number, not \"2.5\"" },
        ParseFailure { { "-n", "-" }, "Flag -n expects a whole number, not \"-\"" },
        ParseFailure { { "-p", "1", "x" }, "Flag -p expects a whole number, not \"x\"" },
        ParseFailure { { "-b", "maybe" }, "Flag -b expects on or off, not \"maybe\"" },
        ParseFailure { { "-f", "a", "-file", "b" }, "Flag -file given twice" },
        ParseFailure { { "foo" }, "Unexpected argument \"foo\"" },
        ParseFailure { { "-v", "foo" }, "Unexpected argument \"foo\"" },
        ParseFailure { { "-5" }, "Unexpected argument \"-5\"" }));

using ArgParserTest = EditorTest;

TEST_F(ArgParserTest, TheTokenAfterAFlagIsItsArgumentWhateverItLooksLike)
{
    MStatus status;
    MArgDatabase parsed(testSyntax(), argsOf({ "-x", "-5", "-f", "-name", "-count", "+7" }), &status);
    ASSERT_EQ(status, MS::kSuccess);
    EXPECT_TRUE(host::ScriptEditor::take().empty());

    double offset = 0.0;
    MString file;
    int count = 0;
    EXPECT_EQ(parsed.getFlagArgument("-offset", 0, offset), MS::kSuccess);
    EXPECT_EQ(parsed.getFlagArgument("-f", 0, file), MS::kSuccess);
    EXPECT_EQ(parsed.getFlagArgument("-n", 0, count), MS::kSuccess);
    EXPECT_EQ(offset, -5.0);
    EXPECT_EQ(file, "-name");
    EXPECT_EQ(count, 7);
}

TEST_F(ArgParserTest, FlagsAnswerToShortAndLongNames)
{
    MArgDatabase parsed(testSyntax(), argsOf({ "-verbose", "-p", "3", "-4" }));
    EXPECT_TRUE(parsed.isFlagSet("-v"));
    EXPECT_TRUE(parsed.isFlagSet("-verbose"));
    EXPECT_FALSE(parsed.isFlagSet("-x"));

    int second = 0;
    EXPECT_EQ(parsed.getFlagArgument("-pair", 1, second), MS::kSuccess);
    EXPECT_EQ(second, -4);

    MStatus status;
    EXPECT_FALSE(parsed.isFlagSet("-undeclared", &status));
    EXPECT_EQ(status, MS::kInvalidParameter);
}

TEST_F(ArgParserTest, FailedParseWithoutStatusPointerStillShowsItsError)
{
    MArgDatabase parsed(testSyntax(), argsOf({ "-x" }));
    EXPECT_EQ(host::ScriptEditor::take(), errorLine("Flag -x needs an argument"));
    EXPECT_FALSE(parsed.isFlagSet("-x"));
}

// Each row reads one argument into int, unsigned and double; nullopt means the
// read fails and leaves the target as it was.
struct Conversion {
    const char* flag;
    const char* text;
    std::optional<int> asInt;
    std::optional<unsigned int> asUnsigned;
    std::optional<double> asDouble;
};

class ConversionTest : public EditorTest, public testing::WithParamInterface<Conversion> { };

template <typename T>
void expectRead(const MArgDatabase& parsed, const Conversion& c, std::optional<T> expected)
{
    const T untouched = T(17);
    T value = untouched;
    const MStatus status = parsed.getFlagArgument(c.flag, 0, value);
    EXPECT_EQ(status, expected ? MS::kSuccess : MS::kInvalidParameter);
    EXPECT_EQ(value, expected.value_or(untouched));
}

TEST_P(ConversionTest, ReadsOrRefusesWithoutTouchingTheTarget)
{
    const Conversion& c = GetParam();
    MStatus status;
    MArgDatabase parsed(testSyntax(), argsOf({ c.flag, c.text }), &status);
    ASSERT_EQ(status, MS::kSuccess);

    SCOPED_TRACE(std::string(c.flag) + " " + c.text);
    expectRead(parsed, c, c.asInt);
    expectRead(parsed, c, c.asUnsigned);
    expectRead(parsed, c, c.asDouble);
    MString text;
    EXPECT_EQ(parsed.getFlagArgument(c.flag, 0, text), MS::kSuccess);
    EXPECT_EQ(text, c.text);
}

const std::optional<int> noInt;
const std::optional<unsigned int> noUnsigned;
const std::optional<double> noDouble;

INSTANTIATE_TEST_SUITE_P(Cases, ConversionTest,
    testing::Values(Conversion { "-n", "4294967295", noInt, 4294967295u, 4294967295.0 },
        Conversion { "-n", "4294967296", noInt, noUnsigned, 4294967296.0 },
        Conversion { "-n", "2147483647", 2147483647, 2147483647u, 2147483647.0 },
        Conversion { "-n", "2147483648", noInt, 2147483648u, 2147483648.0 },
        Conversion { "-n", "-2147483648", -2147483647 - 1, noUnsigned, -2147483648.0 },
        Conversion { "-n", "-2147483649", noInt, noUnsigned, -2147483649.0 },
        Conversion { "-n", "-1", -1, noUnsigned, -1.0 },
        Conversion { "-n", "100000000000000000000000", noInt, noUnsigned, 1e23 },
        Conversion { "-x", "2.9", 2, 2u, 2.9 }, Conversion { "-x", "-2.9", -2, noUnsigned, -2.9 },
        Conversion { "-x", "-0.5", 0, noUnsigned, -0.5 }, Conversion { "-x", "1e3", 1000, 1000u, 1000.0 },
        Conversion { "-x", "1e300", noInt, noUnsigned, 1e300 },
        Conversion { "-x", "1e400", noInt, noUnsigned, noDouble }, Conversion { "-f", "12.5", 12, 12u, 12.5 },
        Conversion { "-f", "abc", noInt, noUnsigned, noDouble },
        Conversion { "-f", "", noInt, noUnsigned, noDouble }));

TEST_F(ArgParserTest, BooleansReadFromTheirWords)
{
    const std::pair<const char*, bool> words[] = { { "on", true }, { "off", false }, { "true", true },
        { "false", false }, { "yes", true }, { "no", false }, { "1", true }, { "0", false } };
    for (const auto& [word, meaning] : words) {
        MStatus status;
        MArgDatabase parsed(testSyntax(), argsOf({ "-b", word }), &status);
        ASSERT_EQ(status, MS::kSuccess) << word;
        bool value = !meaning;
        EXPECT_EQ(parsed.getFlagArgument("-blend", 0, value), MS::kSuccess) << word;
        EXPECT_EQ(value, meaning) << word;
    }

    MArgDatabase parsed(testSyntax(), argsOf({ "-f", "maybe" }));
    bool value = true;
    EXPECT_EQ(parsed.getFlagArgument("-f", 0, value), MS::kInvalidParameter);
    EXPECT_TRUE(value);
}

TEST_F(ArgParserTest, FlagNotGivenOrArgumentMissingLeavesTheTargetUnchanged)
{
    MArgDatabase parsed(testSyntax(), argsOf({ "-x", "1.5", "-v" }));
    double value = 0.25;
    MString text("kept");
    EXPECT_EQ(parsed.getFlagArgument("-n", 0, value), MS::kInvalidParameter);
    EXPECT_EQ(parsed.getFlagArgument("-x", 1, value), MS::kInvalidParameter);
    EXPECT_EQ(parsed.getFlagArgument("-v", 0, text), MS::kInvalidParameter);
    EXPECT_EQ(parsed.getFlagArgument("-undeclared", 0, value), MS::kInvalidParameter);
    EXPECT_EQ(value, 0.25);
    EXPECT_EQ(text, "kept");
}

TEST(SyntaxTest, AUsedNameStaysWithTheFirstFlag)
{
    MSyntax syntax;
    EXPECT_EQ(syntax.addFlag("-qX", "-queryMode"), MS::kSuccess);
    EXPECT_EQ(syntax.addFlag("-qY", "-queryMode"), MS::kInvalidParameter);
    ASSERT_EQ(syntax.flags().size(), 2u);
    EXPECT_EQ(syntax.flags()[1].shortName, "-qY");
    EXPECT_EQ(syntax.flags()[1].longName, "");
    EXPECT_EQ(syntax.addFlag("-qX", "-queryOther"), MS::kInvalidParameter);
    EXPECT_EQ(syntax.flags()[2].shortName, "");
    EXPECT_EQ(syntax.findFlag("-queryOther"), 2);

    MArgDatabase byLongName(syntax, argsOf({ "-queryMode" }));
    EXPECT_TRUE(byLongName.isFlagSet("-qX"));
    EXPECT_FALSE(byLongName.isFlagSet("-qY"));
    MArgDatabase byShortName(syntax, argsOf({ "-qY" }));
    EXPECT_FALSE(byShortName.isFlagSet("-qX"));
    EXPECT_TRUE(byShortName.isFlagSet("-qY"));
}

TEST(SyntaxTest, RefusesMalformedFlagsWithoutAddingThem)
{
    MSyntax syntax;
    EXPECT_EQ(syntax.addFlag("x", "-xName"), MS::kInvalidParameter);
    EXPECT_EQ(syntax.addFlag("-x", nullptr), MS::kInvalidParameter);
    EXPECT_EQ(syntax.addFlag("-x", "-xName", MSyntax::kInvalidArgType), MS::kInvalidParameter);
    EXPECT_EQ(syntax.addFlag("-x", "-xName", static_cast<MSyntax::MArgType>(7)), MS::kInvalidParameter);
    EXPECT_TRUE(syntax.flags().empty());
}

TEST(SyntaxTest, ArgumentsAreTheTypesBeforeTheFirstNoArg)
{
    MSyntax syntax;
    syntax.addFlag("-s", "-size", MSyntax::kLong, MSyntax::kDouble, MSyntax::kNoArg, MSyntax::kString);
    ASSERT_EQ(syntax.flags().size(), 1u);
    const std::vector<MSyntax::MArgType> expected { MSyntax::kLong, MSyntax::kDouble };
    EXPECT_EQ(syntax.flags()[0].argumentTypes, expected);
    EXPECT_EQ(syntax.findFlag("-size"), 0);
    EXPECT_EQ(syntax.findFlag(""), -1);
}

}  // namespace
