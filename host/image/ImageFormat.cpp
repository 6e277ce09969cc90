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

ImageFormat identifyFormat(const unsigned char* head, std::size_t count, std::string_view path)
{
    using namespace std::string_view_literals;
    // Any file that begins like a PNG is taken as one, so that a damaged
    // signature is refused by the PNG reader, not guessed at by another.
    if (startsWith(head, count, "\x89PN"sv))
        return ImageFormat::Png;
    if (startsWith(head, count, "\xFF\xD8\xFF"sv))
        return ImageFormat::Jpeg;
    // Classic TIFF, then BigTIFF.
    if (startsWith(head, count, "II*\0"sv) || startsWith(head, count, "MM\0*"sv)
        || startsWith(head, count, "II+\0"sv) || startsWith(head, count, "MM\0+"sv))
        return ImageFormat::Tiff;
    if (startsWith(head, count, "FOR4"sv) || startsWith(head, count, "FORM"sv))
        return ImageFormat::Iff;
    if (startsWith(head, count, "BM"sv))
        return ImageFormat::Bmp;
    if (startsWith(head, count, "GIF87a"sv) || startsWith(head, count, "GIF89a"sv))
        return ImageFormat::Gif;
    if (startsWith(head, count, "\x76\x2F\x31\x01"sv))
        return ImageFormat::Exr;
    if (startsWith(head, count, "#?RADIANCE"sv) || startsWith(head, count, "#?RGBE"sv))
        return ImageFormat::Hdr;
    if (startsWith(head, count, "\0\0\0\x0CjP  "sv) || startsWith(head, count, "\xFF\x4F\xFF\x51"sv)
        || startsWith(head, count, "8BPS"sv)
        || (count >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7'))
        return ImageFormat::Other;
    const std::string extension = lowerExtension(path);
    if (extension == "tga" || extension == "tpic" || extension == "targa")
        return ImageFormat::Tga;
    return ImageFormat::Unknown;
}

}  // namespace host
