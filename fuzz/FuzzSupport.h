#pragma once

#include <host/CommandRegistry.h>
#include <host/ScriptEditor.h>
#include <maya/MStatus.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the fuzz targets share: a scratch folder, sample images, the four commands
// in a registry of their own, and the rule every command must keep.

namespace fuzzsupport {

/// Creates a fresh folder under the temporary folder and makes it the working
/// folder of the process.
std::filesystem::path enterScratchFolder(const std::string& name);

/// Writes a width by height image of varied pixels through MImage, or aborts.
void writeSampleImage(const std::string& path, unsigned int width, unsigned int height, const char* format);

/// Writes `size` bytes to `path`, replacing the file, or aborts.
void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size);

/// A registry holding queryFunction, depthFunction, averageFunction and
/// resizeFunction under their own names.
class PictileCommands {
public:
    PictileCommands();
    host::CommandRegistry& registry() { return registry_; }

    /// Runs `name` with `words`; aborts unless a failure showed exactly one error
    /// line and a success none, and no status print appeared.
    host::Invocation run(const std::string& name, const std::vector<std::string>& words);

private:
    host::PluginRecord owner_ { "pictile" };
    host::CommandRegistry registry_;
};

}  // namespace fuzzsupport
