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

// The most scans a progressive file may have, as libjpeg-turbo's own tools limit
// them: each scan is a pass over its components' blocks, and a crafted file
// repeats one thousands of times. Encoders write ten or so.
constexpr int kMaxScans = 100;
// The most blocks all the scans together may visit: as many as 16 passes over
// every block of the image, twice what an encoder's progression makes, or for
// small images 2^22 blocks (a few tens of milliseconds).
constexpr std::uint64_t kScanPassesPerBlock = 16;
constexpr std::uint64_t kLeastScanBlocks = std::uint64_t(1) << 22;

// Everything the decode needs outside the frame that calls setjmp, so that a
// longjmp from libjpeg's error exit skips no destructor.
struct JpegRead {
    jpeg_error_mgr errors {};
    jpeg_source_mgr input {};
    jpeg_progress_mgr progress {};
    const ImageSource* source = nullptr;
    std::uint64_t offset = 0;
    JOCTET chunk[kChunkBytes];
    std::jmp_buf failed;
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

// Warnings of a cut or corrupt stream fail the read at once: libjpeg would go
// on filling the rest with grey, through every scan still to come. Others, such
// as stray bytes before a marker that some editors write, leave the pixels whole.
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
        std::longjmp(stateOf(info).failed, 1);
    default:
        break;
    }
}

// Called as libjpeg works through the input; stops a file with too many scans
// and a read that has taken its time.
void onProgress(j_common_ptr info)
{
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans || ReadTime::passed())
        std::longjmp(stateOf(info).failed, 1);
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

// The blocks of the component whose identifier is `id`; 0 for none.
std::uint64_t blocksOf(const jpeg_decompress_struct& info, int id)
{
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        if (component.component_id == id)
            return std::uint64_t(component.width_in_blocks) * component.height_in_blocks;
    }
    return 0;
}

// Whether the scans of a progressive file would cost more than its image
// allows: more than kMaxScans of them, or more blocks visited than
// kScanPassesPerBlock passes over the image (or kLeastScanBlocks). Counted
// from the markers before anything is decoded: segments are skipped by their
// lengths, and each scan's coded data up to the next marker (in it, 0xFF is
// followed only by a stuffed 0 or a restart marker).
bool scansCostTooMuch(const ImageSource& source, const jpeg_decompress_struct& info)
{
    std::uint64_t imageBlocks = 0;
    for (int c = 0; c < info.num_components; ++c)
        imageBlocks += std::uint64_t(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
    const std::uint64_t allowed = std::max(kLeastScanBlocks, imageBlocks * kScanPassesPerBlock);
    ReadWindow file(source);
    int scans = 0;
    std::uint64_t visited = 0;
    std::uint64_t at = 2;  // after the start-of-image marker
    for (;;) {
        int byte = file.at(at);
        if (byte < 0)
            return false;
        if (byte != 0xFF) {
            ++at;  // stray bytes, which libjpeg skips too
            continue;
        }
        while ((byte = file.at(++at)) == 0xFF) { }
        ++at;
        if (byte < 0 || byte == JPEG_EOI)
            return false;
        if (byte == 0 || byte == 0x01 || (byte >= JPEG_RST0 && byte <= JPEG_RST0 + 7))
            continue;  // no length follows these
        const int high = file.at(at);
        const int low = file.at(at + 1);
        if (high < 0 || low < 0)
            return false;
        const std::uint64_t segment = at;
        at += std::uint64_t(high << 8 | low);
        if (byte != 0xDA)
            continue;
        if (++scans > kMaxScans)
            return true;
        // The scan's header: its component count, then two bytes a component.
        const int count = file.at(segment + 2);
        for (int i = 0; i < count; ++i)
            visited += blocksOf(info, file.at(segment + 3 + 2 * std::uint64_t(i)));
        if (visited > allowed)
            return true;
        for (;; ++at) {
            const int coded = file.at(at);
            if (coded < 0)
                return false;
            if (coded != 0xFF)
                continue;
            const int next = file.at(at + 1);
            if (next != 0 && !(next >= JPEG_RST0 && next <= JPEG_RST0 + 7))
                break;
            ++at;
        }
    }
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
    info.progress = &read.progress;
    jpeg_read_header(&info, TRUE);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Grey and colour straight into RGBA, libjpeg-turbo filling in opaque alpha.
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    read.status
        = checkImageSize(info.image_width, info.image_height, read.source->size(), kJpegPixelsPerByte);
    if (!read.status)
        return false;
    read.status = MS::kFailure;
    // Every scan of a progressive file is a pass over its components, made as
    // the decode starts, and it needs the image's coefficients in memory first:
    // too costly a set of scans is refused before that.
    if (info.progressive_mode && scansCostTooMuch(*read.source, info))
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
    return true;
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
    read->progress.progress_monitor = onProgress;
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
