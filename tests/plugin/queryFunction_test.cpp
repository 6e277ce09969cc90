#include "HostFixture.h"

namespace pictile::test {
namespace {

class QueryFunctionTest : public HostFixture {
protected:
    void SetUp() override
    {
        HostFixture::SetUp();
        ASSERT_TRUE(loadPictile().status);
    }
};

Rgba grey(unsigned int, unsigned int)
{
    return { 90, 90, 90, 255 };
}

struct QueryCase {
    const char* name;
    unsigned int width;
    unsigned int height;
    std::vector<std::string> args;  // after the file flag
    MStatus::MStatusCode status;
    host::CommandResult result;
    std::vector<host::EditorLine> lines;
};

class QueryFunctionCases : public QueryFunctionTest, public ::testing::WithParamInterface<QueryCase> { };

TEST_P(QueryFunctionCases, GivesSizeOrShowsOneError)
{
    const QueryCase& c = GetParam();
    writeImage("image.png", c.width, c.height, grey);
    std::vector<std::string> args { "-f", "image.png" };
    args.insert(args.end(), c.args.begin(), c.args.end());

    const host::Invocation invocation = run("queryFunction", args);

    EXPECT_EQ(invocation.status, c.status);
    EXPECT_EQ(invocation.result, c.result);
    EXPECT_EQ(lines, c.lines);
}

const std::vector<host::EditorLine> kNoLines;
const std::vector<host::EditorLine> kSizeFailed { { host::LineKind::Error, "Size failed!" } };

INSTANTIATE_TEST_SUITE_P(Sizes, QueryFunctionCases,
    ::testing::Values(QueryCase { "Width", 64, 48, { "-qX" }, MS::kSuccess, 64, kNoLines },
        QueryCase { "Height", 64, 48, { "-qY" }, MS::kSuccess, 48, kNoLines },
        // The height is set last, so it wins.
        QueryCase { "BothGiveHeight", 64, 48, { "-qX", "-qY" }, MS::kSuccess, 48, kNoLines },
        QueryCase { "BothReversedGiveHeight", 64, 48, { "-qY", "-qX" }, MS::kSuccess, 48, kNoLines },
        QueryCase { "NeitherSetsNoResult", 64, 48, {}, MS::kSuccess, std::monostate {}, kNoLines },
        // The shared long name belongs to the flag declared first.
        QueryCase { "LongNameSelectsWidth", 64, 48, { "-queryMode" }, MS::kSuccess, 64, kNoLines },
        QueryCase { "TenByTenPasses", 10, 10, { "-qX" }, MS::kSuccess, 10, kNoLines },
        QueryCase { "NineWideFails", 9, 10, { "-qX" }, MS::kFailure, std::monostate {}, kSizeFailed },
        QueryCase { "NineHighFails", 10, 9, { "-qY" }, MS::kFailure, std::monostate {}, kSizeFailed },
        QueryCase { "SmallFailsWithoutQueryFlag", 9, 9, {}, MS::kFailure, std::monostate {}, kSizeFailed }),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST_F(QueryFunctionTest, LongFileFlagWorks)
{
    writeImage("wide.png", 30, 12, grey);
    const host::Invocation invocation = run("queryFunction", { "-file", "wide.png", "-qX" });
    EXPECT_EQ(invocation.status, MS::kSuccess);
    EXPECT_EQ(invocation.result, host::CommandResult { 30 });
}

TEST_F(QueryFunctionTest, WithoutFileFlagTouchesNoFile)
{
    const host::Invocation invocation = run("queryFunction", { "-qX" });
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(invocation.result, host::CommandResult {});
    EXPECT_EQ(lines, errorLine("No file flag!"));
}

TEST_F(QueryFunctionTest, UnreadablePathIsNamedInTheError)
{
    for (const std::string& path : { std::string("missing.png"), std::string() }) {
        const host::Invocation invocation = run("queryFunction", { "-f", path, "-qX" });
        EXPECT_EQ(invocation.status, MS::kFailure);
        EXPECT_EQ(invocation.result, host::CommandResult {});
        // The same call again shows the same: nothing is remembered.
        EXPECT_EQ(lines, errorLine(path + " does not exist!"));
        run("queryFunction", { "-f", path, "-qX" });
        EXPECT_EQ(lines, errorLine(path + " does not exist!"));
    }
}

TEST_F(QueryFunctionTest, ParseFailureReturnsTheHostsStatusAndShowsNothingOfItsOwn)
{
    writeImage("image.png", 20, 20, grey);
    const host::Invocation invocation = run("queryFunction", { "-f", "image.png", "-qZ" });
    EXPECT_NE(invocation.status, MS::kSuccess);
    EXPECT_EQ(invocation.result, host::CommandResult {});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].kind, host::LineKind::Error);
    EXPECT_NE(lines[0].text, "No file flag!");
}

}  // namespace
}  // namespace pictile::test
