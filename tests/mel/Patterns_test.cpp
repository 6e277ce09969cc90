// The patterns of MEL's library on their own: what each construct of MEL's
// regular expressions becomes in RE2's syntax, and shell patterns (gmatch,
// getFileList) case by case and on long texts.
#include <mel/lib/Support.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct SyntaxCase {
    const char* name;
    std::string mel;
    std::optional<std::string> re2;  ///< Nothing when `mel` is no expression.
};

std::ostream& operator<<(std::ostream& out, const SyntaxCase& syntaxCase)
{
    return out << syntaxCase.name;
}

class Re2Syntax : public testing::TestWithParam<SyntaxCase> { };

TEST_P(Re2Syntax, WritesMelsExpressionAsRe2Reads)
{
    EXPECT_EQ(mel::re2Syntax(GetParam().mel), GetParam().re2) << GetParam().mel;
}

INSTANTIATE_TEST_SUITE_P(Constructs, Re2Syntax,
    testing::Values(SyntaxCase { "lettersAndDigits", "ab_9", "ab_9" },
        SyntaxCase { "anyRepeated", "a.*b+", "a.*b+" }, SyntaxCase { "anchors", "^a$", "^a$" },
        SyntaxCase { "groupsCaptureNothing", "(ab)+", "(?:ab)+" },
        SyntaxCase { "escapesAreLiterals", R"(\.\*\d\\)", R"(\x{2E}\x{2A}d\x{5C})" },
        SyntaxCase { "otherPunctuationIsItself", "a?|{2}-", R"(a\x{3F}\x{7C}\x{7B}2\x{7D}\x{2D})" },
        SyntaxCase { "bytesPastAscii", "\xC3\xA9", R"(\x{C3}\x{A9})" },
        SyntaxCase { "bracketWithAnEscapedBracket", R"([\]a-c])", R"([\x{5D}a-c])" },
        SyntaxCase { "bracketNegated", "[^|]", R"([^\x{7C}])" },
        SyntaxCase { "bracketClosingFirstIsAMember", "[]a]", R"([\x{5D}a])" },
        SyntaxCase { "bracketDashAtEitherEnd", "[-a-]", R"([\x{2D}a\x{2D}])" },
        SyntaxCase { "bracketClassName", "[[:digit:]x]", "[[:digit:]x]" },
        SyntaxCase { "bracketUnknownClassIsMembers", "[[:nope:]]", R"([\x{5B}\x{3A}nope\x{3A}]\x{5D})" },
        SyntaxCase { "repeatWithNothingBeforeIsItself", "*a(+)^*", R"(\x{2A}a(?:\x{2B})^\x{2A})" },
        SyntaxCase { "repeatsOfARepeat", "a**b+*c*+d++", "a*b*c*d+" },
        SyntaxCase { "groupLeftOpen", "(a", std::nullopt },
        SyntaxCase { "groupNeverOpened", "a)", std::nullopt },
        SyntaxCase { "backslashAtTheEnd", "a\\", std::nullopt },
        SyntaxCase { "bracketLeftOpen", "[ab", std::nullopt },
        SyntaxCase { "bracketBackslashAtTheEnd", "[a\\", std::nullopt },
        SyntaxCase { "rangeBackwards", "[b-a]", std::nullopt }),
    [](const auto& info) { return std::string(info.param.name); });

struct GlobCase {
    const char* name;
    std::string pattern;
    std::string text;
    bool matches;
};

std::ostream& operator<<(std::ostream& out, const GlobCase& globCase)
{
    return out << globCase.name;
}

class Glob : public testing::TestWithParam<GlobCase> { };

TEST_P(Glob, MatchesTheWholeText)
{
    EXPECT_EQ(mel::globMatch(GetParam().pattern, GetParam().text), GetParam().matches)
        << GetParam().pattern << " / " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, Glob,
    testing::Values(GlobCase { "starAtTheEnds", "m*s", "matches", true },
        GlobCase { "negatedRange", "ma[!a-m]ches", "matches", true },
        GlobCase { "oneCharacterEach", "?atch", "no match", false },
        GlobCase { "bracketLeftOpenIsItself", "a[b", "a[b", true },
        GlobCase { "starMatchesNothing", "*", "", true },
        GlobCase { "emptyPatternOnlyEmptyText", "", "a", false },
        GlobCase { "piecesInOrder", "a*b*c*", "abc", true },
        GlobCase { "pieceBetween", "*b*", "aXbXc", true },
        GlobCase { "lastPieceMissing", "a*b*c", "ab", false },
        GlobCase { "firstAndLastPiecesDoNotOverlap", "a*a", "a", false },
        GlobCase { "lastPieceLongerThanTheText", "*aa", "a", false },
        GlobCase { "piecesAtTheirFirstPlace", "*ab*ab*", "xabyabz", true },
        GlobCase { "piecesDoNotOverlap", "*aba*aba*", "ababa", false },
        GlobCase { "escapedStar", "\\*a", "*a", true },
        GlobCase { "escapedStarIsNoStar", "\\*a", "xa", false },
        GlobCase { "closingBracketFirstIsAMember", "[]a]", "]", true },
        GlobCase { "dashLastIsAMember", "[a-]", "-", true },
        GlobCase { "backslashAtTheEndIsItself", "a\\", "a\\", true },
        GlobCase { "rangeOfBytesPastAscii", "[\x80-\xFF]", "\xE9", true },
        GlobCase { "caseCounts", "*.png", "a.PNG", false },
        GlobCase { "pieceOfMoreThan64Elements", "*" + std::string(70, '?') + "b*",
            std::string(100, 'a') + "bc", true },
        GlobCase { "pieceOfMoreThan64ElementsTooLong", "*" + std::string(70, '?') + "b*",
            std::string(60, 'a') + "b", false }),
    [](const auto& info) { return std::string(info.param.name); });

// Each piece is found in one pass over the text, so a hostile pattern on a
// long text costs as much as a plain one.
TEST(GlobOnALongText, FindsEachPieceInOnePass)
{
    const std::string text(std::size_t { 1 } << 22, 'a');
    const std::string nearlyAll = "*" + std::string(63, 'a') + "b*";
    EXPECT_FALSE(mel::globMatch(nearlyAll, text));
    EXPECT_TRUE(mel::globMatch(nearlyAll, text + "b"));
    std::string manyStars;
    for (int i = 0; i < 1000; ++i)
        manyStars += "*a";
    EXPECT_TRUE(mel::globMatch(manyStars + "*", text));
    EXPECT_FALSE(mel::globMatch(manyStars + "*b", text));
}

TEST(GlobOnALongText, PollsAsItGoes)
{
    const std::string text(std::size_t { 1 } << 24, 'a');
    int polls = 0;
    const std::string pattern = "*" + std::string(70, 'a') + "b*";
    EXPECT_FALSE(mel::globMatch(pattern, text, [&polls] { ++polls; }));
    EXPECT_GT(polls, 0);
}

}  // namespace
