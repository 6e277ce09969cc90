#include <host/PluginLoader.h>
#include <host/ScriptEditor.h>

#include <maya/MObject.h>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

namespace host {

namespace {

using EntryPoint = MStatus (*)(MObject);

struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

std::string pluginNameOf(const std::string& path)
{
    return std::filesystem::path(path).stem().string();
}

constexpr const char* kPluginSuffix = ".so";

// The folder holding the API library this process runs on. The install keeps the
// plug-ins below it, so a moved or unpacked install still finds its own.
std::string apiLibraryFolder()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&lineKindName), &info) == 0 || info.dli_fname == nullptr)
        return "";
    return std::filesystem::path(info.dli_fname).lexically_normal().parent_path().string();
}

std::string pluginFileName(const std::string& name)
{
    const std::size_t suffixLength = std::strlen(kPluginSuffix);
    const bool hasSuffix = name.size() > suffixLength
        && name.compare(name.size() - suffixLength, suffixLength, kPluginSuffix) == 0;
    return hasSuffix ? name : name + kPluginSuffix;
}

bool isRegularFile(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

// Empty when `path` names a regular file (or nothing, which dlopen reports
// itself), else what it is instead.
std::string notRegularFile(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode))
        return "";
    return S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file";
}

std::string joined(const std::vector<std::string>& folders)
{
    std::string text;
    for (const std::string& folder : folders)
        text += (text.empty() ? "" : ", ") + folder;
    return text;
}

std::string lastDlError()
{
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

// Empty when the library exports the API version this host loads, else what is wrong.
std::string apiVersionProblem(void* library)
{
    const auto* version = static_cast<const char*>(dlsym(library, "MApiVersion"));
    if (version == nullptr)
        return "it exports no MApiVersion";
    // Read no further than the symbol's own size, so that a longer version than
    // this host's is still read as one; without a size, no further than the
    // version this host loads and its NUL.
    Dl_info info;
    void* entry = nullptr;
    std::size_t readable = std::strlen(kApiVersion) + 1;
    if (dladdr1(version, &info, &entry, RTLD_DL_SYMENT) != 0 && entry != nullptr
        && static_cast<const ElfW(Sym)*>(entry)->st_size > 0)
        readable = static_cast<const ElfW(Sym)*>(entry)->st_size;
    if (std::memchr(version, '\0', readable) == nullptr)
        return "its MApiVersion is not a version string";
    if (std::strcmp(version, kApiVersion) != 0)
        return "it was built for API version " + std::string(version) + ", this host loads " + kApiVersion;
    return "";
}

EntryPoint entryPointOf(void* library, const char* name)
{
    return reinterpret_cast<EntryPoint>(dlsym(library, name));
}

// Calls a plug-in entry point; an exception out of plug-in code is a failure.
MStatus callEntryPoint(EntryPoint entryPoint, MObject object, std::string& exceptionText)
{
    try {
        return entryPoint(object);
    } catch (const std::exception& error) {
        exceptionText = error.what();
    } catch (...) {
        exceptionText = "unknown exception";
    }
    return MStatus::kFailure;
}

std::string entryPointFailure(const char* entryPointName, const std::string& pluginName, MStatus status,
    const std::string& exceptionText)
{
    const std::string subject = std::string(entryPointName) + " of \"" + pluginName + "\"";
    if (!exceptionText.empty())
        return subject + " threw: " + exceptionText;
    return subject + " failed: " + status.errorString().asChar();
}

}  // namespace

struct PluginLoader::Plugin {
    LibraryHandle library;
    PluginRecord record;
    ObjectAccess::LoadingPlugin loading;
    EntryPoint initializePlugin;
    EntryPoint uninitializePlugin;
};

PluginLoader::PluginLoader(CommandRegistry& registry)
    : registry_(registry)
{
}

PluginLoader::~PluginLoader()
{
    while (!plugins_.empty()) {
        std::string ignored;
        unload(plugins_.back()->record.name, ignored);
    }
}

std::vector<std::string> PluginLoader::pluginPath()
{
    std::vector<std::string> folders;
    const char* variable = std::getenv("MAYA_PLUG_IN_PATH");
    const std::string listed = variable != nullptr ? variable : "";
    std::size_t start = 0;
    while (start <= listed.size()) {
        const std::size_t end = std::min(listed.find(':', start), listed.size());
        if (end > start)
            folders.push_back(listed.substr(start, end - start));
        start = end + 1;
    }
    const std::string apiFolder = apiLibraryFolder();
    if (!apiFolder.empty())
        folders.push_back((std::filesystem::path(apiFolder) / "pictile" / "plug-ins").string());
    return folders;
}

