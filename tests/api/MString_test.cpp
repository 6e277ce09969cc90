#include <maya/MString.h>
#include <maya/MStringArray.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Elements read back as they went in, NUL bytes and long ones too, whether the
// array holds them packed or, once one was handed out to change, as strings.
TEST(MStringArrayTest, GivesBackEveryElementPackedOrNot)
{
    const std::string withNul("a\0b", 3);
    const std::string longName(300, 'x');
    std::vector<std::string> elements;
    for (int i = 0; i < 40; ++i)
        elements.push_back(i == 17 ? withNul
                : i == 33          ? longName
                                   : std::string(std::size_t(i % 5), char('a' + i % 26)));
    MStringArray names;
    for (const std::string& element : elements)
        names.append(MString(element));
    ASSERT_EQ(names.length(), elements.size());
    const MStringArray& packed = names;
    for (unsigned int i = 0; i < names.length(); ++i)
        EXPECT_EQ(std::string(packed[i].asChar(), packed[i].length()), elements[i]) << i;
    names[5] = MString("changed");
    elements[5] = "changed";
    names.append(MString("last"));
    elements.push_back("last");
    ASSERT_EQ(names.length(), elements.size());
    for (unsigned int i = 0; i < names.length(); ++i)
        EXPECT_EQ(std::string(packed[i].asChar(), packed[i].length()), elements[i]) << i;
    names.clear();
    EXPECT_EQ(names.length(), 0u);
    names.append(MString("again"));
    EXPECT_EQ(packed[0], "again");
}

}  // namespace
