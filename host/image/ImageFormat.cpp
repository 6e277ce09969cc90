#include "ImageFormat.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace host {

bool startsWith(const unsigned char* head, std::size_t count, std::string_view signature)
{
    return count >= signature.size() && std::memcmp(head, signature.data(), signature.size()) == 0;
}

std::string lowerExtension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    std::string extension(path.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

namespace {

// An ISO media file ("ftyp" box first) whose major brand is one of still
// images coded with HEVC or AV1.
bool isHeif(const unsigned char* head, std::size_t count)
{
    if (count < 12 || std::memcmp(head + 4, "ftyp", 4) != 0)
        return false;
    static const char* const brands[]
        = { "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1", "avif", "avis" };
    return std::any_of(std::begin(brands), std::end(brands),
        [head](const char* brand) { return std::memcmp(head + 8, brand, 4) == 0; });
}

}  // namespace

bool readerMayClaimUnplacedFile(std::string_view format)
{
    static const char* const excluded[] = { "png", "jpeg", "tiff", "iff", "bmp", "gif", "openexr", "hdr",
        "jpeg2000", "heif", "psd", "pnm", "webp", "ffmpeg", "openvdb", "dicom", "raw", "null", "term" };
    return !format.empty()
        && std::none_of(
            std::begin(excluded), std::end(excluded), [format](const char* name) { return format == name; });
}

bool extensionHasReader(std::string_view path)
{
    // The extensions OpenImageIO 2.4's other readers list (ICO, SGI, Softimage,
    // RLA, Cineon, DPX, DDS, FITS, ZFile, and Targa, which the host names
    // itself); a test checks the list against the module's, so that the host
    // knows without opening the module whether it would read a file.
    static const char* const extensions[] = { "ico", "sgi", "rgb", "rgba", "bw", "int", "inta", "pic", "rla",
        "cin", "dpx", "dds", "fits", "zfile", "tga", "tpic" };
    const std::string extension = lowerExtension(path);
    return std::any_of(std::begin(extensions), std::end(extensions),
        [&extension](const char* known) { return extension == known; });
}

ImageFormat identifyFormat(const unsigned char* head, std::size_t count, std::string_view path)
{
    using namespace std::string_view_literals;
    // A file shorter than a signature that begins like one is that format, cut:
    // its reader refuses it, rather than it passing for a file of no format.
    const bool whole = count < kFormatHeadBytes;
    const auto startsWith = [head, count, whole](std::string_view signature) {
        return host::startsWith(head, count, signature)
            || (whole && count > 0 && count < signature.size()
                && std::memcmp(head, signature.data(), count) == 0);
    };
    // Any file that begins like a PNG is taken as one, so that a damaged
    // signature is refused by the PNG reader, not guessed at by another.
    if (startsWith("\x89PN"sv))
        return ImageFormat::Png;
    if (startsWith("\xFF\xD8\xFF"sv))
        return ImageFormat::Jpeg;
    // Classic TIFF, then BigTIFF.
    if (startsWith("II*\0"sv) || startsWith("MM\0*"sv) || startsWith("II+\0"sv) || startsWith("MM\0+"sv))
        return ImageFormat::Tiff;
    if (startsWith("FOR4"sv) || startsWith("FORM"sv))
        return ImageFormat::Iff;
    if (startsWith("BM"sv))
        return ImageFormat::Bmp;
    if (startsWith("GIF87a"sv) || startsWith("GIF89a"sv))
        return ImageFormat::Gif;
    if (startsWith("\x76\x2F\x31\x01"sv))
        return ImageFormat::Exr;
    if (startsWith("#?RADIANCE"sv) || startsWith("#?RGBE"sv))
        return ImageFormat::Hdr;
    if (startsWith("\0\0\0\x0CjP  "sv) || startsWith("\xFF\x4F\xFF\x51"sv))
        return ImageFormat::Jpeg2000;
    if (isHeif(head, count))
        return ImageFormat::Heif;
    if (startsWith("8BPS"sv) || (count >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7')
        || (count >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0))
        return ImageFormat::Other;
    const std::string extension = lowerExtension(path);
    if (extension == "tga" || extension == "tpic" || extension == "targa")
        return ImageFormat::Tga;
    return ImageFormat::Unknown;
}

}  // namespace host
