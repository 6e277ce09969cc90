#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

// Names the linker and C runtime define in every shared object.
bool isLinkerSymbol(const std::string& name)
{
    static const std::set<std::string> names { "_init", "_fini", "__bss_start", "_edata", "_end", "__end__",
        "__bss_start__", "__bss_end__", "_bss_end__", "__data_start" };
    return names.count(name) != 0;
}

struct PipeCloser {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

// The dynamic symbols `library` defines, as `nm -D --defined-only` lists them,
// without linker symbols and version suffixes.
std::set<std::string> exportedSymbols(const std::string& library)
{
    const std::string command = "nm -D --defined-only '" + library + "'";
    std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    if (pipe == nullptr)
        return {};
    std::string listing;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
        listing += buffer;

    std::set<std::string> symbols;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::string name = line.substr(line.find_last_of(' ') + 1);
        name = name.substr(0, name.find('@'));
        if (!name.empty() && !isLinkerSymbol(name))
            symbols.insert(name);
    }
    return symbols;
}

TEST(PluginExportsTest, AHostPluginExportsOnlyItsEntryPoints)
{
    const std::set<std::string> expected { "MApiVersion", "initializePlugin", "uninitializePlugin" };
    EXPECT_EQ(exportedSymbols(TEST_PLUGIN_DIR "/api_good_plugin.so"), expected);
}

// The API library exports the plug-in API and the runtime's interface for hosts;
// the image services stay inside it (mangled names hold the namespace and class).
TEST(PluginExportsTest, TheApiLibraryKeepsItsImageServicesInside)
{
    const std::set<std::string> symbols = exportedSymbols(TEST_PLUGIN_DIR "/libOpenMaya.so");
    EXPECT_GT(symbols.count("_ZN6MImage12readFromFileE7MString"), 0u);
    for (const std::string& symbol : symbols) {
        for (const char* internal :
            { "readImageFile", "writeImageFile", "LooksSound", "resampleRgba", "allocateBytes", "fitInside" })
            EXPECT_EQ(symbol.find(internal), std::string::npos) << symbol;
    }
}

// The OpenImageIO module is opened by the host alone, through its one entry.
TEST(PluginExportsTest, TheOpenImageIOModuleExportsOnlyItsEntry)
{
    const std::set<std::string> expected { "pictile_oiio_module" };
    EXPECT_EQ(exportedSymbols(TEST_PLUGIN_DIR "/pictile_oiio.so"), expected);
}

// Shows that the listing does see symbols beyond the entry points where a
// library exports them.
TEST(PluginExportsTest, APlainModuleExportsMore)
{
    const std::set<std::string> symbols = exportedSymbols(TEST_PLUGIN_DIR "/api_wrong_version_plugin.so");
    EXPECT_EQ(symbols.count("MApiVersion"), 1u);
    EXPECT_GT(symbols.size(), 3u);
}

}  // namespace