PluginLoader::LoadOutcome PluginLoader::load(const std::string& pathOrName)
{
    if (pathOrName.find('/') != std::string::npos)
        return loadPath(pathOrName);
    const std::string fileName = pluginFileName(pathOrName);
    const std::vector<std::string> folders = pluginPath();
    for (const std::string& folder : folders) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / fileName;
        if (isRegularFile(candidate))
            return loadPath(candidate.string());
    }
    return { MStatus::kNotFound,
        "Cannot find plug-in \"" + pathOrName + "\": no " + fileName + " in " + joined(folders), false };
}

PluginLoader::LoadOutcome PluginLoader::loadPath(const std::string& path)
{
    const std::string name = pluginNameOf(path);
    if (isLoaded(name))
        return { MStatus::kFailure, "Plug-in \"" + name + "\" is already loaded", false };

    const std::string refusal = "Cannot load plug-in \"" + path + "\": ";
    // dlopen would wait for ever on a FIFO and read a device without end; only a
    // regular file can hold a library.
    const std::string notRegular = notRegularFile(path);
    if (!notRegular.empty())
        return { MStatus::kNotFound, refusal + notRegular, false };
    LibraryHandle library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (library == nullptr)
        return { MStatus::kNotFound, refusal + lastDlError(), false };
    const std::string versionProblem = apiVersionProblem(library.get());
    if (!versionProblem.empty())
        return { MStatus::kFailure, refusal + versionProblem, false };
    const EntryPoint initializePlugin = entryPointOf(library.get(), "initializePlugin");
    const EntryPoint uninitializePlugin = entryPointOf(library.get(), "uninitializePlugin");
    if (initializePlugin == nullptr || uninitializePlugin == nullptr)
        return { MStatus::kFailure, refusal + "it lacks initializePlugin or uninitializePlugin", false };

    std::error_code ignored;
    const std::string absolutePath = std::filesystem::absolute(path, ignored).lexically_normal().string();
    plugins_.push_back(std::make_unique<Plugin>(Plugin { std::move(library),
        PluginRecord { name, absolutePath, "", "" }, {}, initializePlugin, uninitializePlugin }));
    Plugin& plugin = *plugins_.back();
    plugin.loading = ObjectAccess::LoadingPlugin { &registry_, &plugin.record };

    // A failing initializePlugin leaves the plug-in loaded with what it did
    // register, so that the user can still unload it.
    std::string exceptionText;
    const MStatus status
        = callEntryPoint(plugin.initializePlugin, ObjectAccess::objectFor(plugin.loading), exceptionText);
    if (!status)
        return { status, entryPointFailure("initializePlugin", name, status, exceptionText), true };
    return { MStatus::kSuccess, "", true };
}

MStatus PluginLoader::unload(const std::string& name, std::string& error)
{
    auto found = plugins_.begin();
    while (found != plugins_.end() && (*found)->record.name != name)
        ++found;
    if (found == plugins_.end()) {
        error = "Plug-in \"" + name + "\" is not loaded";
        return MStatus::kNotFound;
    }
    Plugin& plugin = **found;

    std::string exceptionText;
    const MStatus status
        = callEntryPoint(plugin.uninitializePlugin, ObjectAccess::objectFor(plugin.loading), exceptionText);
    error = status ? "" : entryPointFailure("uninitializePlugin", name, status, exceptionText);
    // The commands go before the library: their creators and code live in it.
    registry_.removeCommandsOf(plugin.record);
    plugins_.erase(found);
    return status;
}

bool PluginLoader::isLoaded(const std::string& name) const
{
    for (const auto& plugin : plugins_) {
        if (plugin->record.name == name)
            return true;
    }
    return false;
}

const PluginRecord* PluginLoader::record(const std::string& name) const
{
    for (const auto& plugin : plugins_)
        if (plugin->record.name == name)
            return &plugin->record;
    return nullptr;
}

std::vector<std::string> PluginLoader::loadedPlugins() const
{
    std::vector<std::string> names;
    for (const auto& plugin : plugins_)
        names.push_back(plugin->record.name);
    return names;
}

}  // namespace host
