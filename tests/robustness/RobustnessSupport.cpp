#include "RobustnessSupport.h"

#include <maya/MImage.h>
#include <maya/MString.h>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include <fcntl.h>
#include <grp.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace robustness {

namespace {

std::string readText(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void appendBigEndian(Bytes& bytes, std::uint32_t value, int count)
{
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

void appendText(Bytes& bytes, const char* text)
{
    bytes.insert(bytes.end(), text, text + 4);
}

void appendPngChunk(Bytes& png, const char* type, const Bytes& data)
{
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()), 4);
    Bytes typeAndData;
    appendText(typeAndData, type);
    typeAndData.insert(typeAndData.end(), data.begin(), data.end());
    png.insert(png.end(), typeAndData.begin(), typeAndData.end());
    appendBigEndian(png, static_cast<std::uint32_t>(crc32(0, typeAndData.data(), typeAndData.size())), 4);
}

// An IFF chunk: tag, size, data, padded to four bytes.
void appendIffChunk(Bytes& iff, const char* tag, const Bytes& data)
{
    appendText(iff, tag);
    appendBigEndian(iff, static_cast<std::uint32_t>(data.size()), 4);
    iff.insert(iff.end(), data.begin(), data.end());
    while (iff.size() % 4 != 0)
        iff.push_back(0);
}

}  // namespace

Workspace::Workspace()
{
    static std::atomic<int> made { 0 };
    path_ = fs::temp_directory_path()
        / ("pictile-robust-" + std::to_string(getpid()) + "-" + std::to_string(made++));
    fs::remove_all(path_);
    fs::create_directories(path_ / "images");
    fs::create_directories(path_ / kOutputFolder);
}

Workspace::~Workspace()
{
    // Kept for measuring a case by hand (/usr/bin/time -v hostbatch ... in it).
    if (std::getenv("PICTILE_KEEP_WORKSPACES") != nullptr) {
        std::fprintf(stderr, "kept %s\n", path_.c_str());
        return;
    }
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void Workspace::runAs(uid_t uid, gid_t gid)
{
    uid_ = uid;
    gid_ = gid;
    asUser_ = true;
    ::chown(path_.c_str(), uid, gid);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path_))
        ::lchown(entry.path().c_str(), uid, gid);
}

pid_t Workspace::launch(const std::string& name, const std::string& script,
    const std::vector<std::string>& options, const std::string& asanOptions) const
{
    std::ofstream(path_ / (name + ".mel"), std::ios::binary) << script;
    std::vector<std::string> words = { HOSTBATCH_BINARY, "--plugin", PICTILE_PLUGIN };
    words.insert(words.end(), options.begin(), options.end());
    words.push_back(name + ".mel");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const char* inherited = std::getenv("ASAN_OPTIONS");
    std::string asan
        = std::string("ASAN_OPTIONS=") + (inherited != nullptr ? inherited : "") + ":" + asanOptions;
    std::vector<char*> environment = { asan.data() };
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string_view(*variable).rfind("ASAN_OPTIONS=", 0) != 0)
            environment.push_back(*variable);
    }
    environment.push_back(nullptr);

    const std::string out = (path_ / (name + ".out")).string();
    const std::string err = (path_ / (name + ".err")).string();
    // The child's peak memory counts what it held before its exec: give back
    // what earlier cases' large files left in this process's heap first.
    malloc_trim(0);
    const pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int input = open("/dev/null", O_RDONLY);
        const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errors = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (input < 0 || output < 0 || errors < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0
            || dup2(errors, 2) < 0 || chdir(path_.c_str()) != 0 || setpgid(0, 0) != 0)
            _exit(127);
        if (asUser_ && (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0))
            _exit(126);
        execve(argv[0], argv.data(), environment.data());
        _exit(127);
    }
    return child;
}

HostbatchRun Workspace::collect(const std::string& name, pid_t child) const
{
    HostbatchRun run;
    int status = 0;
    rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readText(path_ / (name + ".out"));
    run.err = readText(path_ / (name + ".err"));
    run.peakKilobytes = usage.ru_maxrss;
    return run;
}

HostbatchRun Workspace::hostbatch(
    const std::string& script, const std::vector<std::string>& options, const std::string& asanOptions) const
{
    return collect("script", launch("script", script, options, asanOptions));
}

std::vector<HostbatchRun> Workspace::hostbatchTogether(const std::vector<std::string>& scripts) const
{
    std::vector<pid_t> children;
    for (std::size_t i = 0; i < scripts.size(); ++i)
        children.push_back(launch("together" + std::to_string(i), scripts[i], {}, ""));
    std::vector<HostbatchRun> runs;
    for (std::size_t i = 0; i < scripts.size(); ++i)
        runs.push_back(collect("together" + std::to_string(i), children[i]));
    return runs;
}

