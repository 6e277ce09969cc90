#pragma once

#include <host/CommandRegistry.h>
#include <maya/MStatus.h>

#include <memory>
#include <string>
#include <vector>

namespace host {

/// The API version this host loads; a plug-in must export it as `MApiVersion`.
inline constexpr const char* kApiVersion = "600";

/// Loads plug-in libraries into one command registry and unloads them again. All
/// plug-ins still loaded are unloaded, newest first, when the loader goes.
class PluginLoader {
public:
    struct LoadOutcome {
        MStatus status;  ///< kSuccess, or why the plug-in is not (fully) loaded.
        std::string error;  ///< One line for the user; empty on success.
        bool loaded = false;  ///< True when the library stays loaded (also after a failing initializePlugin).
    };

    explicit PluginLoader(CommandRegistry& registry);
    PluginLoader(const PluginLoader&) = delete;
    PluginLoader& operator=(const PluginLoader&) = delete;
    ~PluginLoader();

    /// Opens the plug-in library, checks its `MApiVersion` and entry points and
    /// calls `initializePlugin`. An argument with a slash is the library's path;
    /// one without is a plug-in name (`pictile` or `pictile.so`), taken from the
    /// first folder of `pluginPath()` that holds it (kNotFound, naming the
    /// folders, when none does). Refused, with nothing left loaded: a library that
    /// cannot be opened (kNotFound), one already loaded under the same name, one
    /// without `MApiVersion`, with another version, or without both entry points
    /// (kFailure). A failing `initializePlugin` is reported as a failure, but the
    /// plug-in stays loaded with what it registered.
    LoadOutcome load(const std::string& pathOrName);

    /// The folders searched for a plug-in given by name, in order: those listed in
    /// the environment variable MAYA_PLUG_IN_PATH (colon-separated, empty entries
    /// skipped), then the installed plug-in folder `pictile/plug-ins` beside the
    /// API library.
    static std::vector<std::string> pluginPath();

    /// Calls `uninitializePlugin` of the plug-in named `name` (its file name
    /// without folder and extension), removes whatever it left registered and
    /// closes the library. kNotFound when no such plug-in is loaded; the status
    /// of `uninitializePlugin` otherwise (the plug-in is unloaded either way).
    MStatus unload(const std::string& name, std::string& error);

    bool isLoaded(const std::string& name) const;
    /// The names of the loaded plug-ins, oldest first.
    std::vector<std::string> loadedPlugins() const;
    /// The record of the loaded plug-in `name` (its path, vendor and version),
    /// or null; valid until the plug-in is unloaded.
    const PluginRecord* record(const std::string& name) const;

private:
    struct Plugin;
    LoadOutcome loadPath(const std::string& path);
    CommandRegistry& registry_;
    std::vector<std::unique_ptr<Plugin>> plugins_;
};

}  // namespace host
