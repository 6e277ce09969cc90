#pragma once

#include <host/CommandRegistry.h>
#include <host/PluginLoader.h>
#include <host/ScriptEditor.h>
#include <maya/MImage.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace pictile::test {

struct Rgba {
    unsigned char r, g, b, a;
};

using PixelFunction = std::function<Rgba(unsigned int x, unsigned int y)>;

/// A fresh host with its own command registry, running in a scratch folder of its
/// own, with the real pictile plug-in at hand.
class HostFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Loads pictile.so; the outcome of the load.
    host::PluginLoader::LoadOutcome loadPictile();

    /// Runs one command; `lines` then holds what it showed on the script editor.
    host::Invocation run(const std::string& command, const std::vector<std::string>& args);

    /// Writes a width by height image whose pixels `pixelAt` gives.
    void writeImage(const std::string& path, unsigned int width, unsigned int height,
        const PixelFunction& pixelAt, const char* format = "png");
    /// Reads an image through the host; fails the test when it cannot.
    MImage readImage(const std::string& path);

    static std::vector<host::EditorLine> errorLine(const std::string& text);
    static std::vector<host::EditorLine> infoLine(const std::string& text);

    host::CommandRegistry registry;
    std::unique_ptr<host::PluginLoader> loader;
    std::vector<host::EditorLine> lines;

private:
    std::filesystem::path previousFolder_;
    std::filesystem::path scratch_;
};

/// The pixels of `image` as a flat list of channel values.
std::vector<int> channelValues(const MImage& image);

/// The integer array a command set as its result; fails the test on another kind.
std::vector<int> intResult(const host::Invocation& invocation);

/// The message line the default steps show.
inline const char* const kDefaultStepsLine = "no x, y coordianates specified - using default: 10x10";

}  // namespace pictile::test

namespace host {
void PrintTo(const EditorLine& line, std::ostream* out);
}
