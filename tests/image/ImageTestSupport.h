#pragma once

#include <maya/MImage.h>

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace imagetest {

using Bytes = std::vector<unsigned char>;

/// A fresh, empty folder under the system's temporary folder, removed with
/// everything in it when the object goes.
class TemporaryFolder {
public:
    TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    /// The names of the entries in the folder, sorted.
    std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};

/// Makes `image` a width by height image holding `rgba` (four bytes a pixel, top
/// row first).
void fillImage(MImage& image, unsigned int width, unsigned int height, const Bytes& rgba);

/// The image's bytes; empty when the image is.
Bytes pixelsOf(const MImage& image);

/// Writes `samples` (`channels` a pixel, top row first, of `type`) with
/// OpenImageIO's writer for `format`, marking alpha as unassociated.
void writeFixture(const std::string& path, const char* format, int width, int height, int channels,
    OIIO::TypeDesc type, const void* samples);

Bytes readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const Bytes& bytes);

/// `count` RGBA pixels of varied colour, the same for every call.
Bytes variedPixels(std::size_t count);

}  // namespace imagetest
