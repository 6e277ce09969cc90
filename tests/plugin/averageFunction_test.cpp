#include "HostFixture.h"
#include "ReferenceBlocks.h"

#include <fstream>
#include <iterator>

namespace pictile::test {
namespace {

class AverageFunctionTest : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(loadPictile().status);
    }
};

Rgba uniform(unsigned int, unsigned int)
{
    return { 200, 100, 50, 255 };
}

// Varied values, so that a sum over the wrong pixels shows.
Rgba ramp(unsigned int x, unsigned int y)
{
    return { static_cast<unsigned char>(x * 11 + y), static_cast<unsigned char>(y * 5),
        static_cast<unsigned char>((x * y) % 256), static_cast<unsigned char>(128 + x) };
}

std::vector<int> repeated(std::vector<int> block, std::size_t times)
{
    std::vector<int> values;
    for (std::size_t i = 0; i < times; ++i)
        values.insert(values.end(), block.begin(), block.end());
    return values;
}

TEST_F(AverageFunctionTest, UniformImageGivesItsColourOrItsGrey)
{
    writeImage("uniform.png", 20, 20, uniform);
    EXPECT_EQ(intResult(run("averageFunction", { "-f", "uniform.png" })), repeated({ 200, 100, 50, 255 }, 4));
    EXPECT_EQ(lines, infoLine(kDefaultStepsLine));
    // 350 / 3 is 116.67: the grey value is truncated, the alpha stays the alpha average.
    EXPECT_EQ(intResult(run("averageFunction", { "-f", "uniform.png", "-g" })),
        repeated({ 116, 116, 116, 255 }, 4));
}

TEST_F(AverageFunctionTest, AveragesAreTruncated)
{
    // Every 2 x 2 block has the red bytes 10, 10, 11 and 20: 51 / 4 is 12.75.
    writeImage("reds.png", 10, 10, [](unsigned int x, unsigned int y) {
        const unsigned char reds[2][2] = { { 10, 10 }, { 11, 20 } };
        return Rgba { reds[y % 2][x % 2], 0, 0, 255 };
    });
    EXPECT_EQ(intResult(run("averageFunction", { "-f", "reds.png", "-x", "2", "-y", "2" })),
        repeated({ 12, 0, 0, 255 }, 25));
}

TEST_F(AverageFunctionTest, GreyComesFromUnroundedAverages)
{
    // Blocks of two pixels, (1, 1, 0) and (2, 2, 1): averages 1.5, 1.5 and 0.5 give
    // grey 1.17, where the truncated averages 1, 1 and 0 would give 0.
    writeImage("pairs.png", 10, 10, [](unsigned int x, unsigned int) {
        const unsigned char odd = x % 2;
        return Rgba { static_cast<unsigned char>(1 + odd), static_cast<unsigned char>(1 + odd), odd, 255 };
    });
    EXPECT_EQ(intResult(run("averageFunction", { "-f", "pairs.png", "-g", "-x", "2", "-y", "1" })),
        repeated({ 1, 1, 1, 255 }, 50));
}

struct LayoutCase {
    const char* name;
    unsigned int width;
    unsigned int height;
    std::vector<std::string> args;
    unsigned int stepX;
    unsigned int stepY;
    std::size_t valueCount;
};

class AverageFunctionLayouts : public AverageFunctionTest,
                               public ::testing::WithParamInterface<LayoutCase> { };

TEST_P(AverageFunctionLayouts, MatchThePlainAverageOfTheFittedImage)
{
    const LayoutCase& c = GetParam();
    writeImage("ramp.png", c.width, c.height, ramp);
    MImage expected = readImage("ramp.png");
    const unsigned int fittedWidth = c.width - c.width % c.stepX;
    const unsigned int fittedHeight = c.height - c.height % c.stepY;
    if (fittedWidth != c.width || fittedHeight != c.height) {
        ASSERT_TRUE(expected.resize(static_cast<int>(fittedWidth), static_cast<int>(fittedHeight), false));
    }

    for (bool grey : { false, true }) {
        std::vector<std::string> args { "-f", "ramp.png" };
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (grey)
            args.push_back("-grey");
        const host::Invocation invocation = run("averageFunction", args);
        ASSERT_EQ(invocation.status, MS::kSuccess);
        const std::vector<int> values = intResult(invocation);
        EXPECT_EQ(values.size(), c.valueCount);
        EXPECT_EQ(
            values, referenceAverage(expected.pixels(), fittedWidth, fittedHeight, c.stepX, c.stepY, grey));
    }
}

INSTANTIATE_TEST_SUITE_P(Grids, AverageFunctionLayouts,
    ::testing::Values(LayoutCase { "DefaultSteps", 20, 20, {}, 10, 10, 16 },
        LayoutCase { "TallBlocks", 20, 40, { "-xcoord", "5", "-ycoord", "20" }, 5, 20, 32 },
        LayoutCase { "FittedFirst", 25, 23, {}, 10, 10, 16 },
        LayoutCase { "OneBlock", 10, 10, {}, 10, 10, 4 },
        LayoutCase { "ShrunkToOneBlock", 12, 12, {}, 10, 10, 4 },
        LayoutCase { "OnlyYGiven", 30, 12, { "-y", "3" }, 10, 3, 48 },
        LayoutCase { "SinglePixels", 10, 10, { "-x", "1", "-y", "1" }, 1, 1, 400 }),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST_F(AverageFunctionTest, FittingLeavesTheFileAlone)
{
    writeImage("odd.png", 25, 23, ramp);
    std::ifstream before("odd.png", std::ios::binary);
    const std::string bytesBefore { std::istreambuf_iterator<char>(before), {} };
    ASSERT_EQ(run("averageFunction", { "-f", "odd.png" }).status, MS::kSuccess);
    std::ifstream after("odd.png", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), bytesBefore);
}

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<host::EditorLine> lines;
};

class AverageFunctionFailures : public AverageFunctionTest,
                                public ::testing::WithParamInterface<FailureCase> { };

TEST_P(AverageFunctionFailures, ShowOneErrorAndSetNoResult)
{
    writeImage("short.png", 10, 9, ramp);
    writeImage("image.png", 20, 20, ramp);
    const host::Invocation invocation = run("averageFunction", GetParam().args);
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(invocation.result, host::CommandResult {});
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Refusals, AverageFunctionFailures,
    ::testing::Values(FailureCase { "NoFileFlag", { "-g" }, { { host::LineKind::Error, "No file flag!" } } },
        FailureCase { "MissingFile", { "-f", "gone.png" },
            { { host::LineKind::Info, kDefaultStepsLine },
                { host::LineKind::Error, "gone.png does not exist!" } } },
        FailureCase { "TooShort", { "-f", "short.png", "-x", "5", "-y", "3" },
            { { host::LineKind::Error, "cant get size!" } } },
        FailureCase { "StepTallerThanImage", { "-f", "image.png", "-y", "25" },
            { { host::LineKind::Error, "Cant resize image!" } } },
        FailureCase { "ZeroStep", { "-f", "image.png", "-x", "0", "-y", "0" },
            { { host::LineKind::Error, "Block steps must be at least 1!" } } }),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictile::test
