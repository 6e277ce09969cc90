#include "HostFixture.h"

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace pictile::test {
namespace {

namespace fs = std::filesystem;

const std::string kImages = "F:/Dovrin's Documents/My Images/";
const std::string kResized = kImages + "Resized/";

Rgba stripes(unsigned int x, unsigned int y)
{
    return { static_cast<unsigned char>(x * 3), static_cast<unsigned char>(y * 2),
        static_cast<unsigned char>(x ^ y), 255 };
}

class ResizeFunctionTest : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(loadPictile().status);
        fs::create_directories(kResized);
        fs::create_directories("imgs");
    }

    void writeList(const std::string& text) { std::ofstream(kImages + "DIRlist.txt") << text; }

    host::Invocation resize(
        const std::string& size, const std::string& number, const std::string& folder = "imgs/")
    {
        return run("resizeFunction", { "-folder", folder, "-size", size, "-number", number });
    }

    // The size of a written output, or 0 by 0 when it cannot be read.
    std::pair<unsigned int, unsigned int> outputSize(const std::string& baseName)
    {
        MImage image;
        unsigned int width = 0;
        unsigned int height = 0;
        if (image.readFromFile(MString(kResized + baseName + ".iff")))
            image.getSize(width, height);
        return { width, height };
    }
};

std::vector<std::string> names(std::initializer_list<const char*> list)
{
    return std::vector<std::string>(list.begin(), list.end());
}

TEST_F(ResizeFunctionTest, CountOfOneReadsNoNameEvenWithoutAList)
{
    for (bool withList : { false, true }) {
        if (withList)
            writeList("a.png b.png");
        const host::Invocation invocation = resize("128", "1");
        EXPECT_EQ(invocation.status, MS::kSuccess);
        EXPECT_EQ(invocation.result, host::CommandResult { std::vector<std::string> {} });
        EXPECT_TRUE(lines.empty());
        EXPECT_TRUE(fs::is_empty(kResized));
    }
}

TEST_F(ResizeFunctionTest, ReadsOneNameFewerThanTheCount)
{
    for (const char* name : { "a.png", "b.png", "c.png", "d.png", "e.png" })
        writeImage(std::string("imgs/") + name, 12, 12, stripes);
    writeList("a.png\tb.png\n\n  c.png d.png\ne.png\n");

    const host::Invocation invocation = resize("64", "3");

    EXPECT_EQ(invocation.status, MS::kSuccess);
    EXPECT_EQ(invocation.result, host::CommandResult { names({ "a.png", "b.png" }) });
    EXPECT_EQ(outputSize("a"), std::make_pair(32u, 32u));
    EXPECT_EQ(outputSize("b"), std::make_pair(32u, 32u));
    EXPECT_FALSE(fs::exists(kResized + "c.iff"));
}

struct SizeCase {
    const char* name;
    unsigned int width;
    unsigned int height;
    const char* size;
    unsigned int outputWidth;
    unsigned int outputHeight;
};

class ResizeFunctionSizes : public ResizeFunctionTest, public ::testing::WithParamInterface<SizeCase> { };

TEST_P(ResizeFunctionSizes, SquareOfHalfTheSizeUnlessThePixelCountMatches)
{
    const SizeCase& c = GetParam();
    writeImage("imgs/photo.png", c.width, c.height, stripes);
    writeList("photo.png");
    // What the host's own resize makes of the image, or the image itself.
    MImage expected = readImage("imgs/photo.png");
    if (c.outputWidth != c.width || c.outputHeight != c.height) {
        ASSERT_TRUE(
            expected.resize(static_cast<int>(c.outputWidth), static_cast<int>(c.outputHeight), false));
    }

    ASSERT_EQ(resize(c.size, "2").status, MS::kSuccess);

    const MImage written = readImage(kResized + "photo.iff");
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_TRUE(written.getSize(width, height));
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(c.outputWidth, c.outputHeight));
    EXPECT_EQ(channelValues(written), channelValues(expected));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ResizeFunctionSizes,
    ::testing::Values(SizeCase { "PixelCountMatches", 20, 20, "400", 20, 20 },
        SizeCase { "SideMatchesOnly", 20, 20, "20", 10, 10 },
        SizeCase { "OddSizeRoundsDown", 200, 100, "101", 50, 50 },
        SizeCase { "Enlarges", 8, 4, "64", 32, 32 }),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST_F(ResizeFunctionTest, OutputNameDropsTheLastFourCharacters)
{
    for (const char* name : { "photo.jpg", "photo.jpeg", "picture" })
        writeImage(std::string("imgs/") + name, 10, 10, stripes);
    writeList("photo.jpg photo.jpeg picture");

    const host::Invocation invocation = resize("100", "4", "imgs/");

    EXPECT_EQ(invocation.status, MS::kSuccess);
    EXPECT_EQ(invocation.result, host::CommandResult { names({ "photo.jpg", "photo.jpeg", "picture" }) });
    for (const char* output : { "photo.iff", "photo..iff", "pic.iff" })
        EXPECT_TRUE(fs::exists(kResized + output)) << output;
}

