#pragma once

// The entry point of pictile_codecs.so, the readers of PNG, JPEG and TIFF (see
// FormatReaders.h), opened on the first read of one of those formats so that a
// process that reads none of them does not load their libraries.

#include "FormatReaders.h"

#include <cstddef>
#include <cstdint>

namespace host {

/// What the module's readers ask of the host: the process's one pixel budget,
/// the read time in force on the calling thread and the pixels' allocator.
struct CodecHostServices {
    MStatus (*checkImageSize)(
        std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes, std::uint64_t pixelsPerByte);
    bool (*readTimePassed)();
    PixelBytes (*allocateBytes)(std::size_t count);
};

struct CommonFormatReaders {
    MStatus (*readPng)(const ImageSource& source, RgbaImage& image);
    MStatus (*readJpeg)(const ImageSource& source, RgbaImage& image);
    MStatus (*readTiff)(const ImageSource& source, RgbaImage& image);
};

}  // namespace host

extern "C" {

#define PICTILE_CODECS_ENTRY "pictile_codecs_readers"

/// The module's readers, which from now on call back into `host` (kept by the
/// module: it lives as long as the process).
typedef const host::CommonFormatReaders* (*PictileCodecsReaders)(const host::CodecHostServices* host);

const host::CommonFormatReaders* pictile_codecs_readers(const host::CodecHostServices* host);
}
