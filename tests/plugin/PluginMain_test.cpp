#include "HostFixture.h"

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>

namespace pictile::test {
namespace {

const char* const kCommandNames[] = { "averageFunction", "depthFunction", "queryFunction", "resizeFunction" };

void* noCommand()
{
    return nullptr;
}

class PluginMainTest : public HostFixture {
protected:
    // A command registered before the plug-in loads, so its own registration fails.
    void takeName(const char* name)
    {
        ASSERT_TRUE(registry.registerCommand(squatter, name, noCommand, nullptr));
    }

    std::string failureOf(const char* message) const
    {
        return std::string(message) + ": " + MStatus(MS::kFailure).errorString().asChar();
    }

    host::PluginRecord squatter { "squatter" };
};

TEST_F(PluginMainTest, LoadRegistersAllFourAndUnloadRemovesThem)
{
    ASSERT_TRUE(loadPictile().status);
    EXPECT_TRUE(lines.empty());
    for (const char* name : kCommandNames)
        EXPECT_TRUE(registry.contains(name)) << name;

    std::string error;
    EXPECT_TRUE(loader->unload("pictile", error));
    EXPECT_TRUE(host::ScriptEditor::take().empty());
    for (const char* name : kCommandNames)
        EXPECT_FALSE(registry.contains(name)) << name;
}

TEST_F(PluginMainTest, EarlierRegistrationFailureIsPrintedButNotReturned)
{
    takeName("depthFunction");

    const host::PluginLoader::LoadOutcome outcome = loadPictile();

    EXPECT_TRUE(outcome.status);
    EXPECT_EQ(lines,
        (std::vector<host::EditorLine> { { host::LineKind::StatusPrint,
            failureOf("could not register the \"depthFunction\" mel command") } }));
    EXPECT_EQ(registry.commandsOf(squatter), std::vector<std::string> { "depthFunction" });
    EXPECT_TRUE(registry.contains("averageFunction"));
    EXPECT_TRUE(registry.contains("queryFunction"));
    EXPECT_TRUE(registry.contains("resizeFunction"));
}

TEST_F(PluginMainTest, LastRegistrationFailureFailsTheLoadButKeepsTheOthers)
{
    takeName("resizeFunction");

    const host::PluginLoader::LoadOutcome outcome = loadPictile();

    EXPECT_EQ(outcome.status, MS::kFailure);
    EXPECT_TRUE(outcome.loaded);
    EXPECT_EQ(lines,
        (std::vector<host::EditorLine> { { host::LineKind::StatusPrint,
            failureOf("could not register the \"resizeFunction\" mel command") } }));
    EXPECT_TRUE(loader->isLoaded("pictile"));
    EXPECT_TRUE(registry.contains("averageFunction"));
    EXPECT_TRUE(registry.contains("depthFunction"));
    EXPECT_TRUE(registry.contains("queryFunction"));
}

TEST_F(PluginMainTest, UnloadAfterPartialLoadTriesEveryRow)
{
    takeName("averageFunction");
    takeName("resizeFunction");
    loadPictile();

    std::string error;
    const MStatus status = loader->unload("pictile", error);

    EXPECT_EQ(status, MS::kFailure);
    EXPECT_EQ(host::ScriptEditor::take(),
        (std::vector<host::EditorLine> {
            { host::LineKind::StatusPrint,
                failureOf("could not de-register the \"averageFunction\" command") },
            { host::LineKind::StatusPrint,
                failureOf("could not de-register the \"resizeFunction\" command") } }));
    EXPECT_FALSE(registry.contains("depthFunction"));
    EXPECT_FALSE(registry.contains("queryFunction"));
    EXPECT_EQ(
        registry.commandsOf(squatter), (std::vector<std::string> { "averageFunction", "resizeFunction" }));
}

TEST(PluginExports, OnlyTheVersionAndTheTwoEntryPoints)
{
    const std::string command = std::string("nm -D --defined-only ") + PICTILE_PLUGIN_PATH;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::set<std::string> exported;
    char line[512];
    while (fgets(line, sizeof line, pipe.get())) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        exported.insert(name);
    }
    EXPECT_EQ(exported, (std::set<std::string> { "MApiVersion", "initializePlugin", "uninitializePlugin" }));
}

}  // namespace
}  // namespace pictile::test