TEST_F(ResizeFunctionTest, FolderIsJoinedWithoutSeparator)
{
    writeImage("imgs/a.png", 10, 10, stripes);
    writeList("a.png");
    const host::Invocation invocation = resize("100", "2", "imgs");
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(lines, errorLine("imgsa.png does not exist!"));
}

TEST_F(ResizeFunctionTest, FailureMidwayKeepsEarlierOutputsAndSetsNoResult)
{
    writeImage("imgs/one.png", 10, 10, stripes);
    writeImage("imgs/two.png", 10, 10, stripes);
    writeImage("imgs/four.png", 10, 10, stripes);
    writeList("one.png two.png three.png four.png five.png");

    const host::Invocation invocation = resize("50", "6");

    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(invocation.result, host::CommandResult {});
    EXPECT_EQ(lines, errorLine("imgs/three.png does not exist!"));
    EXPECT_EQ(outputSize("one"), std::make_pair(25u, 25u));
    EXPECT_EQ(outputSize("two"), std::make_pair(25u, 25u));
    EXPECT_FALSE(fs::exists(kResized + "four.iff"));
}

TEST_F(ResizeFunctionTest, ListShorterThanTheCountEndsInTheEmptyName)
{
    writeImage("imgs/one.png", 10, 10, stripes);
    writeList("one.png");
    const host::Invocation invocation = resize("50", "2147483647");
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(lines, errorLine("imgs/ does not exist!"));
    EXPECT_EQ(outputSize("one"), std::make_pair(25u, 25u));
}

TEST_F(ResizeFunctionTest, EmptyNameNeverLoadsTheFolderItself)
{
    writeImage("imgs/one.png", 10, 10, stripes);
    const host::Invocation invocation = resize("50", "2", "imgs/one.png");
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(lines, errorLine("imgs/one.png does not exist!"));
    EXPECT_TRUE(fs::is_empty(kResized));
}

TEST_F(ResizeFunctionTest, LongNamesAreReadWhole)
{
    const std::string longName(300, 'n');
    writeList(longName + ".png");
    resize("50", "2");
    EXPECT_EQ(lines, errorLine("imgs/" + longName + ".png does not exist!"));
}

TEST_F(ResizeFunctionTest, SubfoldersInsideTheOutputFolderAreWritten)
{
    fs::create_directories("imgs/sub");
    writeImage("imgs/sub/x.png", 10, 10, stripes);
    writeImage("imgs/y.png", 10, 10, stripes);
    fs::create_directories(kResized + "sub");
    writeList("sub/x.png sub/../y.png");
    const host::Invocation invocation = resize("60", "3");
    EXPECT_EQ(invocation.status, MS::kSuccess);
    EXPECT_EQ(outputSize("sub/x"), std::make_pair(30u, 30u));
    EXPECT_EQ(outputSize("y"), std::make_pair(30u, 30u));
}

TEST_F(ResizeFunctionTest, DirectoryFlagIsAcceptedAndIgnored)
{
    writeImage("imgs/a.png", 10, 10, stripes);
    writeList("a.png");
    const host::Invocation invocation
        = run("resizeFunction", { "-f", "imgs/", "-s", "100", "-n", "2", "-d", "elsewhere/" });
    EXPECT_EQ(invocation.status, MS::kSuccess);
    EXPECT_TRUE(fs::exists(kResized + "a.iff"));
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> args;
    const char* error;
    std::string list = "a.png";
    std::vector<std::string> images = {};  // written besides imgs/a.png
    bool listIsFifo = false;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

// Every .iff file below the current folder, wherever a name sent it.
std::vector<std::string> iffFiles()
{
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator("."))
        if (entry.path().extension() == ".iff")
            found.push_back(entry.path().string());
    return found;
}