Bytes readBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

void writeGradient(const std::string& path, unsigned int width, unsigned int height, const char* format)
{
    MImage image;
    ASSERT_TRUE(image.create(width, height));
    unsigned char* pixel = image.pixels();
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x, pixel += 4) {
            pixel[0] = static_cast<unsigned char>(x * 10 + y);
            pixel[1] = static_cast<unsigned char>(2 * x);
            pixel[2] = static_cast<unsigned char>(3 * y);
            pixel[3] = 255;
        }
    }
    ASSERT_TRUE(image.writeToFile(MString(path), MString(format))) << path;
}

Bytes pngFile(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType, int interlace,
    const std::vector<Bytes>& rows, const Bytes& palette)
{
    Bytes png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    Bytes header;
    appendBigEndian(header, width, 4);
    appendBigEndian(header, height, 4);
    header.insert(header.end(),
        { static_cast<unsigned char>(bitDepth), static_cast<unsigned char>(colourType), 0, 0,
            static_cast<unsigned char>(interlace) });
    appendPngChunk(png, "IHDR", header);
    if (!palette.empty())
        appendPngChunk(png, "PLTE", palette);
    Bytes raw;
    for (const Bytes& row : rows) {
        raw.push_back(0);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    compress(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    appendPngChunk(png, "IDAT", packed);
    appendPngChunk(png, "IEND", {});
    return png;
}

void writePngWithLibpng(const std::string& path, std::uint32_t width, std::uint32_t height, int bitDepth,
    int colourType, bool interlaced, const std::vector<Bytes>& rows, const Bytes& palette)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, bitDepth, colourType,
        interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colours;
    for (std::size_t i = 0; i + 2 < palette.size(); i += 3)
        colours.push_back(png_color { palette[i], palette[i + 1], palette[i + 2] });
    if (!colours.empty())
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    std::vector<png_bytep> rowPointers;
    for (const Bytes& row : rows)
        rowPointers.push_back(const_cast<png_bytep>(row.data()));
    png_set_rows(png, info, rowPointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

void writeCmykJpeg(const std::string& path, int width, int height, const unsigned char cmyk[4])
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    jpeg_compress_struct compressor {};
    jpeg_error_mgr errors {};
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    jpeg_stdio_dest(&compressor, file);
    compressor.image_width = static_cast<JDIMENSION>(width);
    compressor.image_height = static_cast<JDIMENSION>(height);
    compressor.input_components = 4;
    compressor.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 100, TRUE);
    compressor.write_Adobe_marker = TRUE;
    jpeg_start_compress(&compressor, TRUE);
    Bytes row;
    for (int x = 0; x < width; ++x)
        row.insert(row.end(), cmyk, cmyk + 4);
    while (compressor.next_scanline < compressor.image_height) {
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&compressor, &rowPointer, 1);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    std::fclose(file);
}

Bytes deepTiffHeader(std::uint32_t width, std::uint32_t height)
{
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    constexpr std::uint16_t kShort = 3;
    constexpr std::uint16_t kLong = 4;
    constexpr std::uint32_t kStrips = 4;
    const std::uint32_t stripRows = (height + kStrips - 1) / kStrips;
    const std::vector<Entry> entries = {
        { 256, kLong, 1, width }, { 257, kLong, 1, height },
        { 258, kShort, 2, 32 | 32u << 16 },  // bits per sample
        { 259, kShort, 1, 1 },  // no compression
        { 262, kShort, 1, 1 },  // grey, black is zero
        { 273, kLong, kStrips, 0 },  // strip offsets, placed below
        { 277, kShort, 1, 2 },  // samples per pixel
        { 278, kLong, 1, stripRows }, { 279, kLong, kStrips, 0 },  // strip byte counts, placed below
        { 284, kShort, 1, 1 },  // samples interleaved
        { 338, kShort, 1, 2 },  // the extra sample is unassociated alpha
        { 339, kShort, 2, 3 | 3u << 16 },  // floating point samples
    };
    const std::uint32_t offsetsAt = 8 + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
    const std::uint32_t countsAt = offsetsAt + 4 * kStrips;
    const std::uint32_t dataAt = countsAt + 4 * kStrips;
    const auto appendLittle = [](Bytes& bytes, std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    Bytes tiff = { 'I', 'I', 42, 0 };
    appendLittle(tiff, 8, 4);
    appendLittle(tiff, static_cast<std::uint32_t>(entries.size()), 2);
    for (const Entry& entry : entries) {
        appendLittle(tiff, entry.tag, 2);
        appendLittle(tiff, entry.type, 2);
        appendLittle(tiff, entry.count, 4);
        appendLittle(tiff, entry.tag == 273 ? offsetsAt : entry.tag == 279 ? countsAt : entry.value, 4);
    }
    appendLittle(tiff, 0, 4);
    for (std::uint32_t strip = 0; strip < kStrips; ++strip)
        appendLittle(tiff, dataAt, 4);
    for (std::uint32_t strip = 0; strip < kStrips; ++strip)
        appendLittle(tiff, stripRows * width * 8, 4);
    tiff.insert(tiff.end(), 64, 0);
    return tiff;
}

Bytes greyJpeg(
    std::uint16_t width, std::uint16_t height, bool progressive, int scans, std::size_t scanBytes, bool cut)
{
    Bytes jpeg = { 0xFF, 0xD8 };
    const auto segment = [&jpeg](unsigned char marker, const Bytes& body) {
        jpeg.insert(jpeg.end(), { 0xFF, marker });
        appendBigEndian(jpeg, static_cast<std::uint32_t>(body.size() + 2), 2);
        jpeg.insert(jpeg.end(), body.begin(), body.end());
    };
    Bytes quantisation(65, 1);
    quantisation[0] = 0;
    segment(0xDB, quantisation);
    Bytes frame = { 8 };
    appendBigEndian(frame, height, 2);
    appendBigEndian(frame, width, 2);
    frame.insert(frame.end(), { 1, 1, 0x11, 0 });
    segment(progressive ? 0xC2 : 0xC0, frame);
    // One code of one bit: difference 0 for DC, end of block for AC.
    Bytes table(17, 0);
    table[1] = 1;
    table.push_back(0);
    segment(0xC4, table);
    table[0] = 0x10;
    segment(0xC4, table);
    for (int scan = 0; scan < scans; ++scan) {
        segment(0xDA, { 1, 1, 0, 0, static_cast<unsigned char>(progressive ? 0 : 63), 0 });
        jpeg.insert(jpeg.end(), scanBytes, 0);
    }
    if (!cut)
        jpeg.insert(jpeg.end(), { 0xFF, 0xD9 });
    return jpeg;
}

Bytes greyBlocksJpeg()
{
    jpeg_compress_struct compressor {};
    jpeg_error_mgr errors {};
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&compressor, &buffer, &size);
    compressor.image_width = 16;
    compressor.image_height = 16;
    compressor.input_components = 3;
    compressor.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, 100, TRUE);
    for (int c = 0; c < 3; ++c)
        compressor.comp_info[c].h_samp_factor = compressor.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < 16) {
        Bytes row;
        for (unsigned int x = 0; x < 16; ++x) {
            const unsigned char grey
                = static_cast<unsigned char>(50 + 50 * (x / 8) + 100 * (compressor.next_scanline / 8));
            row.insert(row.end(), { grey, grey, grey });
        }
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&compressor, &rowPointer, 1);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    Bytes jpeg(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

Bytes oldStyleJpegTiff(const Bytes& jpeg)
{
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const auto size = static_cast<std::uint32_t>(jpeg.size());
    const std::vector<Entry> entries = {
        { 256, 3, 1, 16 }, { 257, 3, 1, 16 }, { 258, 3, 3, 0 },  // bits per sample, placed below
        { 259, 3, 1, 6 },  // old-style JPEG
        { 262, 3, 1, 6 },  // YCbCr
        { 273, 4, 1, 0 },  // the strip: the JPEG, placed below
        { 277, 3, 1, 3 }, { 278, 3, 1, 16 }, { 279, 4, 1, size }, { 513, 4, 1, 0 },  // the JPEG, placed below
        { 514, 4, 1, size }, { 530, 3, 2, 1 | 1u << 16 },  // no subsampling
        { 40000, 99, 1, 0 },  // the junk: a type no TIFF has
    };
    const std::uint32_t bitsAt = 8 + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
    const std::uint32_t jpegAt = bitsAt + 6;
    Bytes tiff = { 'I', 'I', 42, 0 };
    const auto appendLittle = [&tiff](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            tiff.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    appendLittle(8, 4);
    appendLittle(static_cast<std::uint32_t>(entries.size()), 2);
    for (const Entry& entry : entries) {
        appendLittle(entry.tag, 2);
        appendLittle(entry.type, 2);
        appendLittle(entry.count, 4);
        appendLittle(entry.tag == 258                  ? bitsAt
                : entry.tag == 273 || entry.tag == 513 ? jpegAt
                                                       : entry.value,
            4);
    }
    appendLittle(0, 4);
    for (int sample = 0; sample < 3; ++sample)
        appendLittle(8, 2);
    tiff.insert(tiff.end(), jpeg.begin(), jpeg.end());
    return tiff;
}

void writeTiff(const std::string& path, const TiffLayout& layout)
{
    TIFF* tiff = TIFFOpen(path.c_str(), layout.big ? "w8" : "w");
    ASSERT_NE(tiff, nullptr) << path;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, layout.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, layout.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, layout.height);
    if (layout.alpha) {
        const std::uint16_t extra[] = { EXTRASAMPLE_UNASSALPHA };
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (!layout.colourMap.empty()) {
        std::vector<std::uint16_t> map = layout.colourMap;
        const std::size_t entries = map.size() / 3;
        TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data() + entries, map.data() + 2 * entries);
    }
    for (std::uint32_t y = 0; y < layout.height; ++y) {
        Bytes row = layout.rows.at(y);
        ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), y, 0), 1);
    }
    TIFFClose(tiff);
}

