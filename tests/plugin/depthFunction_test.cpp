#include "HostFixture.h"
#include "ReferenceBlocks.h"

namespace pictile::test {
namespace {

// Every channel says where its pixel is, so a value read from the wrong place shows.
Rgba coordinates(unsigned int x, unsigned int y)
{
    return { static_cast<unsigned char>(x), static_cast<unsigned char>(y),
        static_cast<unsigned char>(x * 7 + y * 13), static_cast<unsigned char>(255 - x) };
}

class DepthFunctionTest : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(loadPictile().status);
    }
};

struct GridCase {
    const char* name;
    unsigned int width;
    unsigned int height;
    std::vector<std::string> stepArgs;
    unsigned int stepX;
    unsigned int stepY;
    std::size_t valueCount;
    bool defaultStepsLine;
};

class DepthFunctionGrid : public DepthFunctionTest, public ::testing::WithParamInterface<GridCase> { };

TEST_P(DepthFunctionGrid, SamplesTheFirstPixelOfEveryBlock)
{
    const GridCase& c = GetParam();
    writeImage("grid.png", c.width, c.height, coordinates);
    // Where the image must be fitted first, the expected pixels come from the
    // host's own resize of the same image.
    MImage expected = readImage("grid.png");
    const unsigned int fittedWidth = c.width - c.width % c.stepX;
    const unsigned int fittedHeight = c.height - c.height % c.stepY;
    if (fittedWidth != c.width || fittedHeight != c.height) {
        ASSERT_TRUE(expected.resize(static_cast<int>(fittedWidth), static_cast<int>(fittedHeight), false));
    }

    std::vector<std::string> args { "-f", "grid.png" };
    args.insert(args.end(), c.stepArgs.begin(), c.stepArgs.end());
    const host::Invocation invocation = run("depthFunction", args);

    ASSERT_EQ(invocation.status, MS::kSuccess);
    const std::vector<int> values = intResult(invocation);
    EXPECT_EQ(values.size(), c.valueCount);
    EXPECT_EQ(values, referenceSample(channelValues(expected), fittedWidth, fittedHeight, c.stepX, c.stepY));
    EXPECT_EQ(lines, c.defaultStepsLine ? infoLine(kDefaultStepsLine) : std::vector<host::EditorLine> {});
}

INSTANTIATE_TEST_SUITE_P(Layouts, DepthFunctionGrid,
    ::testing::Values(GridCase { "DefaultSteps", 20, 20, {}, 10, 10, 16, true },
        GridCase { "FittedFirst", 25, 23, { "-x", "10", "-y", "10" }, 10, 10, 16, false },
        GridCase { "WideBlocks", 100, 50, { "-x", "25", "-y", "10" }, 25, 10, 80, false },
        GridCase { "OneBlock", 30, 20, { "-xcoord", "30", "-ycoord", "20" }, 30, 20, 4, false },
        GridCase { "EveryPixel", 10, 10, { "-x", "1", "-y", "1" }, 1, 1, 400, false },
        // A missing step is 10, and no default-steps line is shown.
        GridCase { "OnlyX", 30, 20, { "-x", "15" }, 15, 10, 16, false },
        GridCase { "OnlyY", 20, 30, { "-y", "15" }, 10, 15, 16, false },
        // Real-number steps are truncated by the host.
        GridCase { "FractionalStep", 20, 20, { "-x", "5.9", "-y", "10" }, 5, 10, 32, false }),
    [](const ::testing::TestParamInfo<GridCase>& info) { return std::string(info.param.name); });

TEST_F(DepthFunctionTest, NamedPixelsOfTheWideGrid)
{
    writeImage("grid.png", 100, 50, coordinates);
    const std::vector<int> values
        = intResult(run("depthFunction", { "-f", "grid.png", "-x", "25", "-y", "10" }));
    ASSERT_EQ(values.size(), 80u);
    EXPECT_EQ(
        std::vector<int>(values.begin() + 4, values.begin() + 8), (std::vector<int> { 25, 0, 175, 230 }));
    EXPECT_EQ(
        std::vector<int>(values.begin() + 16, values.begin() + 20), (std::vector<int> { 0, 10, 130, 255 }));
}

TEST_F(DepthFunctionTest, FullBytesStayPositive)
{
    writeImage("white.png", 10, 10, [](unsigned int, unsigned int) { return Rgba { 255, 255, 255, 255 }; });
    EXPECT_EQ(intResult(run("depthFunction", { "-f", "white.png" })), std::vector<int>(4, 255));
}

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<host::EditorLine> lines;
};

class DepthFunctionFailures : public DepthFunctionTest, public ::testing::WithParamInterface<FailureCase> { };

TEST_P(DepthFunctionFailures, ShowOneErrorAndSetNoResult)
{
    writeImage("small.png", 9, 10, coordinates);
    writeImage("image.png", 20, 20, coordinates);
    const host::Invocation invocation = run("depthFunction", GetParam().args);
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(invocation.result, host::CommandResult {});
    EXPECT_EQ(lines, GetParam().lines);
}

const host::EditorLine kBadSteps { host::LineKind::Error, "Block steps must be at least 1!" };

INSTANTIATE_TEST_SUITE_P(Refusals, DepthFunctionFailures,
    ::testing::Values(
        FailureCase { "NoFileFlag", { "-x", "2" }, { { host::LineKind::Error, "No file flag!" } } },
        // The default-steps line comes before the load, so it shows also when the load fails.
        FailureCase { "MissingFile", { "-f", "nowhere.png" },
            { { host::LineKind::Info, kDefaultStepsLine },
                { host::LineKind::Error, "nowhere.png does not exist!" } } },
        FailureCase { "TooSmall", { "-f", "small.png" },
            { { host::LineKind::Info, kDefaultStepsLine }, { host::LineKind::Error, "Size failed!" } } },
        FailureCase { "StepWiderThanImage", { "-f", "image.png", "-x", "21", "-y", "10" },
            { { host::LineKind::Error, "Cant resize image!" } } },
        // Bad steps are refused before the image is looked at: the file does not exist.
        FailureCase { "ZeroStep", { "-f", "nowhere.png", "-x", "0" }, { kBadSteps } },
        FailureCase { "ZeroAfterTruncation", { "-f", "nowhere.png", "-y", "0.5" }, { kBadSteps } },
        FailureCase { "NegativeStep", { "-f", "nowhere.png", "-x", "-5", "-y", "10" }, { kBadSteps } },
        FailureCase { "HugeStep", { "-f", "nowhere.png", "-x", "10", "-y", "4294967296" }, { kBadSteps } }),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictile::test
