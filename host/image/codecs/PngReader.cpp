#include "FormatReaders.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

namespace host {

namespace {

// The most any one chunk may make libpng allocate: a header may claim up to
// 2^31 - 1 bytes, which libpng would allocate and zero before reading.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(8) << 20;

// Chunks that never change the pixels read here: skipped, neither kept nor
// decompressed.
constexpr png_byte kSkippedChunks[] = {
    'i',
    'C',
    'C',
    'P',
    '\0',
    'i',
    'T',
    'X',
    't',
    '\0',
    's',
    'P',
    'L',
    'T',
    '\0',
    't',
    'E',
    'X',
    't',
    '\0',
    'z',
    'T',
    'X',
    't',
    '\0',
    'e',
    'X',
    'I',
    'f',
    '\0',
};

// The most chunks other than the image data a file may hold: each is walked and
// its checksum computed, and real files have a few dozen (an animation's frames
// two each).
constexpr unsigned kMaxOtherChunks = 1u << 16;

// How often, in rows, the read looks at its time.
constexpr png_uint_32 kRowsPerTimeCheck = 256;

// Everything the decode needs outside the frame that calls setjmp, so that a
// longjmp from libpng's error path skips no destructor.
struct PngRead {
    explicit PngRead(const ImageSource& source)
        : source(&source)
        , window(source)
    {
    }
    const ImageSource* source;
    ReadWindow window;
    std::uint64_t offset = 0;
    unsigned otherChunks = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::jmp_buf failed;
    MStatus status = MS::kFailure;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    PixelBytes bytes;
    std::vector<png_bytep> rows;
};

void readBytes(png_structp png, png_bytep data, std::size_t count)
{
    auto* read = static_cast<PngRead*>(png_get_io_ptr(png));
    const std::size_t got = read->window.readAt(read->offset, data, count);
    read->offset += got;
    if (got != count)
        png_error(png, "truncated");
    // A chunk's length and type come in a read of their own.
    if ((png_get_io_state(png) & PNG_IO_CHUNK_HDR) != 0 && count == 8 && std::memcmp(data + 4, "IDAT", 4) != 0
        && ++read->otherChunks > kMaxOtherChunks)
        png_error(png, "too many chunks");
}

// Called after each row; stops a read that has taken its time.
void onRow(png_structp png, png_uint_32 row, int)
{
    if (row % kRowsPerTimeCheck == 0 && ReadTime::passed())
        png_error(png, "too slow");
}

[[noreturn]] void onError(png_structp png, png_const_charp)
{
    std::longjmp(static_cast<PngRead*>(png_get_error_ptr(png))->failed, 1);
}

void onWarning(png_structp, png_const_charp)
{
}

// Sizes the image from the header and makes room for it; false to stop.
bool allocate(PngRead& read)
{
    read.status = checkImageSize(read.width, read.height, read.source->size(), kDeflatePixelsPerByte);
    if (!read.status)
        return false;
    read.bytes = allocateBytes(std::size_t(read.width) * read.height * 4);
    read.rows.resize(read.height);
    if (!read.bytes) {
        read.status = MS::kInsufficientMemory;
        return false;
    }
    for (png_uint_32 y = 0; y < read.height; ++y)
        read.rows[y] = read.bytes.get() + std::size_t(y) * read.width * 4;
    read.status = MS::kFailure;
    return true;
}

// Only C objects live in this frame: libpng's errors longjmp back into it.
bool decode(PngRead& read)
{
    if (setjmp(read.failed))
        return false;
    png_set_read_fn(read.png, &read, readBytes);
    png_set_read_status_fn(read.png, onRow);
    png_set_chunk_malloc_max(read.png, kMaxChunkBytes);
    png_set_keep_unknown_chunks(read.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(
        read.png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, int(sizeof kSkippedChunks / 5));
    png_read_info(read.png, read.info);
    int depth = 0;
    int colourType = 0;
    png_get_IHDR(
        read.png, read.info, &read.width, &read.height, &depth, &colourType, nullptr, nullptr, nullptr);
    // Samples as stored, widened to 8-bit RGBA: palettes looked up, grey
    // spread to R = G = B, tRNS made alpha, a missing alpha opaque, 16 bits
    // rounded to 8. Gamma and significant-bit chunks describe display only.
    png_set_expand(read.png);
    png_set_scale_16(read.png);
    png_set_gray_to_rgb(read.png);
    png_set_filler(read.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(read.png);
    png_read_update_info(read.png, read.info);
    if (png_get_rowbytes(read.png, read.info) != std::size_t(read.width) * 4 || !allocate(read))
        return false;
    png_read_image(read.png, read.rows.data());
    // Reads the chunks after the data up to IEND, so that a file cut there fails.
    png_read_end(read.png, nullptr);
    return true;
}

}  // namespace

MStatus readPng(const ImageSource& source, RgbaImage& image)
{
    PngRead read(source);
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, onError, onWarning);
    if (!read.png)
        return MS::kInsufficientMemory;
    read.info = png_create_info_struct(read.png);
    const bool decoded = read.info && decode(read);
    png_destroy_read_struct(&read.png, &read.info, nullptr);
    if (!decoded)
        return read.status;
    image = RgbaImage { read.width, read.height, std::move(read.bytes) };
    return MS::kSuccess;
}

}  // namespace host