Bytes bmpFile(const BmpLayout& layout)
{
    const auto put = [](Bytes& bytes, std::size_t at, std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bytes.at(at + std::size_t(i)) = static_cast<unsigned char>(value >> (8 * i));
    };
    Bytes info(layout.infoBytes, 0);
    put(info, 0, layout.infoBytes, 4);
    if (layout.infoBytes == 12) {
        put(info, 4, static_cast<std::uint32_t>(layout.width), 2);
        put(info, 6, static_cast<std::uint32_t>(layout.height), 2);
        put(info, 8, 1, 2);
        put(info, 10, layout.depth, 2);
    } else {
        put(info, 4, static_cast<std::uint32_t>(layout.width), 4);
        put(info, 8, static_cast<std::uint32_t>(layout.height), 4);
        put(info, 12, 1, 2);
        put(info, 14, layout.depth, 2);
        put(info, 16, layout.compression, 4);
        put(info, 32, layout.coloursUsed, 4);
    }
    Bytes masks;
    for (std::size_t i = 0; i < layout.masks.size(); ++i) {
        if (layout.infoBytes >= 52)
            put(info, 40 + 4 * i, layout.masks[i], 4);
        else
            for (int b = 0; b < 4; ++b)
                masks.push_back(static_cast<unsigned char>(layout.masks[i] >> (8 * b)));
    }
    Bytes pixels;
    for (const Bytes& row : layout.rows) {
        pixels.insert(pixels.end(), row.begin(), row.end());
        pixels.resize((pixels.size() + 3) / 4 * 4, 0);
    }
    const std::uint32_t pixelsAt
        = static_cast<std::uint32_t>(14 + info.size() + masks.size() + layout.palette.size());
    if (!layout.profile.empty()) {
        put(info, 56, 0x4D424544, 4);  // "MBED": the profile is in the file
        put(info, 112, static_cast<std::uint32_t>(pixelsAt - 14 + pixels.size()), 4);
        put(info, 116, static_cast<std::uint32_t>(layout.profile.size()), 4);
    }
    Bytes bmp(14, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    put(bmp, 2, static_cast<std::uint32_t>(pixelsAt + pixels.size() + layout.profile.size()), 4);
    put(bmp, 10, pixelsAt, 4);
    for (const Bytes* part :
        std::initializer_list<const Bytes*> { &info, &masks, &layout.palette, &pixels, &layout.profile })
        bmp.insert(bmp.end(), part->begin(), part->end());
    return bmp;
}

Bytes iffFile(std::uint32_t width, std::uint32_t height, bool compressed, const std::vector<IffTile>& tiles)
{
    Bytes header;
    appendBigEndian(header, width, 4);
    appendBigEndian(header, height, 4);
    appendBigEndian(header, 1, 2);  // pixel aspect 1:1
    appendBigEndian(header, 1, 2);
    appendBigEndian(header, 3, 4);  // red, green, blue and alpha
    appendBigEndian(header, 0, 2);  // one byte a sample
    const auto colourTiles = std::count_if(
        tiles.begin(), tiles.end(), [](const IffTile& tile) { return tile.tag == std::string("RGBA"); });
    appendBigEndian(header, static_cast<std::uint32_t>(colourTiles), 2);
    appendBigEndian(header, compressed ? 1 : 0, 4);
    appendBigEndian(header, 0, 4);
    appendBigEndian(header, 0, 4);

    Bytes tileForm;
    appendText(tileForm, "TBMP");
    for (const IffTile& tile : tiles) {
        Bytes chunk;
        appendBigEndian(chunk, tile.left, 2);
        appendBigEndian(chunk, tile.top, 2);
        appendBigEndian(chunk, tile.right, 2);
        appendBigEndian(chunk, tile.bottom, 2);
        chunk.insert(chunk.end(), tile.payload.begin(), tile.payload.end());
        appendIffChunk(tileForm, tile.tag, chunk);
    }
    Bytes body;
    appendText(body, "CIMG");
    appendIffChunk(body, "TBHD", header);
    appendIffChunk(body, "FOR4", tileForm);
    Bytes iff;
    appendIffChunk(iff, "FOR4", body);
    return iff;
}

}  // namespace robustness
