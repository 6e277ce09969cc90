#include "editorTest.h"

#include <host/PluginLoader.h>

#include <cstdlib>
#include <optional>

namespace {

using host::CommandRegistry;
using host::CommandResult;
using host::EditorLine;
using host::LineKind;
using host::PluginLoader;

std::string pluginPath(const std::string& name)
{
    return std::string(TEST_PLUGIN_DIR) + "/" + name + ".so";
}

MArgList argsOf(std::initializer_list<const char*> tokens)
{
    MArgList args;
    for (const char* token : tokens)
        args.addArg(token);
    return args;
}

class LoaderTest : public EditorTest {
protected:
    CommandRegistry registry;
    PluginLoader loader { registry };
};

TEST_F(LoaderTest, LoadsRunsAndUnloadsAPlugin)
{
    const PluginLoader::LoadOutcome outcome = loader.load(pluginPath("api_good_plugin"));
    ASSERT_EQ(outcome.status, MS::kSuccess) << outcome.error;
    EXPECT_TRUE(outcome.loaded);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(loader.loadedPlugins(), std::vector<std::string> { "api_good_plugin" });

    const host::Invocation invocation = registry.run("apiGoodCommand", argsOf({ "-value", "21" }));
    EXPECT_EQ(invocation.status, MS::kSuccess);
    EXPECT_EQ(invocation.result, CommandResult(42));

    std::string error = "stale";
    EXPECT_EQ(loader.unload("api_good_plugin", error), MS::kSuccess);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(loader.isLoaded("api_good_plugin"));
    EXPECT_FALSE(registry.contains("apiGoodCommand"));
}

TEST_F(LoaderTest, RefusesAPluginAlreadyLoadedUnderTheSameName)
{
    ASSERT_EQ(loader.load(pluginPath("api_good_plugin")).status, MS::kSuccess);
    const PluginLoader::LoadOutcome again = loader.load(pluginPath("api_good_plugin"));
    EXPECT_EQ(again.status, MS::kFailure);
    EXPECT_FALSE(again.loaded);
    EXPECT_EQ(again.error, "Plug-in \"api_good_plugin\" is already loaded");
    EXPECT_EQ(loader.loadedPlugins(), std::vector<std::string> { "api_good_plugin" });
    EXPECT_EQ(registry.run("apiGoodCommand", argsOf({ "-v", "1" })).result, CommandResult(2));
}

TEST_F(LoaderTest, AFailingInitializeKeepsThePluginAndWhatItRegistered)
{
    const PluginLoader::LoadOutcome outcome = loader.load(pluginPath("api_failing_init_plugin"));
    EXPECT_EQ(outcome.status, MS::kInvalidParameter);
    EXPECT_EQ(outcome.error, "initializePlugin of \"api_failing_init_plugin\" failed: Invalid Parameter");
    EXPECT_TRUE(outcome.loaded);
    EXPECT_TRUE(loader.isLoaded("api_failing_init_plugin"));
    EXPECT_EQ(
        registry.run("apiFailingInitCommand", MArgList()).result, CommandResult(std::string("still here")));

    std::string error;
    EXPECT_EQ(loader.unload("api_failing_init_plugin", error), MS::kSuccess);
    EXPECT_FALSE(registry.contains("apiFailingInitCommand"));
}

TEST_F(LoaderTest, ExceptionsFromEntryPointsAreFailures)
{
    const PluginLoader::LoadOutcome outcome = loader.load(pluginPath("api_throwing_init_plugin"));
    EXPECT_EQ(outcome.status, MS::kFailure);
    EXPECT_EQ(
        outcome.error, "initializePlugin of \"api_throwing_init_plugin\" threw: initialization exploded");
    EXPECT_TRUE(outcome.loaded);
    EXPECT_TRUE(registry.contains("apiThrowingInitCommand"));

    std::string error;
    EXPECT_EQ(loader.unload("api_throwing_init_plugin", error), MS::kFailure);
    EXPECT_EQ(error, "uninitializePlugin of \"api_throwing_init_plugin\" threw: uninitialization exploded");
    EXPECT_FALSE(loader.isLoaded("api_throwing_init_plugin"));
    EXPECT_FALSE(registry.contains("apiThrowingInitCommand"));
}

TEST_F(LoaderTest, UnloadOfAnUnknownNameIsNotFound)
{
    std::string error;
    EXPECT_EQ(loader.unload("nothing", error), MS::kNotFound);
    EXPECT_EQ(error, "Plug-in \"nothing\" is not loaded");
}

TEST_F(LoaderTest, UnloadsEverythingNewestFirstWhenItGoes)
{
    {
        PluginLoader scoped(registry);
        scoped.load(pluginPath("api_good_plugin"));
        scoped.load(pluginPath("api_failing_init_plugin"));
        host::ScriptEditor::take();
    }
    const std::vector<EditorLine> expected {
        { LineKind::Info, "api_failing_init_plugin: uninitializePlugin" },
        { LineKind::Info, "api_good_plugin: uninitializePlugin" },
    };
    EXPECT_EQ(host::ScriptEditor::take(), expected);
    EXPECT_FALSE(registry.contains("apiGoodCommand"));
    EXPECT_FALSE(registry.contains("apiFailingInitCommand"));
}

struct Refusal {
    const char* plugin;
    MStatus::MStatusCode status;
    const char* reason;  ///< After "Cannot load plug-in "<path>": ".
};

class RefusalTest : public LoaderTest, public testing::WithParamInterface<Refusal> { };

TEST_P(RefusalTest, LeavesNothingLoaded)
{
    const std::string path = pluginPath(GetParam().plugin);
    const PluginLoader::LoadOutcome outcome = loader.load(path);

    EXPECT_EQ(outcome.status, GetParam().status);
    EXPECT_FALSE(outcome.loaded);
    const std::string prefix = "Cannot load plug-in \"" + path + "\": ";
    EXPECT_EQ(outcome.error.substr(0, prefix.size()), prefix);
    EXPECT_NE(outcome.error.find(GetParam().reason, prefix.size()), std::string::npos) << outcome.error;
    EXPECT_EQ(outcome.error.find('\n'), std::string::npos);
    EXPECT_TRUE(loader.loadedPlugins().empty());
    EXPECT_FALSE(registry.contains("apiFlawedCommand"));
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest,
    testing::Values(Refusal { "api_missing_plugin", MS::kNotFound, "cannot open shared object file" },
        Refusal { "api_no_version_plugin", MS::kFailure, "it exports no MApiVersion" },
        Refusal { "api_wrong_version_plugin", MS::kFailure,
            "it was built for API version 6000, this host loads 600" },
        Refusal {
            "api_unterminated_version_plugin", MS::kFailure, "its MApiVersion is not a version string" },
        Refusal {
            "api_no_uninitialize_plugin", MS::kFailure, "it lacks initializePlugin or uninitializePlugin" }));

// A plug-in given by name comes from the first folder of the plug-in path that
// holds it; "@" in a row stands for the folder of the built plug-ins and the API
// library.
struct NameLookup {
    const char* pluginPathVariable;  ///< MAYA_PLUG_IN_PATH for the case; null: unset.
    const char* request;
    MStatus::MStatusCode status;
    const char* error;
};

std::string withPluginDir(const char* text)
{
    std::string expanded = text;
    for (std::size_t at = expanded.find('@'); at != std::string::npos; at = expanded.find('@', at + 1))
        expanded.replace(at, 1, TEST_PLUGIN_DIR);
    return expanded;
}

class NameLookupTest : public LoaderTest, public testing::WithParamInterface<NameLookup> {
protected:
    void SetUp() override
    {
        LoaderTest::SetUp();
        const char* saved = std::getenv("MAYA_PLUG_IN_PATH");
        if (saved != nullptr)
            savedVariable = saved;
        if (GetParam().pluginPathVariable != nullptr)
            setenv("MAYA_PLUG_IN_PATH", withPluginDir(GetParam().pluginPathVariable).c_str(), 1);
        else
            unsetenv("MAYA_PLUG_IN_PATH");
    }
    void TearDown() override
    {
        if (savedVariable)
            setenv("MAYA_PLUG_IN_PATH", savedVariable->c_str(), 1);
        else
            unsetenv("MAYA_PLUG_IN_PATH");
    }
    std::optional<std::string> savedVariable;
};

TEST_P(NameLookupTest, TakesThePluginFromThePluginPath)
{
    const PluginLoader::LoadOutcome outcome = loader.load(GetParam().request);

    EXPECT_EQ(outcome.status, GetParam().status);
    EXPECT_EQ(outcome.error, withPluginDir(GetParam().error));
    const bool found = GetParam().status == MS::kSuccess;
    EXPECT_EQ(outcome.loaded, found);
    EXPECT_EQ(registry.contains("apiGoodCommand"), found);
}

INSTANTIATE_TEST_SUITE_P(Cases, NameLookupTest,
    testing::Values(NameLookup { "@", "api_good_plugin", MS::kSuccess, "" },
        NameLookup { "/nowhere:@", "api_good_plugin.so", MS::kSuccess, "" },
        NameLookup { nullptr, "api_good_plugin", MS::kNotFound,
            "Cannot find plug-in \"api_good_plugin\": no api_good_plugin.so in @/pictile/plug-ins" },
        NameLookup { "/nowhere::/also/nowhere:", "pictile", MS::kNotFound,
            "Cannot find plug-in \"pictile\": no pictile.so in /nowhere, /also/nowhere, @/pictile/plug-ins" },
        NameLookup { "@", "api_no_version_plugin", MS::kFailure,
            "Cannot load plug-in \"@/api_no_version_plugin.so\": it exports no MApiVersion" }));

}  // namespace
