#include "FormatReaders.h"

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <memory>

namespace host {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// Everything the decode needs outside the frame that calls setjmp, so that a
// longjmp from libjpeg's error exit skips no destructor.
struct JpegRead {
    jpeg_error_mgr errors {};
    jpeg_source_mgr input {};
    const ImageSource* source = nullptr;
    std::uint64_t offset = 0;
    JOCTET chunk[kChunkBytes];
    std::jmp_buf failed;
    bool damaged = false;
    MStatus status = MS::kFailure;
    PixelBytes bytes;
};

JpegRead& stateOf(j_common_ptr info)
{
    return *static_cast<JpegRead*>(info->client_data);
}

[[noreturn]] void onErrorExit(j_common_ptr info)
{
    std::longjmp(stateOf(info).failed, 1);
}

// Warnings of a cut or corrupt stream fail the read: libjpeg fills in the rest
// with grey. Others, such as stray bytes before a marker that some editors
// write, leave the pixels whole.
void onMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
        stateOf(info).damaged = true;
        break;
    default:
        break;
    }
}

void onOutput(j_common_ptr)
{
}

void startSource(j_decompress_ptr)
{
}

boolean fillChunk(j_decompress_ptr info)
{
    JpegRead& read = stateOf(reinterpret_cast<j_common_ptr>(info));
    std::size_t got = read.source->readAt(read.offset, read.chunk, kChunkBytes);
    read.offset += got;
    if (got == 0) {
        // An end marker in place of the missing bytes, as libjpeg's own sources do.
        WARNMS(info, JWRN_JPEG_EOF);
        read.chunk[0] = 0xFF;
        read.chunk[1] = JPEG_EOI;
        got = 2;
    }
    read.input.next_input_byte = read.chunk;
    read.input.bytes_in_buffer = got;
    return TRUE;
}

void skipBytes(j_decompress_ptr info, long count)
{
    JpegRead& read = stateOf(reinterpret_cast<j_common_ptr>(info));
    if (count <= 0)
        return;
    while (std::size_t(count) > read.input.bytes_in_buffer) {
        count -= long(read.input.bytes_in_buffer);
        fillChunk(info);
    }
    read.input.next_input_byte += count;
    read.input.bytes_in_buffer -= std::size_t(count);
}

void endSource(j_decompress_ptr)
{
}

// Inverted CMYK, as Adobe writes it, to RGB as the host always has: each
// colour times black, in floats rounded to the nearest byte.
void cmykToRgba(unsigned char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* pixel = bytes + i * 4;
        const float black = pixel[3] / 255.0f;
        for (int c = 0; c < 3; ++c)
            pixel[c] = static_cast<unsigned char>(
                std::clamp(pixel[c] / 255.0f * black, 0.0f, 1.0f) * 255.0f + 0.5f);
        pixel[3] = 255;
    }
}

// Only C objects live in this frame: libjpeg's error exit longjmps back into it.
bool decode(jpeg_decompress_struct& info, JpegRead& read)
{
    if (setjmp(read.failed))
        return false;
    jpeg_create_decompress(&info);
    info.src = &read.input;
    jpeg_read_header(&info, TRUE);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Grey and colour straight into RGBA, libjpeg-turbo filling in opaque alpha.
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    read.status = checkImageSize(info.image_width, info.image_height);
    if (!read.status)
        return false;
    read.status = MS::kFailure;  // for an error exit from here on
    jpeg_start_decompress(&info);
    if (info.output_components != 4)
        return false;
    const std::size_t rowBytes = std::size_t(info.output_width) * 4;
    read.bytes = allocateBytes(rowBytes * info.output_height);
    if (!read.bytes) {
        read.status = MS::kInsufficientMemory;
        return false;
    }
    // Several rows a call, so that upsampling works on whole row groups.
    constexpr JDIMENSION kRowsPerCall = 16;
    JSAMPROW rows[kRowsPerCall];
    while (info.output_scanline < info.output_height) {
        const JDIMENSION count = std::min(kRowsPerCall, info.output_height - info.output_scanline);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = read.bytes.get() + rowBytes * (info.output_scanline + i);
        if (jpeg_read_scanlines(&info, rows, count) == 0)
            return false;
    }
    jpeg_finish_decompress(&info);
    if (cmyk)
        cmykToRgba(read.bytes.get(), std::size_t(info.output_width) * info.output_height);
    return !read.damaged;
}

}  // namespace

MStatus readJpeg(const ImageSource& source, RgbaImage& image)
{
    // On the heap: the chunk buffer is too large for the stack of a small thread.
    const auto read = std::make_unique<JpegRead>();
    read->source = &source;
    read->input.init_source = startSource;
    read->input.fill_input_buffer = fillChunk;
    read->input.skip_input_data = skipBytes;
    read->input.resync_to_restart = jpeg_resync_to_restart;
    read->input.term_source = endSource;

    jpeg_decompress_struct info {};
    info.err = jpeg_std_error(&read->errors);
    read->errors.error_exit = onErrorExit;
    read->errors.emit_message = onMessage;
    read->errors.output_message = onOutput;
    info.client_data = read.get();
    const bool decoded = decode(info, *read);
    const unsigned int width = info.output_width;
    const unsigned int height = info.output_height;
    jpeg_destroy_decompress(&info);
    if (!decoded)
        return read->status;
    image = RgbaImage { width, height, std::move(read->bytes) };
    return MS::kSuccess;
}

}  // namespace host
