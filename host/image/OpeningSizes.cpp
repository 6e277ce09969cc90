#include "OpeningSizes.h"

#include <cstring>
#include <string_view>

namespace host {

namespace {

std::uint64_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// An ISO media box (JPEG 2000's and HEIF's files are made of them).
struct Box {
    char type[4] = {};
    std::uint64_t dataStart = 0;
    std::uint64_t end = 0;

    bool is(std::string_view name) const { return std::string_view(type, 4) == name; }
};

// The box at `position`, which must end by `end`.
bool readBox(ReadWindow& file, std::uint64_t position, std::uint64_t end, Box& box)
{
    unsigned char head[16];
    if (position >= end || end - position < 8 || file.readAt(position, head, 8) != 8)
        return false;
    std::memcpy(box.type, head + 4, 4);
    std::uint64_t size = bigEndian(head, 4);
    box.dataStart = position + 8;
    if (size == 1) {
        if (end - position < 16 || file.readAt(position + 8, head + 8, 8) != 8)
            return false;
        size = bigEndian(head + 8, 8);
        box.dataStart = position + 16;
    } else if (size == 0) {
        size = end - position;  // to the end of what holds it
    }
    if (size < box.dataStart - position || size > end - position)
        return false;
    box.end = position + size;
    return true;
}

// The first box of `type` among those from `start` to `end`.
bool findBox(ReadWindow& file, std::uint64_t start, std::uint64_t end, std::string_view type, Box& found)
{
    for (std::uint64_t position = start; position < end; position = found.end) {
        if (!readBox(file, position, end, found))
            return false;
        if (found.is(type))
            return true;
    }
    return false;
}

// Reads `count` bytes at `at` into a value; false past the end of `box`.
bool field(ReadWindow& file, const Box& box, std::uint64_t at, int count, std::uint64_t& value)
{
    unsigned char bytes[8];
    if (at < box.dataStart || at > box.end || box.end - at < std::uint64_t(count)
        || file.readAt(at, bytes, std::size_t(count)) != std::size_t(count))
        return false;
    value = bigEndian(bytes, count);
    return true;
}

// The image size in a JPEG 2000 code stream's SIZ segment, which follows its
// start marker: Xsiz and Ysiz less the image's offsets XOsiz and YOsiz.
bool codeStreamSize(ReadWindow& file, std::uint64_t at, std::uint64_t& width, std::uint64_t& height)
{
    unsigned char siz[4 + 2 + 2 + 16];
    if (file.readAt(at, siz, sizeof siz) != sizeof siz || bigEndian(siz, 2) != 0xFF4F
        || bigEndian(siz + 2, 2) != 0xFF51)
        return false;
    const std::uint64_t right = bigEndian(siz + 8, 4);
    const std::uint64_t bottom = bigEndian(siz + 12, 4);
    const std::uint64_t left = bigEndian(siz + 16, 4);
    const std::uint64_t top = bigEndian(siz + 20, 4);
    if (left >= right || top >= bottom)
        return false;
    width = right - left;
    height = bottom - top;
    return true;
}

// A code stream alone, or a JP2 file's boxes with the code stream in "jp2c".
bool jpeg2000Size(ReadWindow& file, std::uint64_t size, std::uint64_t& width, std::uint64_t& height)
{
    if (file.at(0) == 0xFF)
        return codeStreamSize(file, 0, width, height);
    Box stream;
    return findBox(file, 0, size, "jp2c", stream) && codeStreamSize(file, stream.dataStart, width, height);
}

// The logical screen: the canvas every frame is drawn on, as OpenImageIO's
// reader shows it.
bool gifSize(ReadWindow& file, std::uint64_t& width, std::uint64_t& height)
{
    unsigned char screen[4];
    if (file.readAt(6, screen, 4) != 4)
        return false;
    width = std::uint64_t(screen[0]) | std::uint64_t(screen[1]) << 8;
    height = std::uint64_t(screen[2]) | std::uint64_t(screen[3]) << 8;
    return true;
}

// The "ispe" property of the primary item (pitm) of a HEIF file's "meta" box:
// the size of the image it shows, a grid's whole size for an image in tiles.
bool heifSize(ReadWindow& file, std::uint64_t size, std::uint64_t& width, std::uint64_t& height)
{
    Box meta;
    Box primary;
    Box properties;
    Box container;
    Box associations;
    // "meta", "pitm" and "ipma" are full boxes: a version byte and three of flags
    // before their fields.
    if (!findBox(file, 0, size, "meta", meta) || !findBox(file, meta.dataStart + 4, meta.end, "pitm", primary)
        || !findBox(file, meta.dataStart + 4, meta.end, "iprp", properties)
        || !findBox(file, properties.dataStart, properties.end, "ipco", container)
        || !findBox(file, properties.dataStart, properties.end, "ipma", associations))
        return false;
    std::uint64_t version = 0;
    std::uint64_t item = 0;
    if (!field(file, primary, primary.dataStart, 1, version)
        || !field(file, primary, primary.dataStart + 4, version == 0 ? 2 : 4, item))
        return false;
    std::uint64_t flags = 0;
    std::uint64_t entries = 0;
    if (!field(file, associations, associations.dataStart, 1, version)
        || !field(file, associations, associations.dataStart + 1, 3, flags)
        || !field(file, associations, associations.dataStart + 4, 4, entries))
        return false;
    const int idBytes = version < 1 ? 2 : 4;
    const int indexBytes = (flags & 1) != 0 ? 2 : 1;
    std::uint64_t at = associations.dataStart + 8;
    for (std::uint64_t entry = 0; entry < entries; ++entry) {
        std::uint64_t id = 0;
        std::uint64_t count = 0;
        if (!field(file, associations, at, idBytes, id) || !field(file, associations, at + idBytes, 1, count))
            return false;
        at += idBytes + 1;
        for (std::uint64_t i = 0; i < count; ++i, at += indexBytes) {
            std::uint64_t index = 0;
            if (id != item)
                continue;
            if (!field(file, associations, at, indexBytes, index))
                return false;
            // The high bit marks the property essential; the rest is its place
            // in "ipco", counted from 1.
            index &= indexBytes == 2 ? 0x7fff : 0x7f;
            Box property;
            std::uint64_t position = container.dataStart;
            for (std::uint64_t place = 1; place <= index; ++place, position = property.end) {
                if (!readBox(file, position, container.end, property))
                    return false;
            }
            if (index > 0 && property.is("ispe"))
                return field(file, property, property.dataStart + 4, 4, width)
                    && field(file, property, property.dataStart + 8, 4, height);
        }
        if (id == item)
            return false;
    }
    return false;
}

}  // namespace

bool readOpeningSize(
    const ImageSource& source, ImageFormat format, std::uint64_t& width, std::uint64_t& height)
{
    ReadWindow file(source);
    switch (format) {
    case ImageFormat::Jpeg2000:
        return jpeg2000Size(file, source.size(), width, height);
    case ImageFormat::Gif:
        return gifSize(file, width, height);
    case ImageFormat::Heif:
        return heifSize(file, source.size(), width, height);
    default:
        return false;
    }
}

}  // namespace host
