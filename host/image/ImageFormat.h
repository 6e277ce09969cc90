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
    Jpeg2000,
    Heif,  ///< HEIC and AVIF: an ISO media file of still images
    Other,  ///< a signature OpenImageIO may know (PNM, PSD, WebP)
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

/// Whether OpenImageIO's reader `format` may be given a file whose format the
/// host cannot tell, by the file's extension: not the readers of the formats the
/// host tells by their signature, nor those of movies, volumes, camera-raw
/// files and DICOM.
bool readerMayClaimUnplacedFile(std::string_view format);

/// Whether the extension of `path` is one that a reader of OpenImageIO lists
/// and readerMayClaimUnplacedFile allows: the only way a file the host cannot
/// place is read at all.
bool extensionHasReader(std::string_view path);

}  // namespace host
