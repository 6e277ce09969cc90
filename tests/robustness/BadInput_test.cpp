// Every command on bad input through the real hostbatch: each row prepares the
// files, runs one statement and states the whole transcript and exit status.
// Nothing may print to standard error, crash, or hold more than kMemoryBound.
#include "RobustnessSupport.h"

#include <OpenImageIO/imageio.h>
#include <libheif/heif.h>
#include <tiffio.h>
#include <zlib.h>

#include <gtest/gtest.h>
#include <webp/encode.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace robustness {
namespace {

namespace fs = std::filesystem;

// Far below what a file's header may claim. A header within the host's limit of
// 2^30 pixels gets its 4 GiB of pixels reserved; AddressSanitizer then touches
// an eighth of that for its shadow, hence the room.
constexpr long kMemoryBound = 1024 * 1024;

const std::string kDefaultSteps = "no x, y coordianates specified - using default: 10x10\n";

std::string error(const std::string& text)
{
    return "// Error: " + text + " //\n";
}

std::string result(const std::string& text)
{
    return "// Result: " + text + " //\n";
}

// The one line a read refused by the pixel budget adds before the command's error.
std::string overBudget(unsigned int width, unsigned int height, const char* budget = "268435456")
{
    return "// Warning: Image of " + std::to_string(width) + " x " + std::to_string(height)
        + " pixels is over the pixel budget of " + budget
        + "; raise it with hostbatch --pixel-budget PIXELS or PICTILE_PIXEL_BUDGET=PIXELS, up to "
          "1073741824 //\n";
}

using Prepare = std::function<void(const Workspace&)>;

struct Row {
    const char* name;
    Prepare prepare;
    std::string statement;
    std::string transcript;
    int exitCode;
    std::string asanOptions = "";
    std::vector<std::string> options = {};  ///< hostbatch's, before the script
    // Run a second time with fresh memory filled with another byte: a pixel
    // taken from memory the file did not fill would change.
    bool perturbed = false;
    // For a transcript that names what the files came to (their sizes): made
    // from the prepared folder, in place of `transcript`.
    std::function<std::string(const Workspace&)> transcriptOf = nullptr;
    /// The most the run may hold beyond what a run of an empty script holds, in
    /// KiB; 0: only kMemoryBound holds it.
    long memoryAboveEmptyRun = 0;
};

Prepare gradient(const std::string& name, unsigned int width, unsigned int height, const char* format)
{
    return
        [=](const Workspace& folder) { writeGradient(folder.file("images/" + name), width, height, format); };
}

// The gradient image `name`, cut to `keep(size)` bytes.
Prepare truncated(const std::string& name, const char* format, std::function<std::size_t(std::size_t)> keep)
{
    return [=](const Workspace& folder) {
        const std::string path = folder.file("images/" + name);
        writeGradient(path, 20, 20, format);
        Bytes bytes = readBytes(path);
        bytes.resize(keep(bytes.size()));
        writeBytes(path, bytes);
    };
}

// The gradient image `name` with the byte at `offset` replaced.
Prepare patched(const std::string& name, const char* format, std::size_t offset, unsigned char value)
{
    return [=](const Workspace& folder) {
        const std::string path = folder.file("images/" + name);
        writeGradient(path, 20, 20, format);
        Bytes bytes = readBytes(path);
        bytes.at(offset) = value;
        writeBytes(path, bytes);
    };
}

std::function<std::size_t(std::size_t)> at(std::size_t count)
{
    return [count](std::size_t) { return count; };
}
std::size_t half(std::size_t size)
{
    return size / 2;
}
std::size_t lastTwentyCut(std::size_t size)
{
    return size - 20;
}

Prepare bytes(const std::string& name, const Bytes& content)
{
    return [=](const Workspace& folder) { writeBytes(folder.file("images/" + name), content); };
}

Bytes randomBytes(std::size_t count)
{
    std::mt19937 generator(1234);
    Bytes noise(count);
    for (unsigned char& byte : noise)
        byte = static_cast<unsigned char>(generator());
    return noise;
}

// A 24-bit BMP 822083592 pixels wide and 1 high: within the host's limit, but
// its row of 2.4 GB overflows the decoder's int.
Bytes longRowBmp()
{
    Bytes bmp = { 'B', 'M' };
    const auto append = [&bmp](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bmp.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    append(54 + 48, 4);
    append(0, 4);
    append(54, 4);
    append(40, 4);
    append(822083592, 4);
    append(1, 4);
    append(1, 2);
    append(24, 2);
    for (int field = 0; field < 6; ++field)
        append(0, 4);
    bmp.resize(bmp.size() + 48, 0x33);
    return bmp;
}

// An RLE8 BMP of 127 x 4194356 pixels (within the host's limit) whose few bytes
// of runs end the image at once, leaving every pixel to be filled.
Bytes hugeRunLengthBmp()
{
    Bytes bmp = { 'B', 'M' };
    const auto append = [&bmp](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bmp.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    append(54 + 8 + 2, 4);
    append(0, 4);
    append(54 + 8, 4);
    append(40, 4);
    append(127, 4);
    append(4194356, 4);
    append(1, 2);
    append(8, 2);
    append(1, 4);  // RLE8
    for (int field = 0; field < 2; ++field)
        append(0, 4);
    append(0, 4);
    append(2, 4);  // two palette entries
    append(0, 4);
    append(0x00ff0000, 4);
    append(0x0000ff00, 4);
    bmp.insert(bmp.end(), { 0, 1 });  // end of image
    return bmp;
}

Prepare list(const std::string& content)
{
    return [=](const Workspace& folder) {
        writeGradient(folder.file("images/a.png"), 20, 20, "png");
        writeGradient(folder.file("images/b.png"), 16, 8, "png");
        writeBytes(folder.file(kListFile), Bytes(content.begin(), content.end()));
    };
}

// A 12 x 10 image whose pixel (x, y) is red when x + y is even, else blue.
Bytes checkerRow(unsigned int y, unsigned int width, int bytesPerPixel)
{
    Bytes row;
    for (unsigned int x = 0; x < width; ++x) {
        const bool red = (x + y) % 2 == 0;
        const Bytes rgb
            = { static_cast<unsigned char>(red ? 200 : 0), 0, static_cast<unsigned char>(red ? 0 : 150) };
        row.insert(row.end(), rgb.begin(), rgb.begin() + bytesPerPixel);
    }
    return row;
}

std::string checkerSamples(unsigned int stepX, unsigned int stepY)
{
    std::string text;
    for (unsigned int y = 0; y < 10; y += stepY)
        for (unsigned int x = 0; x < 12; x += stepX)
            text += (x + y) % 2 == 0 ? "200 0 0 255 " : "0 0 150 255 ";
    text.pop_back();
    return text;
}

std::vector<Row> imageRows()
{
    const std::string query = "queryFunction -f \"images/";
    const auto missing = [](const std::string& name) { return error("images/" + name + " does not exist!"); };
    std::vector<Row> rows = {
        { "zero_bytes", bytes("empty.png", {}), query + "empty.png\" -qX", missing("empty.png"), 1 },
        { "directory_as_file", [](const Workspace& f) { fs::create_directory(f.file("images/folder.png")); },
            query + "folder.png\" -qX", missing("folder.png"), 1 },
        // Special files never end or never hold a file's bytes; a FIFO would block
        // the open until a writer came.
        { "dev_zero", [](const Workspace&) {}, "queryFunction -f \"/dev/zero\" -qX",
            error("/dev/zero does not exist!"), 1 },
        { "dev_urandom", [](const Workspace&) {}, "queryFunction -f \"/dev/urandom\" -qX",
            error("/dev/urandom does not exist!"), 1 },
        { "dev_full", [](const Workspace&) {}, "queryFunction -f \"/dev/full\" -qX",
            error("/dev/full does not exist!"), 1 },
        { "fifo_as_image", [](const Workspace& f) { mkfifo(f.file("images/pipe.png").c_str(), 0600); },
            query + "pipe.png\" -qX", missing("pipe.png"), 1 },
        // A PNG whose signature's line-end bytes are off, as after a text-mode
        // transfer, is refused in silence (OpenImageIO's decoder printed here).
        { "png_signature_line_end_mangled", patched("mangled.png", "png", 7, '\r'),
            query + "mangled.png\" -qX", missing("mangled.png"), 1 },
        { "png_signature_tail_mangled", patched("mangled.png", "png", 4, '\n'), query + "mangled.png\" -qX",
            missing("mangled.png"), 1 },
        // The BMP decoder reads with an unset channel count for headers it does not know.
        { "bmp_unknown_info_header", patched("odd.bmp", "bmp", 14, 0x99), query + "odd.bmp\" -qX",
            missing("odd.bmp"), 1 },
        { "bmp_unknown_depth", patched("odd.bmp", "bmp", 28, 7), query + "odd.bmp\" -qX", missing("odd.bmp"),
            1 },
        { "png_cut_after_signature", truncated("cut.png", "png", at(8)), query + "cut.png\" -qX",
            missing("cut.png"), 1 },
        { "png_cut_in_header", truncated("cut.png", "png", at(30)), query + "cut.png\" -qX",
            missing("cut.png"), 1 },
        { "png_cut_in_half", truncated("cut.png", "png", half), query + "cut.png\" -qX", missing("cut.png"),
            1 },
        { "png_cut_near_end", truncated("cut.png", "png", lastTwentyCut), query + "cut.png\" -qX",
            missing("cut.png"), 1 },
        { "jpeg_cut_after_marker", truncated("cut.jpg", "jpg", at(2)), query + "cut.jpg\" -qX",
            missing("cut.jpg"), 1 },
        { "jpeg_cut_in_half", truncated("cut.jpg", "jpg", half), query + "cut.jpg\" -qX", missing("cut.jpg"),
            1 },
        { "jpeg_cut_near_end", truncated("cut.jpg", "jpg", lastTwentyCut), query + "cut.jpg\" -qX",
            missing("cut.jpg"), 1 },
        { "tiff_cut_in_header", truncated("cut.tif", "tif", at(8)), query + "cut.tif\" -qX",
            missing("cut.tif"), 1 },
        { "tiff_cut_in_half", truncated("cut.tif", "tif", half), query + "cut.tif\" -qX", missing("cut.tif"),
            1 },
        { "tiff_cut_near_end", truncated("cut.tif", "tif", lastTwentyCut), query + "cut.tif\" -qX",
            missing("cut.tif"), 1 },
        { "iff_cut_in_header", truncated("cut.iff", "iff", at(12)), query + "cut.iff\" -qX",
            missing("cut.iff"), 1 },
        { "iff_cut_in_half", truncated("cut.iff", "iff", half), query + "cut.iff\" -qX", missing("cut.iff"),
            1 },
        { "iff_cut_near_end", truncated("cut.iff", "iff", lastTwentyCut), query + "cut.iff\" -qX",
            missing("cut.iff"), 1 },
    };
    // Bytes of no format: only a Targa, which has no signature, reaches a reader.
    for (const char* extension : { "png", "jpg", "tif", "iff", "exr", "gif", "bmp", "tga" }) {
        const std::string name = std::string("noise.") + extension;
        rows.push_back(
            { "random_bytes", bytes(name, randomBytes(3000)), query + name + "\" -qX", missing(name), 1 });
    }
    const Bytes black(4, 0);
    rows.insert(rows.end(),
        {
            { "png_header_claims_100000_square", bytes("huge.png", pngFile(100000, 100000, 8, 2, 0, {})),
                query + "huge.png\" -qX", missing("huge.png"), 1 },
            { "png_header_claims_65535_square", bytes("huge.png", pngFile(65535, 65535, 8, 6, 0, {})),
                query + "huge.png\" -qX", missing("huge.png"), 1 },
            { "png_header_claims_2_to_30_pixels",
                bytes("huge.png", pngFile(32768, 32768, 8, 6, 0, { black })), query + "huge.png\" -qX",
                overBudget(32768, 32768) + missing("huge.png"), 1 },
            // Within the budget the run allows, a header may claim up to 2^30 pixels.
            { "png_header_claims_2_to_30_pixels_within_raised_budget",
                bytes("huge.png", pngFile(32768, 32768, 8, 6, 0, { black })), query + "huge.png\" -qX",
                missing("huge.png"), 1, "", { "--pixel-budget", "1073741824" } },
            // The decoder would hold 8 GiB of float samples on the way to 4 GiB of
            // pixels; any single allocation over 4200 MiB is fatal here.
            { "float_tiff_header_claims_2_to_30_pixels", bytes("deep.tif", deepTiffHeader(32768, 32768)),
                query + "deep.tif\" -qX", missing("deep.tif"), 1, "max_allocation_size_mb=4200",
                { "--pixel-budget", "1073741824" } },
            { "float_tiff_header_over_budget", bytes("deep.tif", deepTiffHeader(32768, 32768)),
                query + "deep.tif\" -qX", overBudget(32768, 32768) + missing("deep.tif"), 1 },
            // The BMP decoder throws on a row this long rather than failing.
            { "bmp_header_claims_one_row_of_822083592_pixels", bytes("long.bmp", longRowBmp()),
                query + "long.bmp\" -qX", missing("long.bmp"), 1 },
            { "bmp_rle_claims_532_million_pixels_in_two_bytes", bytes("runs.bmp", hugeRunLengthBmp()),
                query + "runs.bmp\" -qX", missing("runs.bmp"), 1, "", { "--pixel-budget", "1073741824" } },
            { "bmp_rle_over_budget", bytes("runs.bmp", hugeRunLengthBmp()), query + "runs.bmp\" -qX",
                overBudget(127, 4194356) + missing("runs.bmp"), 1 },
            { "image_at_budget", gradient("g.png", 200, 100, "png"), query + "g.png\" -qX", result("200"), 0,
                "", { "--pixel-budget", "20000" } },
            { "image_one_pixel_over_budget", gradient("g.png", 200, 100, "png"), query + "g.png\" -qX",
                overBudget(200, 100, "19999") + error("images/g.png does not exist!"), 1, "",
                { "--pixel-budget", "19999" } },
            { "iff_header_claims_65535_square", bytes("huge.iff", iffFile(65535, 65535, true, {})),
                query + "huge.iff\" -qX", missing("huge.iff"), 1 },
            { "one_pixel", gradient("dot.png", 1, 1, "png"), query + "dot.png\" -qX", error("Size failed!"),
                1 },
            { "one_pixel_average", gradient("dot.png", 1, 1, "png"), "averageFunction -f \"images/dot.png\"",
                kDefaultSteps + error("cant get size!"), 1 },
            { "one_by_100000", gradient("line.png", 1, 100000, "png"), query + "line.png\" -qY",
                error("Size failed!"), 1 },
            { "palette_png",
                [](const Workspace& f) {
                    std::vector<Bytes> rows;
                    for (unsigned int y = 0; y < 10; ++y)
                        rows.push_back(Bytes(12, static_cast<unsigned char>(y % 3)));
                    writeBytes(f.file("images/palette.png"),
                        pngFile(12, 10, 8, 3, 0, rows, { 10, 20, 30, 40, 50, 60, 70, 80, 90 }));
                },
                "depthFunction -f \"images/palette.png\" -x 12 -y 1",
                result("10 20 30 255 40 50 60 255 70 80 90 255 10 20 30 255 40 50 60 255 70 80 90 255 10 20 "
                       "30 255 "
                       "40 50 60 255 70 80 90 255 10 20 30 255"),
                0 },
            { "interlaced_png",
                [](const Workspace& f) {
                    std::vector<Bytes> rows;
                    for (unsigned int y = 0; y < 10; ++y)
                        rows.push_back(checkerRow(y, 12, 3));
                    writePngWithLibpng(f.file("images/interlaced.png"), 12, 10, 8, 2, true, rows);
                },
                "depthFunction -f \"images/interlaced.png\" -x 3 -y 5", result(checkerSamples(3, 5)), 0 },
            { "sixteen_bit_png",
                [](const Workspace& f) {
                    Bytes row;
                    for (int x = 0; x < 10; ++x)
                        row.insert(row.end(), { 0xff, 0xff, 0x80, 0x80, 0x00, 0x00 });
                    writeBytes(
                        f.file("images/deep.png"), pngFile(10, 10, 16, 2, 0, std::vector<Bytes>(10, row)));
                },
                "averageFunction -f \"images/deep.png\" -x 10 -y 10", result("255 128 0 255"), 0 },
            { "cmyk_jpeg",
                [](const Workspace& f) {
                    const unsigned char cmyk[4] = { 255, 0, 255, 255 };
                    writeCmykJpeg(f.file("images/cmyk.jpg"), 16, 12, cmyk);
                },
                query + "cmyk.jpg\" -qY", result("12"), 0 },
        });
    return rows;
}

std::vector<Row> stepRows()
{
    const Prepare image = gradient("g.png", 20, 20, "png");
    const std::string depth = "depthFunction -f \"images/g.png\" ";
    const std::string average = "averageFunction -f \"images/g.png\" ";
    const std::string steps = error("Block steps must be at least 1!");
    const std::string nul(1, '\0');
    std::string firstRow;
    for (unsigned int x = 0; x < 20; x += 2)
        firstRow += std::to_string(x * 10) + " " + std::to_string(2 * x) + " 0 255 ";
    firstRow.pop_back();
    return {
        { "step_zero", image, depth + "-x 0", steps, 1 },
        { "step_negative", image, depth + "-y -1", steps, 1 },
        { "step_fraction_below_one", image, average + "-x 0.5", steps, 1 },
        { "step_fraction_truncated", image, depth + "-x 2.5 -y 20", result(firstRow), 0 },
        { "step_largest_unsigned", image, depth + "-x 4294967295", error("Cant resize image!"), 1 },
        { "step_past_unsigned", image, average + "-y 4294967296", steps, 1 },
        { "step_larger_than_image", image, average + "-x 21 -y 5", error("Cant resize image!"), 1 },
        { "step_overflows_double", image, depth + "-x 1e400", steps, 1 },
        { "step_holding_nul", image, depth + "-x 2" + nul + "5",
            error("Flag -x expects a number, not \"2" + nul + "5\""), 1 },
    };
}

std::vector<Row> resizeRows()
{
    const std::string resize = "resizeFunction -folder \"images/\" ";
    const Prepare twoNames = list("a.png b.png\n");
    const std::string longName = std::string(248, 'n') + ".png";
    return {
        { "size_zero", twoNames, resize + "-size 0 -number 2", error("resizing failed!"), 1 },
        { "size_one", twoNames, resize + "-size 1 -number 2", error("resizing failed!"), 1 },
        { "size_two", twoNames, resize + "-size 2 -number 3", result("a.png b.png"), 0 },
        { "size_largest_unsigned", twoNames, resize + "-size 4294967295 -number 2", error("resizing failed!"),
            1 },
        { "size_past_unsigned", twoNames, resize + "-size 4294967296 -number 2",
            error("missing required param"), 1 },
        { "size_negative", twoNames, resize + "-size -4 -number 2", error("missing required param"), 1 },
        { "number_zero", twoNames, resize + "-size 8 -number 0", error("-number must be at least 1!"), 1 },
        { "number_negative", twoNames, resize + "-size 8 -number -1", error("-number must be at least 1!"),
            1 },
        { "number_largest_int_short_list", twoNames, resize + "-size 8 -number 2147483647",
            error("images/ does not exist!"), 1 },
        { "list_is_directory", [](const Workspace& f) { fs::create_directory(f.file(kListFile)); },
            resize + "-size 8 -number 2", error("images/ does not exist!"), 1 },
        { "list_missing", [](const Workspace&) {}, resize + "-size 8 -number 2",
            error("images/ does not exist!"), 1 },
        { "list_binary", list(std::string("\x01\x02\xff\xfe", 4)), resize + "-size 8 -number 2",
            error("images/\x01\x02\xff\xfe does not exist!"), 1 },
        { "list_crlf", list("a.png\r\nb.png\r\n"), resize + "-size 8 -number 3", result("a.png b.png"), 0 },
        { "list_name_holding_nul", list(std::string("a.png\0x b.png", 13)), resize + "-size 8 -number 3",
            error(std::string("images/a.png\0x does not exist!", 30)), 1 },
        // Lists that are no regular file read as missing ones, without blocking or
        // reading without end.
        { "list_is_fifo", [](const Workspace& f) { mkfifo(f.file(kListFile).c_str(), 0600); },
            resize + "-size 8 -number 2", error("images/ does not exist!"), 1 },
        { "list_is_dev_zero", [](const Workspace& f) { fs::create_symlink("/dev/zero", f.file(kListFile)); },
            resize + "-size 8 -number 2", error("images/ does not exist!"), 1 },
        { "list_word_without_end", list("a.png " + std::string(std::size_t { 64 } << 20, 'w')),
            resize + "-size 8 -number 4", error("images/ does not exist!"), 1 },
        // Output names: one leaving the output folder or without a base name is
        // not written; a long one that fits a file name is.
        { "name_escaping_output_folder", list("a.png ../images/b.png"), resize + "-size 8 -number 3",
            error("cant write to file!"), 1 },
        // ".." climbs back over the name before it, not over where a link leads:
        // a link in the output folder is refused rather than followed out of it.
        { "name_through_link_and_back",
            [](const Workspace& f) {
                writeGradient(f.file("images/a.png"), 20, 20, "png");
                fs::create_directories(f.file("outside/inner"));
                writeGradient(f.file("outside/b.png"), 16, 8, "png");
                fs::create_directory_symlink(f.file("outside/inner"), f.file("images/link"));
                fs::create_directory_symlink(
                    f.file("outside/inner"), f.file(std::string(kOutputFolder) + "link"));
                const std::string names = "a.png link/../b.png";
                writeBytes(f.file(kListFile), Bytes(names.begin(), names.end()));
            },
            resize + "-size 8 -number 3", error("cant write to file!"), 1 },
        { "name_through_folder_and_back",
            [](const Workspace& f) {
                writeGradient(f.file("images/a.png"), 20, 20, "png");
                fs::create_directories(f.file("images/sub"));
                fs::create_directories(f.file(std::string(kOutputFolder) + "sub"));
                const std::string names = "sub/../a.png";
                writeBytes(f.file(kListFile), Bytes(names.begin(), names.end()));
            },
            resize + "-size 8 -number 2", result("sub/../a.png"), 0 },
        { "name_without_base",
            [](const Workspace& f) {
                writeGradient(f.file("images/abc"), 8, 8, "png");
                writeBytes(f.file(kListFile), Bytes { 'a', 'b', 'c' });
            },
            resize + "-size 8 -number 2", error("cant write to file!"), 1 },
        { "name_of_248_characters_and_png",
            [longName](const Workspace& f) {
                writeGradient(f.file("images/" + longName), 8, 8, "png");
                writeBytes(f.file(kListFile), Bytes(longName.begin(), longName.end()));
            },
            resize + "-size 8 -number 2", result(longName), 0 },
    };
}

// A 10 x 10 BMP whose stored rows come from `pixel(x, y)` (y counted from the
// top), `bytes` bytes a pixel, little-endian.
BmpLayout bmpOf(BmpLayout layout, int bytesPerPixel, const std::function<std::uint32_t(int, int)>& pixel)
{
    for (int stored = 0; stored < 10; ++stored) {
        const int y = layout.height < 0 ? stored : 9 - stored;
        Bytes row;
        for (int x = 0; x < 10; ++x)
            for (int b = 0; b < bytesPerPixel; ++b)
                row.push_back(static_cast<unsigned char>(pixel(x, y) >> (8 * b)));
        layout.rows.push_back(row);
    }
    return layout;
}

// Palette indices of fewer than 8 bits, packed from the top bit, for bmpOf-like rows.
BmpLayout packedBmp(BmpLayout layout, const std::function<unsigned(int, int)>& index)
{
    for (int stored = 0; stored < 10; ++stored) {
        const int y = 9 - stored;
        Bytes row((10 * layout.depth + 7) / 8, 0);
        for (int x = 0; x < 10; ++x)
            row[std::size_t(x * layout.depth / 8)]
                |= static_cast<unsigned char>(index(x, y) << (8 - layout.depth - (x * layout.depth) % 8));
        layout.rows.push_back(row);
    }
    return layout;
}

Bytes paletteOf(int entries, int entryBytes, const std::function<Bytes(int)>& bgr)
{
    Bytes palette;
    for (int i = 0; i < entries; ++i) {
        const Bytes entry = bgr(i);
        palette.insert(palette.end(), entry.begin(), entry.end());
        if (entryBytes == 4)
            palette.push_back(0);
    }
    return palette;
}

// Readers' layouts, each read right, the pixels at (0, 0), (5, 0), (0, 5) and
// (5, 5) shown.
std::vector<Row> readerRows()
{
    const std::string depth = "depthFunction -f \"images/";
    const std::string corners = "\" -x 5 -y 5";
    const Bytes twoColours = paletteOf(2, 3, [](int i) {
        return i == 0 ? Bytes { 30, 20, 10 } : Bytes { 60, 50, 40 };
    });
    BmpLayout os2Mono;
    os2Mono.infoBytes = 12;
    os2Mono.depth = 1;
    os2Mono.palette = twoColours;
    BmpLayout os2Full;
    os2Full.infoBytes = 12;
    os2Full.depth = 8;
    os2Full.palette = paletteOf(256, 3, [](int i) {
        return Bytes { static_cast<unsigned char>(i), static_cast<unsigned char>(i / 2),
            static_cast<unsigned char>(255 - i) };
    });
    BmpLayout shortPalette;
    shortPalette.depth = 8;
    shortPalette.coloursUsed = 2;
    shortPalette.palette = paletteOf(2, 4, [](int i) {
        return i == 0 ? Bytes { 30, 20, 10 } : Bytes { 60, 50, 40 };
    });
    BmpLayout v3;
    v3.infoBytes = 56;
    v3.depth = 32;
    v3.compression = 3;
    v3.masks = { 0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000 };
    BmpLayout profiled;
    profiled.infoBytes = 124;
    profiled.profile = Bytes(3000, 0x42);
    const auto rgbPixel
        = [](int x, int y) { return std::uint32_t(x * 10) << 16 | std::uint32_t(y * 20) << 8 | 99; };
    const std::string rgbCorners = result("0 0 99 255 50 0 99 255 0 100 99 255 50 100 99 255");
    return {
        // A full palette after the 12-byte header: every entry counts.
        { "bmp_os2_one_bit",
            bytes("os2.bmp", bmpFile(packedBmp(os2Mono, [](int x, int y) { return (x + y) % 2; }))),
            depth + "os2.bmp" + corners, result("10 20 30 255 40 50 60 255 40 50 60 255 10 20 30 255"), 0, "",
            {}, true },
        { "bmp_os2_last_palette_entries",
            bytes("os2.bmp", bmpFile(bmpOf(os2Full, 1, [](int x, int) { return 246u + std::uint32_t(x); }))),
            depth + "os2.bmp" + corners, result("9 123 246 255 4 125 251 255 9 123 246 255 4 125 251 255"), 0,
            "", {}, true },
        // Indices past a palette of two read opaque black.
        { "bmp_palette_shorter_than_indices",
            bytes("short.bmp", bmpFile(bmpOf(shortPalette, 1, [](int x, int) { return std::uint32_t(x); }))),
            depth + "short.bmp" + corners, result("10 20 30 255 0 0 0 255 10 20 30 255 0 0 0 255"), 0, "", {},
            true },
        { "bmp_v3_header_bitfields_with_alpha",
            bytes("v3.bmp",
                bmpFile(bmpOf(v3, 4,
                    [](int x, int y) {
                        return std::uint32_t(x * 20) << 24 | 200u << 16 | std::uint32_t(y * 10) << 8 | 7;
                    }))),
            depth + "v3.bmp" + corners, result("200 0 7 0 200 0 7 100 200 50 7 0 200 50 7 100"), 0, "", {},
            true },
        // The stored pixels, the profile unapplied, as in every format.
        { "bmp_embedded_profile", bytes("profiled.bmp", bmpFile(bmpOf(profiled, 3, rgbPixel))),
            depth + "profiled.bmp" + corners, rgbCorners, 0, "", {}, true },
        // libjpeg-turbo would fill in each short scan and go on to the next.
        { "jpeg_progressive_short_scan_repeated_3000_times",
            bytes("scans.jpg", greyJpeg(8192, 8192, true, 3000, 90)), depth + "scans.jpg" + corners,
            error("images/scans.jpg does not exist!"), 1 },
        { "jpeg_progressive_short_scans", bytes("scans.jpg", greyJpeg(8192, 8192, true, 50, 90)),
            depth + "scans.jpg" + corners, error("images/scans.jpg does not exist!"), 1, "",
            { "--pixel-budget", "1073741824" } },
        { "jpeg_progressive_100_whole_scans", bytes("scans.jpg", greyJpeg(256, 256, true, 100, 128)),
            depth + "scans.jpg\" -x 128 -y 128",
            result("128 128 128 255 128 128 128 255 128 128 128 255 128 128 128 255"), 0 },
        { "jpeg_progressive_101_whole_scans", bytes("scans.jpg", greyJpeg(256, 256, true, 101, 128)),
            depth + "scans.jpg\" -x 128 -y 128", error("images/scans.jpg does not exist!"), 1 },
        // Cut in its first row: refused there, not after decoding 2^30 pixels of grey.
        { "jpeg_cut_claiming_32768_square", bytes("cut.jpg", greyJpeg(32768, 32768, false, 1, 20, true)),
            depth + "cut.jpg" + corners, error("images/cut.jpg does not exist!"), 1, "",
            { "--pixel-budget", "1073741824" } },
        // Alpha of four bits spread over 0..255 like any sample: 2 gives 34, 7 gives 119.
        { "tiff_palette_four_bit_alpha",
            [](const Workspace& f) {
                TiffLayout layout;
                layout.samples = 2;
                layout.bits = 4;
                layout.photometric = PHOTOMETRIC_PALETTE;
                layout.alpha = true;
                for (int c = 0; c < 3; ++c)
                    for (int i = 0; i < 16; ++i)
                        layout.colourMap.push_back(static_cast<std::uint16_t>(c == 0 ? i * 4369
                                : c == 1                                             ? 65535 - i * 4369
                                                                                     : 100 * 257));
                for (int y = 0; y < 10; ++y) {
                    Bytes row;
                    for (int x = 0; x < 10; ++x)
                        row.push_back(static_cast<unsigned char>(x << 4 | (y + 2)));
                    layout.rows.push_back(row);
                }
                writeTiff(f.file("images/palette.tif"), layout);
            },
            depth + "palette.tif" + corners,
            result("0 255 100 34 85 170 100 34 0 255 100 119 85 170 100 119"), 0, "", {}, true },
        // L* = 100 is white, once adapted from D50 to sRGB's D65.
        { "tiff_cielab",
            [](const Workspace& f) {
                TiffLayout layout;
                layout.photometric = PHOTOMETRIC_CIELAB;
                for (int y = 0; y < 10; ++y) {
                    Bytes row;
                    for (int x = 0; x < 10; ++x) {
                        const Bytes lab = y < 5 ? (x < 5 ? Bytes { 255, 0, 0 } : Bytes { 128, 0, 0 })
                                                : (x < 5 ? Bytes { 138, 81, 70 } : Bytes { 150, 196, 50 });
                        row.insert(row.end(), lab.begin(), lab.end());
                    }
                    layout.rows.push_back(row);
                }
                writeTiff(f.file("images/lab.tif"), layout);
            },
            depth + "lab.tif" + corners, result("255 255 255 255 119 119 119 255 255 0 0 255 0 166 39 255"),
            0, "", {}, true },
        { "tiff_old_style_jpeg_with_junk_tag", bytes("old.tif", oldStyleJpegTiff(greyBlocksJpeg())),
            depth + "old.tif\" -x 8 -y 8",
            result("50 50 50 255 100 100 100 255 150 150 150 255 200 200 200 255"), 0 },
        { "bigtiff",
            [](const Workspace& f) {
                TiffLayout layout;
                layout.big = true;
                for (int y = 0; y < 10; ++y) {
                    Bytes row;
                    for (int x = 0; x < 10; ++x)
                        row.insert(row.end(),
                            { static_cast<unsigned char>(x * 10), static_cast<unsigned char>(y * 20), 99 });
                    layout.rows.push_back(row);
                }
                writeTiff(f.file("images/big.tif"), layout);
            },
            depth + "big.tif" + corners, result("0 0 99 255 50 0 99 255 0 100 99 255 50 100 99 255"), 0 },
        // A text chunk claiming 2^31 - 1 bytes in a file of 105.
        { "png_text_chunk_claims_2_gib",
            [](const Workspace& f) {
                Bytes png = pngFile(10, 10, 8, 0, 0, {});
                png.resize(33);  // the signature and the header
                png.insert(png.end(), { 0x7f, 0xff, 0xff, 0xff, 't', 'E', 'X', 't' });
                png.resize(105, 'a');
                writeBytes(f.file("images/text.png"), png);
            },
            depth + "text.png" + corners, error("images/text.png does not exist!"), 1 },
        // Only the pixels are read, never the whole file.
        { "bmp_in_sparse_3_gib_file",
            [=](const Workspace& f) {
                BmpLayout plain;
                writeBytes(f.file("images/sparse.bmp"), bmpFile(bmpOf(plain, 3, rgbPixel)));
                fs::resize_file(f.file("images/sparse.bmp"), std::uintmax_t(3) << 30);
            },
            depth + "sparse.bmp" + corners, rgbCorners, 0 },
    };
}

// Files for the readers that run in the decoding child (OpenImageIO's and
// libwebp's): each built here from its layout.

void appendLittle(Bytes& bytes, std::uint64_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A colour-mapped Targa, top row first, with `entries` 24-bit map colours (RGB
// triples) and one index a pixel; run-length packets of whole rows when `runs`.
Bytes colourMappedTarga(unsigned width, unsigned height, int indexBits, const Bytes& entries,
    const std::vector<unsigned>& indices, bool runs)
{
    Bytes tga = { 0, 1, static_cast<unsigned char>(runs ? 9 : 1) };
    appendLittle(tga, 0, 2);
    appendLittle(tga, entries.size() / 3, 2);
    tga.push_back(24);
    appendLittle(tga, 0, 4);
    appendLittle(tga, width, 2);
    appendLittle(tga, height, 2);
    tga.push_back(static_cast<unsigned char>(indexBits));
    tga.push_back(0x20);
    for (std::size_t i = 0; i < entries.size(); i += 3)
        tga.insert(tga.end(), { entries[i + 2], entries[i + 1], entries[i] });
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (runs && i % width == 0)
            tga.push_back(static_cast<unsigned char>(0x80 | (width - 1)));
        if (!runs || i % width == 0)
            appendLittle(tga, indices[i], indexBits / 8);
    }
    return tga;
}

// Row y of a colour-mapped image takes index y % 3 (of three map colours).
std::vector<unsigned> rowIndices(unsigned width, unsigned height, unsigned past)
{
    std::vector<unsigned> indices;
    for (unsigned y = 0; y < height; ++y)
        indices.insert(indices.end(), width, y == height - 1 ? past : y % 3);
    return indices;
}

const Bytes kMapColours = { 10, 20, 30, 40, 50, 60, 70, 80, 90 };

std::string mapRowSamples(unsigned height)
{
    std::string text;
    for (unsigned y = 0; y < height; ++y)
        text += std::to_string(kMapColours[y % 3 * 3]) + " " + std::to_string(kMapColours[y % 3 * 3 + 1])
            + " " + std::to_string(kMapColours[y % 3 * 3 + 2]) + " 255 ";
    text.pop_back();
    return text;
}

// A 16 x 16 icon holding one 24-bit bitmap with an info header of
// `headerBytes` (40, or 124 for V5); the left half red, the right half blue,
// the top half with green 100.
Bytes bitmapIcon(unsigned headerBytes)
{
    const unsigned side = 16;
    Bytes bitmap;
    appendLittle(bitmap, headerBytes, 4);
    appendLittle(bitmap, side, 4);
    appendLittle(bitmap, side * 2, 4);  // colour rows and mask rows
    appendLittle(bitmap, 1, 2);
    appendLittle(bitmap, 24, 2);
    bitmap.resize(headerBytes, 0);
    for (unsigned row = side; row-- > 0;) {  // bottom row first
        for (unsigned x = 0; x < side; ++x) {
            const bool left = x < side / 2;
            bitmap.insert(bitmap.end(),
                { static_cast<unsigned char>(left ? 0 : 200),
                    static_cast<unsigned char>(row < side / 2 ? 100 : 0),
                    static_cast<unsigned char>(left ? 200 : 0) });
        }
    }
    bitmap.resize(bitmap.size() + side * 4, 0);  // an all-opaque mask, 4 bytes a row
    Bytes icon = { 0, 0, 1, 0, 1, 0, static_cast<unsigned char>(side), static_cast<unsigned char>(side), 0, 0,
        1, 0, 24, 0 };
    appendLittle(icon, bitmap.size(), 4);
    appendLittle(icon, 22, 4);
    icon.insert(icon.end(), bitmap.begin(), bitmap.end());
    return icon;
}

// An uncompressed scanline OpenEXR file of float RGBA whose data window
// [x0, x1] x [y0, y1] lies inside a display window of `side` x `side`, every
// data pixel holding `rgba`.
Bytes windowedExr(int side, int x0, int y0, int x1, int y1, const float rgba[4])
{
    Bytes exr = { 0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0 };
    const auto attribute = [&exr](const std::string& name, const std::string& type, const Bytes& value) {
        exr.insert(exr.end(), name.begin(), name.end());
        exr.push_back(0);
        exr.insert(exr.end(), type.begin(), type.end());
        exr.push_back(0);
        appendLittle(exr, value.size(), 4);
        exr.insert(exr.end(), value.begin(), value.end());
    };
    const auto floatBytes = [](float value) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, 4);
        Bytes bytes;
        appendLittle(bytes, bits, 4);
        return bytes;
    };
    const auto box = [](int a, int b, int c, int d) {
        Bytes bytes;
        for (int value : { a, b, c, d })
            appendLittle(bytes, static_cast<std::uint32_t>(value), 4);
        return bytes;
    };
    Bytes channels;
    for (char name : { 'A', 'B', 'G', 'R' }) {  // stored in name order
        channels.insert(channels.end(), { static_cast<unsigned char>(name), 0 });
        appendLittle(channels, 2, 4);  // float
        appendLittle(channels, 0, 4);  // linear flag and reserved bytes
        appendLittle(channels, 1, 4);
        appendLittle(channels, 1, 4);
    }
    channels.push_back(0);
    attribute("channels", "chlist", channels);
    attribute("compression", "compression", { 0 });
    attribute("dataWindow", "box2i", box(x0, y0, x1, y1));
    attribute("displayWindow", "box2i", box(0, 0, side - 1, side - 1));
    attribute("lineOrder", "lineOrder", { 0 });
    attribute("pixelAspectRatio", "float", floatBytes(1));
    Bytes centre = floatBytes(0);
    centre.resize(8, 0);
    attribute("screenWindowCenter", "v2f", centre);
    attribute("screenWindowWidth", "float", floatBytes(1));
    exr.push_back(0);
    const int width = x1 - x0 + 1;
    const std::size_t lineBytes = 8 + std::size_t(width) * 16;
    const std::size_t firstLine = exr.size() + std::size_t(y1 - y0 + 1) * 8;
    for (int y = y0; y <= y1; ++y)
        appendLittle(exr, firstLine + std::size_t(y - y0) * lineBytes, 8);
    for (int y = y0; y <= y1; ++y) {
        appendLittle(exr, static_cast<std::uint32_t>(y), 4);
        appendLittle(exr, std::size_t(width) * 16, 4);
        for (int channel : { 3, 2, 1, 0 })
            for (int x = 0; x < width; ++x) {
                const Bytes sample = floatBytes(rgba[channel]);
                exr.insert(exr.end(), sample.begin(), sample.end());
            }
    }
    return exr;
}

// A lossless WebP of width x height pixels all of one RGBA colour.
Bytes webpOf(int width, int height, const Bytes& rgba)
{
    Bytes pixels;
    for (int i = 0; i < width * height; ++i)
        pixels.insert(pixels.end(), rgba.begin(), rgba.end());
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(pixels.data(), width, height, width * 4, &encoded);
    Bytes webp(encoded, encoded + size);
    WebPFree(encoded);
    return webp;
}

// An old-style run-length Radiance picture, 12 x 10: each row one RGBE pixel,
// then a repeat count pixel (1, 1, 1, 11).
Bytes oldRunLengthHdr()
{
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 10 +X 12\n";
    Bytes hdr(header.begin(), header.end());
    for (int y = 0; y < 10; ++y)
        hdr.insert(hdr.end(), { 128, 64, 32, 129, 1, 1, 1, 11 });
    return hdr;
}

std::vector<Row> isolatedReaderRows()
{
    const std::string query = "queryFunction -f \"images/";
    const auto missing = [](const std::string& name) { return error("images/" + name + " does not exist!"); };
    const std::string mapRows = "depthFunction -f \"images/map.tga\" -x 12 -y 1";
    const float orange[4] = { 1.0f, 0.2f, 0.0f, 1.0f };
    std::string windowSamples;
    for (int y = 0; y < 20; y += 5)
        for (int x = 0; x < 20; x += 5)
            windowSamples += x >= 5 && x < 15 && y == 5 ? "255 51 0 255 " : "0 0 0 0 ";
    windowSamples.pop_back();
    std::vector<Row> rows = {
        // Indices past the colour map: OpenImageIO took 8-bit ones' colours from
        // memory past the map and crashed on 16-bit ones.
        { "targa_8_bit_indices_past_colour_map",
            bytes("map.tga", colourMappedTarga(12, 10, 8, kMapColours, rowIndices(12, 10, 200), false)),
            query + "map.tga\" -qX", missing("map.tga"), 1 },
        { "targa_16_bit_indices_past_colour_map",
            bytes("map.tga", colourMappedTarga(12, 10, 16, kMapColours, rowIndices(12, 10, 40000), false)),
            query + "map.tga\" -qX", missing("map.tga"), 1 },
        { "targa_runs_past_colour_map",
            bytes("map.tga", colourMappedTarga(12, 10, 8, kMapColours, rowIndices(12, 10, 3), true)),
            query + "map.tga\" -qX", missing("map.tga"), 1 },
        // Icons: a bitmap with a V5 header came out in garbage colours.
        { "icon_bitmap_with_v5_header", bytes("icon.ico", bitmapIcon(124)), query + "icon.ico\" -qX",
            missing("icon.ico"), 1 },
        // A file the host cannot place goes to the reader its extension names
        // alone, and none other is asked whether it claims it.
        { "targa_named_otherwise",
            bytes("map.dat", colourMappedTarga(12, 10, 8, kMapColours, rowIndices(12, 10, 0), false)),
            query + "map.dat\" -qX", missing("map.dat"), 1 },
        { "random_bytes_as_icon", bytes("noise.ico", randomBytes(3000)), query + "noise.ico\" -qX",
            missing("noise.ico"), 1 },
        // Old-style runs (a pixel of 1, 1, 1 repeating the one before) are
        // refused by OpenImageIO's reader, and no library at hand reads them.
        { "radiance_old_run_length", bytes("old.hdr", oldRunLengthHdr()), query + "old.hdr\" -qX",
            missing("old.hdr"), 1 },
    };
    // Read right, with the same pixels whatever fresh heap memory held.
    rows.insert(rows.end(),
        {
            { "targa_colour_map_read_right",
                bytes("map.tga", colourMappedTarga(12, 10, 8, kMapColours, rowIndices(12, 10, 0), false)),
                mapRows, result(mapRowSamples(9) + " 10 20 30 255"), 0, "", {}, true },
            { "targa_colour_map_runs_read_right",
                bytes("map.tga", colourMappedTarga(12, 10, 16, kMapColours, rowIndices(12, 10, 0), true)),
                mapRows, result(mapRowSamples(9) + " 10 20 30 255"), 0, "", {}, true },
            { "icon_bitmap_read_right", bytes("icon.ico", bitmapIcon(40)),
                "depthFunction -f \"images/icon.ico\" -x 8 -y 8",
                result("200 100 0 255 0 100 200 255 200 0 0 255 0 0 200 255"), 0, "", {}, true },
            // Colour stays as stored, not multiplied by alpha.
            { "webp_alpha_unassociated", bytes("alpha.webp", webpOf(12, 10, { 18, 131, 22, 154 })),
                "averageFunction -f \"images/alpha.webp\" -x 12 -y 10", result("18 131 22 154"), 0, "", {},
                true },
            // The display window is the image; outside the data window, 0.
            { "exr_data_window_inside_display_window",
                bytes("window.exr", windowedExr(20, 5, 5, 14, 9, orange)),
                "depthFunction -f \"images/window.exr\" -x 5 -y 5", result(windowSamples), 0, "", {}, true },
            // The decoding process reports the header's size; the host checks it
            // against the pixel budget before it sizes the shared pixels.
            { "targa_header_over_budget",
                bytes("huge.tga",
                    { 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0x4e, 0x20, 0x4e, 24, 0x20, 1, 2, 3 }),
                "queryFunction -f \"images/huge.tga\" -qX", overBudget(20000, 20000) + missing("huge.tga"),
                1 },
        });
    return rows;
}

// ---- Files that claim more than they hold, and large files that hold it.

void appendBig(Bytes& bytes, std::uint64_t value, int count)
{
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

std::uint64_t fileBytes(const Workspace& folder, const std::string& name)
{
    return fs::file_size(folder.file("images/" + name));
}

// The warning of a file refused for asking more pixels than a file of its size
// may under the default budget: the bytes times what one byte of the format
// makes (`perByte`), or 2^25 pixels.
std::string overShare(unsigned width, unsigned height, std::uint64_t bytes, std::uint64_t perByte)
{
    const std::uint64_t share = std::max<std::uint64_t>(std::uint64_t(1) << 25, bytes * perByte);
    return "// Warning: Image of " + std::to_string(width) + " x " + std::to_string(height)
        + " pixels is over the pixel budget of " + std::to_string(share) + " for a file of "
        + std::to_string(bytes)
        + " bytes; raise it with hostbatch --pixel-budget PIXELS or PICTILE_PIXEL_BUDGET=PIXELS, up to "
          "1073741824 //\n";
}

// An IFF form holding a 1 x 1 header and one tile chunk claiming `tileBytes`,
// in a sparse file as long as the form says: only the header is on disk.
Prepare iffClaimingTile(const std::string& name, std::uint32_t tileBytes)
{
    return [=](const Workspace& folder) {
        const std::uint32_t tileForm = 4 + 8 + tileBytes;
        const std::uint32_t form = 4 + 8 + 24 + 8 + tileForm;
        Bytes iff = { 'F', 'O', 'R', '4' };
        appendBig(iff, form, 4);
        iff.insert(iff.end(), { 'C', 'I', 'M', 'G', 'T', 'B', 'H', 'D' });
        appendBig(iff, 24, 4);
        for (const auto& [value, count] : std::vector<std::pair<std::uint64_t, int>> {
                 { 1, 4 }, { 1, 4 }, { 0x00010001, 4 }, { 3, 4 }, { 0, 2 }, { 1, 2 }, { 0, 4 } })
            appendBig(iff, value, count);
        iff.insert(iff.end(), { 'F', 'O', 'R', '4' });
        appendBig(iff, tileForm, 4);
        iff.insert(iff.end(), { 'T', 'B', 'M', 'P', 'R', 'G', 'B', 'A' });
        appendBig(iff, tileBytes, 4);
        iff.resize(iff.size() + 8, 0);  // the tile's corners: 0, 0 to 0, 0
        const std::string path = folder.file("images/" + name);
        writeBytes(path, iff);
        fs::resize_file(path, 8 + std::uint64_t(form));
    };
}

// A 10 x 10 IFF of one raw tile of (10, 20, 30, 255) behind `emptyChunks`
// chunks of no data in its tile form.
Prepare iffWithEmptyChunks(const std::string& name, std::uint32_t emptyChunks)
{
    return [=](const Workspace& folder) {
        Bytes tile = { 0, 0, 0, 0, 0, 9, 0, 9 };
        for (int i = 0; i < 100; ++i)
            tile.insert(tile.end(), { 255, 30, 20, 10 });  // alpha, blue, green, red
        const std::uint32_t tileForm = 4 + 8 * emptyChunks + 8 + std::uint32_t(tile.size());
        Bytes iff = { 'F', 'O', 'R', '4' };
        appendBig(iff, 4 + 8 + 24 + 8 + tileForm, 4);
        iff.insert(iff.end(), { 'C', 'I', 'M', 'G', 'T', 'B', 'H', 'D' });
        appendBig(iff, 24, 4);
        for (const auto& [value, count] : std::vector<std::pair<std::uint64_t, int>> {
                 { 10, 4 }, { 10, 4 }, { 0x00010001, 4 }, { 3, 4 }, { 0, 2 }, { 1, 2 }, { 0, 4 } })
            appendBig(iff, value, count);
        iff.insert(iff.end(), { 'F', 'O', 'R', '4' });
        appendBig(iff, tileForm, 4);
        iff.insert(iff.end(), { 'T', 'B', 'M', 'P' });
        for (std::uint32_t i = 0; i < emptyChunks; ++i)
            iff.insert(iff.end(), { 'P', 'A', 'D', ' ', 0, 0, 0, 0 });
        iff.insert(iff.end(), { 'R', 'G', 'B', 'A' });
        appendBig(iff, tile.size(), 4);
        iff.insert(iff.end(), tile.begin(), tile.end());
        writeBytes(folder.file("images/" + name), iff);
    };
}

// A little-endian TIFF of 8-bit grey in one strip, with `extra` entries of
// (tag, type, count, value) in its directory (in place of its own of the same
// tag), the strip's bytes `strip` written after the directory; the file then
// made `length` long (sparse) if longer.
struct TiffEntry {
    std::uint16_t tag, type;
    std::uint32_t count, value;
};

void writeGreyTiff(const std::string& path, std::uint32_t width, std::uint32_t height,
    std::uint16_t compression, const Bytes& strip, std::vector<TiffEntry> extra, std::uint64_t length = 0)
{
    std::vector<TiffEntry> entries = { { 256, 4, 1, width }, { 257, 4, 1, height }, { 258, 3, 1, 8 },
        { 259, 3, 1, compression }, { 262, 3, 1, 1 }, { 273, 4, 1, 0 }, { 277, 3, 1, 1 },
        { 278, 4, 1, height }, { 279, 4, 1, std::uint32_t(strip.size()) } };
    for (const TiffEntry& entry : extra) {
        const auto same = std::find_if(entries.begin(), entries.end(),
            [&entry](const TiffEntry& other) { return other.tag == entry.tag; });
        if (same != entries.end())
            *same = entry;
        else
            entries.push_back(entry);
    }
    std::sort(
        entries.begin(), entries.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    const std::uint32_t stripAt = 8 + 2 + 12 * std::uint32_t(entries.size()) + 4;
    Bytes tiff = { 'I', 'I', 42, 0 };
    appendLittle(tiff, 8, 4);
    appendLittle(tiff, entries.size(), 2);
    for (const TiffEntry& entry : entries) {
        appendLittle(tiff, entry.tag, 2);
        appendLittle(tiff, entry.type, 2);
        appendLittle(tiff, entry.count, 4);
        appendLittle(tiff, entry.tag == 273 ? stripAt : entry.value, 4);
    }
    appendLittle(tiff, 0, 4);
    tiff.insert(tiff.end(), strip.begin(), strip.end());
    writeBytes(path, tiff);
    if (length > tiff.size())
        fs::resize_file(path, length);
}

// `count` zero bytes as a zlib stream, made a piece at a time.
Bytes deflatedZeros(std::uint64_t count)
{
    z_stream stream {};
    deflateInit(&stream, 9);
    const Bytes zeros(1 << 20, 0);
    Bytes packed;
    unsigned char out[1 << 16];
    for (std::uint64_t left = count;;) {
        const std::size_t take = std::size_t(std::min<std::uint64_t>(left, zeros.size()));
        stream.next_in = const_cast<unsigned char*>(zeros.data());
        stream.avail_in = static_cast<uInt>(take);
        left -= take;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int status = Z_OK;
        do {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            status = deflate(&stream, flush);
            packed.insert(packed.end(), out, out + (sizeof out - stream.avail_out));
        } while (stream.avail_out == 0);
        if (status == Z_STREAM_END)
            break;
    }
    deflateEnd(&stream);
    return packed;
}

// A PNG of 10 x 10 grey pixels of 77 with `count` empty private chunks before
// its image data.
Bytes pngWithEmptyChunks(std::uint32_t count)
{
    const Bytes plain = pngFile(10, 10, 8, 0, 0, std::vector<Bytes>(10, Bytes(10, 77)));
    const std::size_t afterHeader = 8 + 25;
    Bytes empty = { 0, 0, 0, 0, 'p', 'r', 'I', 'v' };
    appendBig(empty, crc32(0, empty.data() + 4, 4), 4);
    Bytes png(plain.begin(), plain.begin() + afterHeader);
    png.reserve(plain.size() + std::size_t(count) * empty.size());
    for (std::uint32_t i = 0; i < count; ++i)
        png.insert(png.end(), empty.begin(), empty.end());
    png.insert(png.end(), plain.begin() + afterHeader, plain.end());
    return png;
}

// A GIF of width by height with a grey palette, pixel (x, y) of index
// (x + y) * 7 % 256; its LZW codes stay 9 bits wide, a clear code every 254
// pixels, so the file holds about a byte a pixel.
void writeGreyGif(const std::string& path, std::uint16_t width, std::uint16_t height)
{
    Bytes gif = { 'G', 'I', 'F', '8', '9', 'a' };
    appendLittle(gif, width, 2);
    appendLittle(gif, height, 2);
    gif.insert(gif.end(), { 0xF7, 0, 0 });
    for (int i = 0; i < 256; ++i)
        gif.insert(gif.end(),
            { static_cast<unsigned char>(i), static_cast<unsigned char>(i), static_cast<unsigned char>(i) });
    gif.push_back(',');
    appendLittle(gif, 0, 4);
    appendLittle(gif, width, 2);
    appendLittle(gif, height, 2);
    gif.insert(gif.end(), { 0, 8 });
    Bytes codes;
    std::uint32_t bits = 0;
    int held = 0;
    const auto put = [&](std::uint32_t code) {
        bits |= code << held;
        for (held += 9; held >= 8; held -= 8, bits >>= 8)
            codes.push_back(static_cast<unsigned char>(bits));
    };
    put(256);
    int sinceClear = 0;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            put((x + y) * 7 % 256);
            if (++sinceClear == 254) {
                put(256);
                sinceClear = 0;
            }
        }
    put(257);
    if (held > 0)
        codes.push_back(static_cast<unsigned char>(bits));
    for (std::size_t at = 0; at < codes.size(); at += 255) {
        const std::size_t count = std::min<std::size_t>(255, codes.size() - at);
        gif.push_back(static_cast<unsigned char>(count));
        gif.insert(gif.end(), codes.begin() + at, codes.begin() + at + count);
    }
    gif.insert(gif.end(), { 0, ';' });
    writeBytes(path, gif);
}

// A JPEG 2000 file (JP2) of width by height, a gradient, through OpenImageIO.
void writeJpeg2000(const std::string& path, int width, int height)
{
    const OIIO::ImageSpec spec(width, height, 3, OIIO::TypeDesc::UINT8);
    Bytes pixels(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = pixels.data() + (std::size_t(y) * width + x) * 3;
            pixel[0] = static_cast<unsigned char>(x * 255 / width);
            pixel[1] = static_cast<unsigned char>(y * 255 / height);
            pixel[2] = 100;
        }
    const std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(output && output->open(path, spec)) << path;
    ASSERT_TRUE(output->write_image(OIIO::TypeDesc::UINT8, pixels.data()));
    ASSERT_TRUE(output->close());
}

// A HEIC of width by height, a gradient, coded by libheif with x265's fastest
// preset.
void writeHeic(const std::string& path, int width, int height)
{
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    ASSERT_EQ(
        heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code, heif_error_Ok);
    heif_encoder_set_parameter(encoder, "preset", "ultrafast");
    heif_encoder_set_lossy_quality(encoder, 50);
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = plane + std::size_t(y) * stride + std::size_t(x) * 3;
            pixel[0] = static_cast<std::uint8_t>(x * 255 / width);
            pixel[1] = static_cast<std::uint8_t>(y * 255 / height);
            pixel[2] = 100;
        }
    EXPECT_EQ(heif_context_encode_image(context, image, encoder, nullptr, nullptr).code, heif_error_Ok);
    EXPECT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
}

std::vector<Row> boundRows()
{
    const std::string query = "queryFunction -f \"images/";
    const auto missing = [](const std::string& name) { return error("images/" + name + " does not exist!"); };
    const std::string oneColour = result("10 20 30 255 10 20 30 255 10 20 30 255 10 20 30 255");
    return {
        // A tile is checked against its own pixels before any of it is read
        // (the whole 4 GiB was read first).
        { "iff_tile_claiming_4_gib", iffClaimingTile("claim.iff", 0xFFFFFF00u), query + "claim.iff\" -qX",
            missing("claim.iff"), 1 },
        // 16 MiB of empty chunks are walked through a window, once.
        { "iff_behind_2_million_empty_chunks", iffWithEmptyChunks("padded.iff", 1u << 21),
            "depthFunction -f \"images/padded.iff\" -x 5 -y 5", oneColour, 0 },
        // libtiff may allocate no tag of more than 256 MiB: a profile is then
        // left out and the image reads; strip offsets the pixels need fail it.
        { "tiff_with_1_gib_profile",
            [](const Workspace& f) {
                Bytes grey;
                for (int i = 0; i < 256; ++i)
                    grey.push_back(static_cast<unsigned char>(i));
                writeGreyTiff(f.file("images/profiled.tif"), 16, 16, 1, grey,
                    { { 34675, 7, 1u << 30, 4096 } }, (std::uint64_t(1) << 30) + 8192);
            },
            "depthFunction -f \"images/profiled.tif\" -x 8 -y 8",
            result("0 0 0 255 8 8 8 255 128 128 128 255 136 136 136 255"), 0 },
        { "tiff_with_2_to_28_strip_offsets",
            [](const Workspace& f) {
                const std::uint32_t strips = (1u << 28) - 16;
                const std::uint32_t offsetsAt = 4096;
                const std::uint32_t countsAt = offsetsAt + 4 * strips;
                writeGreyTiff(f.file("images/strips.tif"), 1, strips, 1, {},
                    { { 273, 4, strips, offsetsAt }, { 278, 4, 1, 1 }, { 279, 4, strips, countsAt } },
                    std::uint64_t(countsAt) + 4 * std::uint64_t(strips));
            },
            query + "strips.tif\" -qY", missing("strips.tif"), 1 },
        // Few bytes may not ask for many pixels unless the run raised the budget.
        { "png_32_kib_claiming_16384_square",
            [](const Workspace& f) {
                writeBytes(f.file("images/bomb.png"),
                    pngFile(16384, 16384, 1, 0, 0, std::vector<Bytes>(16384, Bytes(2048, 0))));
            },
            "depthFunction -f \"images/bomb.png\" -x 1 -y 1", "", 1, "", {}, false,
            [missing](const Workspace& f) {
                return overShare(16384, 16384, fileBytes(f, "bomb.png"), 1024) + missing("bomb.png");
            } },
        { "tiff_261_kib_of_1_by_2_to_28",
            [](const Workspace& f) {
                writeGreyTiff(
                    f.file("images/tall.tif"), 1, 1u << 28, 8, deflatedZeros(std::uint64_t(1) << 28), {});
            },
            query + "tall.tif\" -qY", "", 1, "", {}, false,
            [missing](const Workspace& f) {
                return overShare(1, 1u << 28, fileBytes(f, "tall.tif"), 1024) + missing("tall.tif");
            } },
        // Narrow rows are read a strip at a time, not a call a row.
        { "tiff_of_16_by_2_to_20_in_one_strip",
            [](const Workspace& f) {
                writeGreyTiff(
                    f.file("images/tall.tif"), 16, 1u << 20, 8, deflatedZeros(std::uint64_t(1) << 24), {});
            },
            query + "tall.tif\" -qY", result("1048576"), 0 },
        { "exr_of_16384_square_with_1_pixel_of_data",
            [](const Workspace& f) {
                const float orange[4] = { 1.0f, 0.2f, 0.0f, 1.0f };
                writeBytes(f.file("images/window.exr"), windowedExr(16384, 0, 0, 0, 0, orange));
            },
            query + "window.exr\" -qX", "", 1, "", {}, false,
            [missing](const Workspace& f) {
                return overShare(16384, 16384, fileBytes(f, "window.exr"), 1024) + missing("window.exr");
            } },
        // A progressive JPEG may visit no more blocks than 16 passes over its
        // image (100 whole scans did 100); its bytes are in proportion.
        { "jpeg_progressive_100_whole_scans_of_16384_square",
            [](const Workspace& f) {
                writeBytes(
                    f.file("images/scans.jpg"), greyJpeg(16384, 16384, true, 100, std::size_t(1) << 19));
            },
            query + "scans.jpg\" -qX", missing("scans.jpg"), 1 },
        { "png_of_2_million_empty_chunks",
            [](const Workspace& f) { writeBytes(f.file("images/chunks.png"), pngWithEmptyChunks(1u << 21)); },
            query + "chunks.png\" -qX", missing("chunks.png"), 1 },
        { "png_of_1000_empty_chunks",
            [](const Workspace& f) { writeBytes(f.file("images/chunks.png"), pngWithEmptyChunks(1000)); },
            "averageFunction -f \"images/chunks.png\" -x 10 -y 10", result("77 77 77 255"), 0 },
        // Readers that decode while they open a file get the room of the size
        // the host read from its header.
        { "jpeg_2000_of_6000_by_4000",
            [](const Workspace& f) { writeJpeg2000(f.file("images/large.jp2"), 6000, 4000); },
            query + "large.jp2\" -qX", result("6000"), 0 },
        { "gif_of_9000_square",
            [](const Workspace& f) { writeGreyGif(f.file("images/large.gif"), 9000, 9000); },
            "depthFunction -f \"images/large.gif\" -x 4500 -y 4500",
            result("0 0 0 255 12 12 12 255 12 12 12 255 24 24 24 255"), 0 },
        { "heic_of_8000_by_6000",
            [](const Workspace& f) { writeHeic(f.file("images/large.heic"), 8000, 6000); },
            query + "large.heic\" -qY", result("6000"), 0 },
        // A plug-in path that is no regular file is refused, not waited on.
        { "plugin_path_is_fifo", [](const Workspace& f) { mkfifo(f.file("pipe.so").c_str(), 0600); },
            "loadPlugin \"./pipe.so\"", error("Cannot load plug-in \"./pipe.so\": it is not a regular file"),
            1 },
        // A command's result is stopped at the array bound as it grows.
        { "result_stopped_at_the_array_bound", gradient("g.png", 100, 100, "png"),
            "depthFunction -f \"images/g.png\" -x 1 -y 1",
            error("line 1: an array of more than 1000 elements"), 1, "", { "--limit", "array=1000" } },
        // Ten million names read before the first image, held compactly: 530 MB
        // as strings, now about the 20 MB of their text.
        { "list_of_10_million_names",
            [](const Workspace& f) {
                std::string names;
                names.reserve(20u << 20);
                for (int i = 0; i < 10000000; ++i)
                    names += "a\n";
                writeBytes(f.file(kListFile), Bytes(names.begin(), names.end()));
            },
            "resizeFunction -folder \"images/\" -size 8 -number 2147483647", missing("a"), 1, "", {}, false,
            nullptr, 128 * 1024 },
    };
}

// Hostile scripts: each ends with one clear error, in bounded time and memory,
// under hostbatch's default limits.
std::vector<Row> scriptRows()
{
    const Prepare nothing = [](const Workspace&) {};
    std::string chain = "1";
    for (int i = 1; i < 3000; ++i)
        chain += "+1";
    std::string endless = "print";
    for (int i = 0; i < 300000; ++i)
        endless += "\ny";
    return {
        { "array_index_two_billion", nothing, "int $a[]; $a[2000000000] = 1;",
            error("line 1: an array of more than 16777216 elements"), 1 },
        { "string_doubling_for_ever", nothing, "string $s = \"a\"; while (1) $s += $s;",
            error("line 1: a string of more than 67108864 bytes"), 1 },
        { "source_fifo", [](const Workspace& f) { mkfifo(f.file("pipe.mel").c_str(), 0600); },
            "source \"pipe.mel\";", error("line 1: cannot read script 'pipe.mel': it is not a regular file"),
            1 },
        { "source_folder", [](const Workspace& f) { fs::create_directory(f.file("scripts")); },
            "source \"scripts\";", error("line 1: cannot read script 'scripts': it is a folder"), 1 },
        { "source_device", nothing, "source \"/dev/zero\";",
            error("line 1: cannot read script '/dev/zero': it is not a regular file"), 1 },
        { "statement_never_ends", nothing, endless,
            error("line 262144.1: a statement of more than 262144 parts"), 1 },
        { "operator_chain_of_3000", nothing, "print (" + chain + ");", "3000", 0 },
        // Deep recursion, which overflowed the native stack under the sanitizers,
        // and the costliest levels, a script that sources itself, without the
        // call bound: each ends at the nesting bound.
        { "recursion_with_nested_expressions", nothing,
            "proc int f(int $n) { if ($n == 0) return 0; return 1 + (1 + (1 + f($n - 1))); } f(1001);",
            error("line 1: the script nests deeper than 6000 levels"), 1 },
        { "source_of_itself_without_a_call_bound",
            [](const Workspace& f) { std::ofstream(f.file("self.mel")) << "source \"self.mel\";\n"; },
            "source \"self.mel\";", error("line 1: the script nests deeper than 6000 levels"), 1, "",
            { "--limit", "calls=0" } },
    };
}

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.statement;
}

class BadInput : public testing::TestWithParam<Row> { };

TEST_P(BadInput, ShowsOneClearOutcome)
{
    const Row& row = GetParam();
    Workspace folder;
    row.prepare(folder);
    const HostbatchRun run = folder.hostbatch(row.statement + "\n", row.options, row.asanOptions);
    const std::string transcript = row.transcriptOf ? row.transcriptOf(folder) : row.transcript;
    EXPECT_EQ(run.out, transcript) << row.statement;
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_EQ(run.err, "");
    EXPECT_LT(run.peakKilobytes, kMemoryBound);
    if (row.memoryAboveEmptyRun != 0) {
        // The empty run holds what the sanitizers take and what this process
        // held before the exec.
        const HostbatchRun empty = folder.hostbatch("print \"\";\n", row.options, row.asanOptions);
        EXPECT_LT(run.peakKilobytes - empty.peakKilobytes, row.memoryAboveEmptyRun);
    }
    if (row.perturbed) {
        const HostbatchRun again = folder.hostbatch(row.statement + "\n", row.options,
            row.asanOptions + ":malloc_fill_byte=165:max_malloc_fill_size=1073741824");
        EXPECT_EQ(again.out, transcript) << row.statement;
    }
}

std::string rowName(const testing::TestParamInfo<Row>& info)
{
    return std::string(info.param.name) + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Images, BadInput, testing::ValuesIn(imageRows()), rowName);

// The budget from the environment, as the option sets it; one out of range
// stops the run before any statement, as a bad option does.
TEST(PixelBudget, ComesFromTheEnvironment)
{
    Workspace folder;
    writeGradient(folder.file("images/g.png"), 200, 100, "png");
    const std::string statement = "queryFunction -f \"images/g.png\" -qX\n";
    struct Case {
        const char* value;
        std::string out;
        std::string err;
        int exitCode;
    };
    const Case cases[] = {
        { "20000", result("200"), "", 0 },
        { "19999", overBudget(200, 100, "19999") + error("images/g.png does not exist!"), "", 1 },
        { "1073741825", "",
            "hostbatch: PICTILE_PIXEL_BUDGET: the pixel budget must be a whole number of pixels from 1 to "
            "1073741824\n",
            2 },
    };
    for (const Case& c : cases) {
        setenv("PICTILE_PIXEL_BUDGET", c.value, 1);
        const HostbatchRun run = folder.hostbatch(statement);
        unsetenv("PICTILE_PIXEL_BUDGET");
        EXPECT_EQ(run.out, c.out) << c.value;
        EXPECT_EQ(run.err, c.err) << c.value;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.value;
    }
}

// The batch's fixed folders are relative: after chdir, resizeFunction reads
// the list and writes the outputs of the working folder it is in.
TEST(BatchFolders, FollowTheWorkingFolder)
{
    Workspace folder;
    fs::create_directories(folder.file(std::string("elsewhere/") + kOutputFolder));
    fs::create_directories(folder.file("elsewhere/images"));
    writeGradient(folder.file("elsewhere/images/a.png"), 20, 20, "png");
    const std::string list = "a.png\n";
    writeBytes(folder.file(std::string("elsewhere/") + kListFile), Bytes(list.begin(), list.end()));
    const HostbatchRun run
        = folder.hostbatch("chdir \"elsewhere\";\nresizeFunction -folder \"images/\" -size 8 -number 2;\n");
    EXPECT_EQ(run.out, result("0") + result("a.png"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(fs::exists(folder.file(std::string("elsewhere/") + kOutputFolder + "a.iff")));
    EXPECT_FALSE(fs::exists(folder.file(std::string(kOutputFolder) + "a.iff")));
}

// Ctrl-C at a running statement ends it with its error line, and hostbatch with
// the status of a failed statement. The loop makes a file once it runs; the
// minute is only there to end a hostbatch that never starts or never stops.
// Starts hostbatch on `script`, sends it one Ctrl-C once `running` holds (or
// it has exited), and gives what it printed; `ended` says whether that ended
// it within the minute, after which it is killed.
HostbatchRun interruptOnce(
    const Workspace& folder, const std::string& script, const std::function<bool()>& running, bool& ended)
{
    const pid_t child = folder.launch("interrupted", script, {}, "");
    ended = false;
    if (child <= 0)
        return HostbatchRun();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    const auto exited = [child] {
        siginfo_t info {};
        return waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child;
    };
    while (!running() && !exited() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(child, SIGINT);
    while (!exited() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ended = exited();
    if (!ended)
        kill(child, SIGKILL);
    return folder.collect("interrupted", child);
}

TEST(Interrupt, EndsTheRunningStatementWithAnError)
{
    Workspace folder;
    bool ended = false;
    const HostbatchRun run = interruptOnce(
        folder, "{ fclose(fopen(\"running\")); while (1) ; }\n",
        [&folder] { return fs::exists(folder.file("running")); }, ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(run.out, error("line 1: interrupted"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
}

// Waits up to a minute for `path` to exist or `child` to end.
void awaitFile(const std::string& path, pid_t child)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    siginfo_t info {};
    while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline
        && !(waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A job stopped (Ctrl-Z) while its decoding process reads, and continued
// (fg) seconds later: the time it was stopped is not counted against the read,
// so every read of the GIF (which its reader decodes whole as it opens the
// file, most of a read's time) still reads.
TEST(StoppedJob, GoesOnReadingWhenContinued)
{
    Workspace folder;
    writeGreyGif(folder.file("images/big.gif"), 3000, 3000);
    // The first read starts the decoding service; the job is stopped among the
    // reads after it.
    std::string script = "queryFunction -f \"images/big.gif\" -qX;\n{ fclose(fopen(\"running\")); }\n";
    std::string expected = result("3000");
    for (int i = 0; i < 30; ++i) {
        script += "queryFunction -f \"images/big.gif\" -qX;\n";
        expected += result("3000");
    }
    const pid_t child = folder.launch("stopped", script, {}, "");
    ASSERT_GT(child, 0);
    awaitFile(folder.file("running"), child);
    // The whole job, hostbatch and its decoding processes, three times, so that
    // a read is under way at one of them at least.
    for (const int pause : { 500, 700, 300 }) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        kill(-child, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        kill(-child, SIGCONT);
    }
    const HostbatchRun run = folder.collect("stopped", child);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

// A file its user may not write is not replaced by the batch, though the
// folder's permission would let a rename through. Permissions do not bind
// root, so as root the batch runs as the user nobody.
TEST(WriteProtectedOutput, IsLeftAsItWas)
{
    Workspace folder;
    writeGradient(folder.file("images/a.png"), 20, 20, "png");
    writeBytes(folder.file(kListFile), Bytes { 'a', '.', 'p', 'n', 'g' });
    const std::string earlier = folder.file(std::string(kOutputFolder) + "a.iff");
    const Bytes before = { 'e', 'a', 'r', 'l', 'i', 'e', 'r' };
    writeBytes(earlier, before);
    fs::permissions(earlier, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr)
            GTEST_SKIP() << "no user 'nobody' to run hostbatch as, and root is not bound by permissions";
        folder.runAs(nobody->pw_uid, nobody->pw_gid);
    }
    const HostbatchRun run = folder.hostbatch("resizeFunction -folder \"images/\" -size 8 -number 2\n");
    if (run.exitCode == 126 || run.exitCode == 127)
        GTEST_SKIP() << "hostbatch cannot run as the user nobody here (exit " << run.exitCode << ")";
    EXPECT_EQ(run.out, error("cant write to file!"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readBytes(earlier), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.file(kOutputFolder)), fs::directory_iterator()), 1);
}

// The readers of PNG, JPEG and TIFF, and with them their libraries, are opened
// on the first read of one of those formats: a run that reads only IFF never
// loads them. (Sanitizer builds load OpenImageIO's libraries, those among them,
// at start; the module is looked for.)
TEST(CommonFormatLibraries, LoadOnTheFirstReadThatNeedsThem)
{
    Workspace folder;
    writeGradient(folder.file("images/a.iff"), 20, 20, "iff");
    writeGradient(folder.file("images/a.png"), 30, 30, "png");
    const std::string loaded
        = "print (system(\"grep -q pictile_codecs /proc/$PPID/maps && echo yes || echo no\"));\n";
    const HostbatchRun run = folder.hostbatch("queryFunction -f \"images/a.iff\" -qX;\n" + loaded
        + "queryFunction -f \"images/a.png\" -qX;\n" + loaded);
    EXPECT_EQ(run.out, result("20") + "no\n" + result("30") + "yes\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
}

// A --plugin path that is a FIFO is refused at once, as a missing one is.
TEST(PluginPath, ThatIsAFifoIsRefusedAtOnce)
{
    Workspace folder;
    ASSERT_EQ(mkfifo(folder.file("pipe.so").c_str(), 0600), 0);
    const HostbatchRun run = folder.hostbatch("print 1;\n", { "--plugin", "./pipe.so" });
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
        "hostbatch: cannot load plug-in './pipe.so': Cannot load plug-in \"./pipe.so\": it is not a regular "
        "file\n");
    EXPECT_EQ(run.exitCode, 2);
}

// Ctrl-C while a statement waits for a shell command that would take long or
// never end: the statement ends as interrupted, and the command's whole
// process group is killed. The command writes its shell's process id, which
// is its group's, once it runs.
struct ShellWaitRow {
    const char* name;
    std::string statement;
};

class InterruptShellWait : public testing::TestWithParam<ShellWaitRow> { };

// The processes of process group `group` still alive: a killed one whose
// parent has not reaped it yet is a zombie, and counts no more.
std::vector<pid_t> livingMembers(pid_t group)
{
    std::vector<pid_t> living;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        std::ifstream statFile(entry.path() / "stat");
        std::string stat;
        if (!std::getline(statFile, stat))
            continue;
        // pid (comm) state ppid pgrp ...: comm may hold spaces, so read after its ')'.
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        char state = 0;
        pid_t parent = 0;
        pid_t processGroup = 0;
        if (fields >> state >> parent >> processGroup && processGroup == group && state != 'Z')
            living.push_back(std::stoi(entry.path().filename().string()));
    }
    return living;
}

TEST_P(InterruptShellWait, KillsTheCommandsProcessGroup)
{
    Workspace folder;
    pid_t group = 0;
    const auto running = [&folder, &group] {
        std::ifstream written(folder.file("group"));
        return static_cast<bool>(written >> group);
    };
    bool ended = false;
    const HostbatchRun run = interruptOnce(folder, GetParam().statement + "\n", running, ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(run.out, error("line 1: interrupted"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    ASSERT_GT(group, 0);
    EXPECT_EQ(livingMembers(group), std::vector<pid_t>());
}

INSTANTIATE_TEST_SUITE_P(Scripts, InterruptShellWait,
    testing::Values(ShellWaitRow { "system_sleep", "system \"echo $$ > group; sleep 30\";" },
        ShellWaitRow { "popen_that_never_ends",
            "{ int $p = popen(\"echo $$ > group; while :; do sleep 1; done\", \"r\"); fgetline($p); }" },
        ShellWaitRow { "pclose_of_one_that_never_reads",
            "{ int $p = popen(\"echo $$ > group; sleep 30 < /dev/null\", \"w\"); pclose $p; }" }),
    [](const testing::TestParamInfo<ShellWaitRow>& info) { return std::string(info.param.name); });

// A file changed by another thread while one hostbatch reads it again and again.
struct ChangingRow {
    const char* name;
    Prepare prepare;
    std::function<void(const Workspace&, const std::atomic<bool>& stop)> change;
    std::string statement;
    std::set<std::string> outcomes;  ///< what each read may show
};

// A good PNG and an IFF whose header flags abort the IFF decoder, swapped in
// turn into images/swap.png.
void swapGoodAndDamaged(const Workspace& folder, const std::atomic<bool>& stop)
{
    writeGradient(folder.file("good.png"), 20, 20, "png");
    Bytes damaged = iffFile(2, 2, false, { { 0, 0, 1, 1, Bytes(16, 77) } });
    damaged[8 + 4 + 8 + 12 + 3] |= 0x10;  // the low byte of the header's flags
    writeBytes(folder.file("damaged.iff"), damaged);
    const Bytes good = readBytes(folder.file("good.png"));
    for (unsigned int turn = 0; !stop && turn < 100000; ++turn) {
        writeBytes(folder.file("next"), turn % 2 ? damaged : good);
        fs::rename(folder.file("next"), folder.file("images/swap.png"));
        // Rewriting in place lets a reader see half of one and half of the other.
        writeBytes(folder.file("images/swap.png"), turn % 2 ? good : damaged);
    }
}

// Appends to images/grow.png, a good PNG, until stopped or 16 MiB longer.
void grow(const Workspace& folder, const std::atomic<bool>& stop)
{
    std::ofstream file(folder.file("images/grow.png"), std::ios::binary | std::ios::app);
    const std::string block(1 << 16, '\0');
    for (int count = 0; !stop && count < 256; ++count)
        file.write(block.data(), static_cast<std::streamsize>(block.size())).flush();
}

// Cuts images/cut.tga, a true-colour Targa, to its header and writes it whole
// again, in place, until stopped: a decoding child that maps the whole file and
// reads past the cut dies of SIGBUS.
void cutAndRestore(const Workspace& folder, const std::atomic<bool>& stop)
{
    const std::string path = folder.file("images/cut.tga");
    const Bytes whole = readBytes(path);
    for (unsigned int turn = 0; !stop && turn < 100000; ++turn) {
        ::truncate(path.c_str(), 18);
        std::ofstream(path, std::ios::binary | std::ios::in)
            .write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
    }
}

std::vector<ChangingRow> changingRows()
{
    const std::string swapped = "queryFunction -f \"images/swap.png\" -qX;\n";
    const std::string growing = "queryFunction -f \"images/grow.png\" -qX;\n";
    const std::string cut = "queryFunction -f \"images/cut.tga\" -qX;\n";
    std::string swapScript;
    std::string growScript;
    std::string cutScript;
    for (int i = 0; i < 200; ++i) {
        swapScript += swapped;
        growScript += growing;
    }
    // Each of these reads forks a decoding child, which takes a sanitizer build
    // tens of milliseconds.
    for (int i = 0; i < 30; ++i)
        cutScript += cut;
    return {
        { "file_swapped_while_read", gradient("swap.png", 20, 20, "png"), swapGoodAndDamaged, swapScript,
            { result("20"), error("images/swap.png does not exist!") } },
        { "file_growing_while_read", gradient("grow.png", 20, 20, "png"), grow, growScript,
            { result("20") } },
        { "file_cut_while_read", gradient("cut.tga", 200, 200, "tga"), cutAndRestore, cutScript,
            { result("200"), error("images/cut.tga does not exist!") } },
    };
}

void PrintTo(const ChangingRow& row, std::ostream* out)
{
    *out << row.name;
}

class ChangingInput : public testing::TestWithParam<ChangingRow> { };

TEST_P(ChangingInput, EachReadEndsCleanly)
{
    const ChangingRow& row = GetParam();
    Workspace folder;
    row.prepare(folder);
    std::atomic<bool> stop { false };
    std::thread changer([&] { row.change(folder, stop); });
    const HostbatchRun run = folder.hostbatch(row.statement, { "--keep-going" });
    stop = true;
    changer.join();
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode;
    std::istringstream lines(run.out);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_EQ(row.outcomes.count(line + "\n"), 1u) << line;
    EXPECT_EQ(count, static_cast<std::size_t>(std::count(row.statement.begin(), row.statement.end(), '\n')));
}

INSTANTIATE_TEST_SUITE_P(Images, ChangingInput, testing::ValuesIn(changingRows()),
    [](const testing::TestParamInfo<ChangingRow>& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Readers, BadInput, testing::ValuesIn(readerRows()), rowName);
INSTANTIATE_TEST_SUITE_P(Steps, BadInput, testing::ValuesIn(stepRows()), rowName);
INSTANTIATE_TEST_SUITE_P(Resize, BadInput, testing::ValuesIn(resizeRows()), rowName);
INSTANTIATE_TEST_SUITE_P(Scripts, BadInput, testing::ValuesIn(scriptRows()), rowName);
INSTANTIATE_TEST_SUITE_P(IsolatedReaders, BadInput, testing::ValuesIn(isolatedReaderRows()), rowName);
INSTANTIATE_TEST_SUITE_P(Bounds, BadInput, testing::ValuesIn(boundRows()), rowName);

}  // namespace
}  // namespace robustness
