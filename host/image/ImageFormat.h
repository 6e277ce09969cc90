#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace host {

/// The file formats the host tells apart before choosing a reader.
enum class ImageFormat {
    Unknown,
    Png,
    Jpeg,
    Tiff,
    Iff,
    Bmp,
    Gif,
    Exr,
    Hdr,
    Tga,  ///< no signature: known only by the extension
    Other,  ///< a signature OpenImageIO may know (JPEG 2000, PNM, PSD, ...)
};

/// The most leading bytes identifyFormat looks at.
inline constexpr std::size_t kFormatHeadBytes = 16;

/// Identifies a file's format from its first bytes (`head`, up to
/// kFormatHeadBytes of them); the extension of `path` counts only for formats
/// without a signature. A file is never given to another format's reader.
ImageFormat identifyFormat(const unsigned char* head, std::size_t count, std::string_view path);

/// Whether `head`, `count` bytes long, begins with `signature`.
bool startsWith(const unsigned char* head, std::size_t count, std::string_view signature);

/// The extension of the last name in `path`, in lower case; empty without one.
std::string lowerExtension(std::string_view path);

}  // namespace host
