#pragma once

#include <mel/Builtin.h>

#include <maya/MStatus.h>

#include <string>
#include <vector>

namespace mel {

/// What the plug-in built-ins ask of the host that loads plug-ins. The library
/// links no loader: a session implements this over its own and adds the rows
/// of pluginBuiltins, so that every embedding of the session has them.
class PluginHost {
public:
    /// A loaded plug-in, as pluginInfo tells of it.
    struct Plugin {
        std::string name;  ///< Its file name without folder and extension.
        std::string path;  ///< Its library's absolute path.
        std::string vendor;
        std::string version;
        std::vector<std::string> commands;  ///< Those it registered, sorted.
    };

    virtual ~PluginHost() = default;

    /// Loads the plug-in at the path or of the name `pathOrName`: kSuccess, or
    /// the status with `error` the one line that says why (empty when the
    /// status says it). A plug-in whose initializePlugin failed stays loaded.
    virtual MStatus load(const std::string& pathOrName, std::string& error) = 0;
    /// Unloads the plug-in named `name`: kSuccess, or the status with `error`.
    virtual MStatus unload(const std::string& name, std::string& error) = 0;
    /// The plug-ins loaded, oldest first.
    virtual std::vector<Plugin> plugins() const = 0;
};

/// loadPlugin, unloadPlugin and pluginInfo over `host`, which must outlive the
/// interpreter they are added to.
std::vector<Builtin> pluginBuiltins(PluginHost& host);

}  // namespace mel
