#include <maya/MString.h>

#include <gtest/gtest.h>

namespace {

struct SubstringCase {
    const char* text;
    int start;
    int end;
    const char* expected;
};

class SubstringTest : public testing::TestWithParam<SubstringCase> { };

TEST_P(SubstringTest, KeepsBothEnds)
{
    const SubstringCase& c = GetParam();
    EXPECT_EQ(MString(c.text).substring(c.start, c.end), MString(c.expected))
        << c.text << " [" << c.start << ", " << c.end << "]";
}

INSTANTIATE_TEST_SUITE_P(Cases, SubstringTest,
    testing::Values(SubstringCase { "photo.jpg", 0, 4, "photo" }, SubstringCase { "picture", 0, 2, "pic" },
        SubstringCase { "abc", 0, -1, "" }, SubstringCase { "abc", 1, 1, "b" },
        SubstringCase { "abc", 2, 1, "" }, SubstringCase { "abc", 1, 99, "bc" },
        SubstringCase { "abc", 3, 5, "" }, SubstringCase { "abc", -2, 0, "a" },
        SubstringCase { "", 0, 0, "" }));

TEST(MStringTest, ConcatenatesWithStringsAndCharactersOnEitherSide)
{
    const MString stem("photo");
    EXPECT_EQ(stem + MString(".iff"), "photo.iff");
    EXPECT_EQ(stem + ".iff", "photo.iff");
    EXPECT_EQ("thumb_" + stem, "thumb_photo");
    MString path("out/");
    path += stem;
    path += ".png";
    EXPECT_EQ(path, "out/photo.png");
    EXPECT_EQ(stem.length(), 5u);
}

TEST(MStringTest, NullAndCountedTextBecomeOrdinaryStrings)
{
    EXPECT_EQ(MString(nullptr), "");
    EXPECT_EQ(MString("photo.jpg", 5), "photo");
    EXPECT_EQ(MString("photo", -1), "");
    EXPECT_TRUE(MString("") == nullptr);
    EXPECT_TRUE(MString("a") != nullptr);
}

}  // namespace
