#include "editorTest.h"

#include <host/PluginLoader.h>

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
            "it was built for API version 599, this host loads 600" },
        Refusal {
            "api_unterminated_version_plugin", MS::kFailure, "its MApiVersion is not a version string" },
        Refusal {
            "api_no_uninitialize_plugin", MS::kFailure, "it lacks initializePlugin or uninitializePlugin" }));

}  // namespace