class ResizeFunctionRefusals : public ResizeFunctionTest,
                               public ::testing::WithParamInterface<RefusalCase> { };

TEST_P(ResizeFunctionRefusals, ShowOneErrorAndWriteNothing)
{
    const RefusalCase& c = GetParam();
    writeImage("imgs/a.png", 30, 30, stripes);
    for (const std::string& image : c.images) {
        if (fs::path(image).has_parent_path())
            fs::create_directories(fs::path(image).parent_path());
        writeImage(image, 30, 30, stripes);
    }
    if (c.listIsFifo)
        ASSERT_EQ(mkfifo((kImages + "DIRlist.txt").c_str(), 0600), 0);
    else
        writeList(c.list);
    const host::Invocation invocation = run("resizeFunction", c.args);
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(invocation.result, host::CommandResult {});
    EXPECT_EQ(lines, errorLine(c.error));
    EXPECT_TRUE(fs::is_empty(kResized));
    EXPECT_EQ(iffFiles(), std::vector<std::string> {});
}

const std::vector<std::string> kBatch = { "-f", "imgs/", "-s", "10", "-n", "2" };

INSTANTIATE_TEST_SUITE_P(Arguments, ResizeFunctionRefusals,
    ::testing::Values(RefusalCase { "NoFolder", { "-s", "10", "-n", "2" }, "missing required param" },
        RefusalCase { "NoNumber", { "-f", "imgs/", "-s", "10" }, "missing required param" },
        RefusalCase { "NothingGiven", {}, "missing required param" },
        RefusalCase { "NoSize", { "-f", "imgs/", "-n", "2" }, "missing required param" },
        RefusalCase { "NegativeSize", { "-f", "imgs/", "-s", "-4", "-n", "2" }, "missing required param" },
        RefusalCase { "SizeBeyondUnsigned", { "-f", "imgs/", "-s", "4294967296", "-n", "2" },
            "missing required param" },
        RefusalCase { "ZeroCount", { "-f", "imgs/", "-s", "10", "-n", "0" }, "-number must be at least 1!" },
        RefusalCase {
            "NegativeCount", { "-f", "imgs/", "-s", "10", "-n", "-1" }, "-number must be at least 1!" },
        RefusalCase { "SizeZero", { "-f", "imgs/", "-s", "0", "-n", "2" }, "resizing failed!" },
        RefusalCase { "SizeOne", { "-f", "imgs/", "-s", "1", "-n", "2" }, "resizing failed!" },
        RefusalCase { "SizeHuge", { "-f", "imgs/", "-s", "4294967295", "-n", "2" }, "resizing failed!" },
        // Names whose output would leave the output folder, or have no base name.
        RefusalCase {
            "NameClimbsOutOfTheOutputFolder", kBatch, "cant write to file!", "../a.png", { "a.png" } },
        RefusalCase { "NameClimbsOutFromASubfolder", kBatch, "cant write to file!", "sub/../../a.png",
            { "a.png", "imgs/sub/x.png" } },
        RefusalCase { "NameOfFourCharacters", kBatch, "cant write to file!", "abcd", { "imgs/abcd" } },
        RefusalCase {
            "NameWithoutBaseInASubfolder", kBatch, "cant write to file!", "sub/.png", { "imgs/sub/.png" } },
        // A word longer than any path is no name; a list that is no regular file
        // reads like a missing one, and a FIFO must not block the open.
        RefusalCase { "WordLongerThanAnyPath", kBatch, "imgs/ does not exist!", std::string(4097, 'w') },
        RefusalCase { "ListIsAFifo", kBatch, "imgs/ does not exist!", "", {}, true }),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(ResizeFunctionTest, MissingOutputFolderIsAWriteError)
{
    fs::remove(kResized);
    writeImage("imgs/a.png", 10, 10, stripes);
    writeList("a.png");
    EXPECT_EQ(resize("100", "2").status, MS::kFailure);
    EXPECT_EQ(lines, errorLine("cant write to file!"));
}

}  // namespace
}  // namespace pictile::test
