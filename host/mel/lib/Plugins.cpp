// Built-ins on plug-ins: loading, unloading and what is loaded, through the
// host that loads them.
#include "Plugins.h"

#include "Support.h"

#include <host/ScriptEditor.h>
#include <maya/MString.h>
#include <maya/MTypes.h>

#include <filesystem>
#include <optional>
#include <system_error>

namespace mel {

namespace {

namespace fs = std::filesystem;

// The name a plug-in is known by once loaded: its file name without folder
// and ".so", as the loader names it.
std::string nameOf(const std::string& pathOrName)
{
    return fs::path(pathOrName).stem().string();
}

// The loaded plug-in an argument names: by its name, its file name, or (with
// a '/') the path of its library.
std::optional<PluginHost::Plugin> findPlugin(const PluginHost& host, const std::string& argument)
{
    const bool isPath = argument.find('/') != std::string::npos;
    std::error_code ignored;
    const std::string path
        = isPath ? fs::absolute(argument, ignored).lexically_normal().string() : std::string();
    for (PluginHost::Plugin& plugin : host.plugins())
        if (isPath ? plugin.path == path : plugin.name == argument || plugin.name + ".so" == argument)
            return std::move(plugin);
    return std::nullopt;
}

[[noreturn]] void failWith(Call& call, MStatus status, const std::string& error)
{
    host::ScriptEditor::show(
        host::LineKind::Error, error.empty() ? std::string(status.errorString().asChar()) : error);
    call.failShown(status);
}

// loadPlugin [-quiet] PATH_OR_NAME...: the names of the plug-ins it loaded.
// One loaded already is left as it is, with a warning unless -quiet, and is
// not among them; the first that cannot be loaded fails the call with the
// loader's reason, those before it staying loaded.
void loadPlugin(Call& call, PluginHost& host)
{
    static const std::vector<FlagSpec> table = { { "-quiet", "-qt" } };
    const Flags flags = readFlags(call, table);
    if (flags.positional.empty())
        call.fail("loadPlugin: no plug-in given");
    std::vector<std::string> loaded;
    for (const std::size_t i : flags.positional) {
        const std::string argument = flags.text(call, i);
        const std::string name = nameOf(argument);
        if (findPlugin(host, name)) {
            if (!flags.find(0))
                host::ScriptEditor::show(
                    host::LineKind::Warning, "Plug-in \"" + name + "\" is already loaded");
            continue;
        }
        std::string error;
        const MStatus status = host.load(argument, error);
        if (!status)
            failWith(call, status, error);
        loaded.push_back(name);
    }
    call.give(std::move(loaded));
}

// unloadPlugin [-force] NAME...: the names of the plug-ins it unloaded; the
// first that is not loaded, or whose uninitializePlugin fails, fails the call.
void unloadPlugin(Call& call, PluginHost& host)
{
    static const std::vector<FlagSpec> table = { { "-force", "-f" } };
    const Flags flags = readFlags(call, table);
    if (flags.positional.empty())
        call.fail("unloadPlugin: no plug-in given");
    std::vector<std::string> unloaded;
    for (const std::size_t i : flags.positional) {
        const std::string argument = flags.text(call, i);
        const std::optional<PluginHost::Plugin> plugin = findPlugin(host, argument);
        const std::string name = plugin ? plugin->name : argument;
        std::string error;
        const MStatus status = host.unload(name, error);
        if (!status)
            failWith(call, status, error);
        unloaded.push_back(name);
    }
    call.give(std::move(unloaded));
}

// pluginInfo [-query] -FLAG [PLUG-IN]: what is loaded. -listPlugins and
// -listPluginsPath name every loaded plug-in; -loaded and -registered say
// whether one is (a plug-in is registered while it is loaded); -name, -path,
// -vendor, -version, -apiVersion and -command tell of a loaded one, and fail
// for one that is not. -unloadOk is 1: nothing holds a plug-in's commands.
void pluginInfo(Call& call, PluginHost& host)
{
    enum {
        Query,
        ListPlugins,
        ListPluginsPath,
        Loaded,
        Registered,
        Name,
        Path,
        Vendor,
        Version,
        ApiVersion,
        Command,
        UnloadOk
    };
    static const std::vector<FlagSpec> table = {
        { "-query", "-q" },
        { "-listPlugins", "-ls" },
        { "-listPluginsPath", "-lsp" },
        { "-loaded", "-l" },
        { "-registered", "-r" },
        { "-name", "-n" },
        { "-path", "-p" },
        { "-vendor", "-vd" },
        { "-version", "-v" },
        { "-apiVersion", "-av" },
        { "-command", "-c" },
        { "-unloadOk", "-uo" },
    };
    const Flags flags = readFlags(call, table);
    const Flags::Given* asked = nullptr;
    for (const Flags::Given& flag : flags.given)
        if (flag.row != Query && asked == nullptr)
            asked = &flag;
    if (asked == nullptr)
        call.fail("pluginInfo: no flag says what to tell");
    if (asked->row == ListPlugins || asked->row == ListPluginsPath) {
        std::vector<std::string> names;
        for (const PluginHost::Plugin& plugin : host.plugins())
            names.push_back(asked->row == ListPlugins ? plugin.name : plugin.path);
        call.give(std::move(names));
        return;
    }
    if (flags.positional.size() != 1)
        call.fail("pluginInfo: give one plug-in, by name or path");
    const std::string argument = flags.text(call, flags.positional[0]);
    const std::optional<PluginHost::Plugin> plugin = findPlugin(host, argument);
    if (asked->row == Loaded || asked->row == Registered) {
        call.give(plugin ? 1 : 0);
        return;
    }
    if (!plugin)
        call.fail("pluginInfo: plug-in \"" + argument + "\" is not loaded");
    switch (asked->row) {
    case Name:
        call.give(plugin->name);
        return;
    case Path:
        call.give(plugin->path);
        return;
    case Vendor:
        call.give(plugin->vendor);
        return;
    case Version:
        call.give(plugin->version);
        return;
    case ApiVersion:
        // The loader loads a plug-in only when it was built for this API.
        call.give(std::to_string(MAYA_API_VERSION));
        return;
    case Command:
        call.give(plugin->commands);
        return;
    default:
        call.give(1);
        return;
    }
}

}  // namespace

std::vector<Builtin> pluginBuiltins(PluginHost& host)
{
    PluginHost* const loader = &host;
    return {
        { "loadPlugin", 1, Builtin::kAnyCount, [loader](Call& call) { loadPlugin(call, *loader); } },
        { "unloadPlugin", 1, Builtin::kAnyCount, [loader](Call& call) { unloadPlugin(call, *loader); } },
        { "pluginInfo", 1, Builtin::kAnyCount, [loader](Call& call) { pluginInfo(call, *loader); } },
    };
}

}  // namespace mel
