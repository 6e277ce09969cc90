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

// Reads flags of `table` and the plug-ins after them, and runs `step` on each
// in turn, which gives a status and the name it did it to (or none). The first
// that fails fails the call with the host's reason, those before it done; the
// call gives the names.
template <typename Step> void eachPlugin(Call& call, const std::vector<FlagSpec>& table, const Step& step)
{
    const Flags flags = readFlags(call, table);
    if (flags.positional.empty())
        call.fail(call.name() + ": no plug-in given");
    std::vector<std::string> names;
    for (const std::size_t i : flags.positional) {
        std::string name;
        std::string error;
        const MStatus status = step(flags, flags.text(call, i), name, error);
        if (!status)
            failWith(call, status, error);
        if (!name.empty())
            names.push_back(std::move(name));
    }
    call.give(std::move(names));
}

// loadPlugin [-quiet] PATH_OR_NAME...: the names of the plug-ins it loaded.
// One loaded already is left as it is, with a warning unless -quiet, and is
// not among them.
void loadPlugin(Call& call, PluginHost& host)
{
    static const std::vector<FlagSpec> table = { { "-quiet", "-qt" } };
    eachPlugin(call, table,
        [&host](const Flags& flags, const std::string& argument, std::string& name, std::string& error) {
            const std::string loading = nameOf(argument);
            if (findPlugin(host, loading)) {
                if (!flags.find(0))
                    host::ScriptEditor::show(
                        host::LineKind::Warning, "Plug-in \"" + loading + "\" is already loaded");
                return MStatus(MS::kSuccess);
            }
            const MStatus status = host.load(argument, error);
            name = loading;
            return status;
        });
}

// unloadPlugin [-force] NAME...: the names of the plug-ins it unloaded; one
// that is not loaded, or whose uninitializePlugin fails, fails the call.
void unloadPlugin(Call& call, PluginHost& host)
{
    static const std::vector<FlagSpec> table = { { "-force", "-f" } };
    eachPlugin(call, table,
        [&host](const Flags&, const std::string& argument, std::string& name, std::string& error) {
            const std::optional<PluginHost::Plugin> plugin = findPlugin(host, argument);
            name = plugin ? plugin->name : argument;
            return host.unload(name, error);
        });
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
