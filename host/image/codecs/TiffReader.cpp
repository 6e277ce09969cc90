#include "FormatReaders.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace host {

namespace {

// The most one decoded tile, strip or row may take, and the most libtiff may
// allocate at once (a tag's data, a strip's coded bytes, the strips' offsets):
// a header may claim any size.
constexpr tmsize_t kMaxTileBytes = tmsize_t(1) << 28;

// How often, in rows read one at a time, the read looks at its time.
constexpr std::uint32_t kRowsPerTimeCheck = 4096;

struct TiffStream {
    const ImageSource* source;
    std::uint64_t offset = 0;
    bool failed = false;
};

TiffStream& streamOf(thandle_t handle)
{
    return *static_cast<TiffStream*>(handle);
}

tmsize_t readStream(thandle_t handle, void* buffer, tmsize_t count)
{
    TiffStream& stream = streamOf(handle);
    const std::size_t got = stream.source->readAt(stream.offset, buffer, std::size_t(count));
    stream.offset += got;
    return tmsize_t(got);
}

tmsize_t writeStream(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t seekStream(thandle_t handle, toff_t offset, int whence)
{
    TiffStream& stream = streamOf(handle);
    const std::uint64_t base = whence == SEEK_CUR ? stream.offset
        : whence == SEEK_END                      ? stream.source->size()
                                                  : 0;
    stream.offset = base + offset;
    return stream.offset;
}

int closeStream(thandle_t)
{
    return 0;
}

toff_t streamSize(thandle_t handle)
{
    return streamOf(handle).source->size();
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t)
{
}

int onError(TIFF*, void* stream, const char*, const char*, va_list)
{
    static_cast<TiffStream*>(stream)->failed = true;
    return 1;  // handled: nothing reaches libtiff's printing handler
}

int onWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct CloseTiff {
    void operator()(TIFF* tiff) const noexcept { TIFFClose(tiff); }
};

struct FreeOptions {
    void operator()(TIFFOpenOptions* options) const noexcept { TIFFOpenOptionsFree(options); }
};

// What the first directory stores and how its samples become RGBA.
struct Layout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 1;
    std::uint16_t bits = 1;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t fillOrder = FILLORDER_MSB2LSB;
    const std::uint16_t* colourMap[3] = {};
    bool tiled = false;
    int kept = 1;  // samples a pixel keeps, in the first slots of its RGBA bytes
};

// Scales one stored sample to 8 bits: 16-bit and float samples rounded to the
// nearest byte, samples under 8 bits spread over 0..255. Palette indices (the
// first slot of a palette pixel) stay; its alpha is scaled like any sample.
class SampleReader {
public:
    explicit SampleReader(const Layout& layout)
        : bits_(layout.bits)
        , real_(layout.format == SAMPLEFORMAT_IEEEFP)
        , index_(layout.photometric == PHOTOMETRIC_PALETTE)
    {
    }

    unsigned char operator()(const unsigned char* row, std::size_t i, int slot) const
    {
        if (real_) {
            float value;
            std::memcpy(&value, row + i * 4, sizeof value);
            if (!(value > 0.0f))
                return 0;  // NaN too, which no comparison clamps
            return static_cast<unsigned char>(std::min(value, 1.0f) * 255.0f + 0.5f);
        }
        switch (bits_) {
        case 8:
            return row[i];
        case 16: {
            std::uint16_t value;
            std::memcpy(&value, row + i * 2, sizeof value);
            return static_cast<unsigned char>((std::uint32_t(value) * 255 + 32767) / 65535);
        }
        default: {
            const std::size_t bit = i * bits_;
            const unsigned maximum = (1u << bits_) - 1;
            const unsigned value = (row[bit / 8] >> (8 - bits_ - bit % 8)) & maximum;
            return static_cast<unsigned char>(index_ && slot == 0 ? value : value * 255 / maximum);
        }
        }
    }

private:
    int bits_;
    bool real_;
    bool index_;
};

// Which layouts this reader decodes; the rest go to OpenImageIO as before.
bool readsLayout(const Layout& layout)
{
    const bool integer = layout.format == SAMPLEFORMAT_UINT
        && (layout.bits == 1 || layout.bits == 2 || layout.bits == 4 || layout.bits == 8
            || layout.bits == 16);
    const bool real = layout.format == SAMPLEFORMAT_IEEEFP && layout.bits == 32;
    if (!integer && !real)
        return false;
    switch (layout.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return true;
    case PHOTOMETRIC_RGB:
        return layout.samples >= 3;
    case PHOTOMETRIC_PALETTE:
        return integer && layout.bits <= 8 && layout.samples <= 2 && layout.colourMap[0];
    case PHOTOMETRIC_SEPARATED:
        return layout.samples == 4;
    case PHOTOMETRIC_CIELAB:
        // 8-bit L*, a* and b*, as libtiff's conversion helpers take them.
        return layout.format == SAMPLEFORMAT_UINT && layout.bits == 8 && layout.samples >= 3;
    case PHOTOMETRIC_YCBCR:
        // libtiff converts JPEG-compressed YCbCr to RGB itself.
        return layout.compression == COMPRESSION_JPEG && layout.samples == 3 && layout.bits == 8;
    default:
        return false;
    }
}

// Copies `count` pixels of one decoded row (`stride` samples a pixel, of which
// the `channels` from `first` on are kept) into their RGBA slots.
void storeRow(const SampleReader& sample, const unsigned char* row, std::size_t count, int stride, int first,
    int channels, unsigned char* out)
{
    for (std::size_t x = 0; x < count; ++x)
        for (int c = 0; c < channels; ++c)
            out[x * 4 + first + c] = sample(row, x * stride + c, first + c);
}

// Whether every strip can be decoded whole, a call each: its rows and its coded
// bytes within kMaxTileBytes. Else the rows are read one at a time, libtiff then
// reading the coded bytes in pieces.
bool stripsFitWhole(TIFF* tiff, tmsize_t stripBytes)
{
    if (stripBytes <= 0 || stripBytes > kMaxTileBytes)
        return false;
    const std::uint32_t strips = TIFFNumberOfStrips(tiff);
    for (std::uint32_t strip = 0; strip < strips; ++strip) {
        if (TIFFGetStrileByteCount(tiff, strip) > std::uint64_t(kMaxTileBytes))
            return false;
    }
    return true;
}

bool readStrips(TIFF* tiff, const Layout& layout, unsigned char* bytes)
{
    const tmsize_t scanlineBytes = TIFFScanlineSize(tiff);
    if (scanlineBytes <= 0 || scanlineBytes > kMaxTileBytes)
        return false;
    std::uint32_t rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, layout.height);
    const bool whole = stripsFitWhole(tiff, TIFFStripSize(tiff));
    const SampleReader sample(layout);
    // A strip at a time, or one row.
    const std::uint32_t rowsPerRead = whole ? rowsPerStrip : 1;
    std::vector<unsigned char> rows(static_cast<std::size_t>(scanlineBytes) * rowsPerRead);
    const std::size_t rowBytes = std::size_t(layout.width) * 4;
    const int planes = layout.planar == PLANARCONFIG_SEPARATE ? layout.kept : 1;
    for (int plane = 0; plane < planes; ++plane) {
        const int stride = planes == 1 ? layout.samples : 1;
        const int channels = planes == 1 ? layout.kept : 1;
        for (std::uint32_t y = 0; y < layout.height; y += rowsPerRead) {
            const std::uint32_t count = std::min(rowsPerRead, layout.height - y);
            if (whole) {
                const tmsize_t wanted = scanlineBytes * tmsize_t(count);
                if (TIFFReadEncodedStrip(
                        tiff, TIFFComputeStrip(tiff, y, std::uint16_t(plane)), rows.data(), wanted)
                    != wanted)
                    return false;
            } else if (TIFFReadScanline(tiff, rows.data(), y, std::uint16_t(plane)) < 0) {
                return false;
            }
            for (std::uint32_t i = 0; i < count; ++i)
                storeRow(sample, rows.data() + std::size_t(i) * std::size_t(scanlineBytes), layout.width,
                    stride, plane, channels, bytes + std::size_t(y + i) * rowBytes);
            if ((whole || y % kRowsPerTimeCheck == 0) && ReadTime::passed())
                return false;
        }
    }
    return true;
}

bool readTiles(TIFF* tiff, const Layout& layout, unsigned char* bytes)
{
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    const tmsize_t tileBytes = TIFFTileSize(tiff);
    const tmsize_t tileRowBytes = TIFFTileRowSize(tiff);
    if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0 || tileBytes > kMaxTileBytes)
        return false;
    const SampleReader sample(layout);
    std::vector<unsigned char> tile(static_cast<std::size_t>(tileBytes));
    const std::size_t rowBytes = std::size_t(layout.width) * 4;
    const int planes = layout.planar == PLANARCONFIG_SEPARATE ? layout.kept : 1;
    for (int plane = 0; plane < planes; ++plane) {
        const int stride = planes == 1 ? layout.samples : 1;
        const int channels = planes == 1 ? layout.kept : 1;
        for (std::uint32_t top = 0; top < layout.height; top += tileHeight) {
            for (std::uint32_t left = 0; left < layout.width; left += tileWidth) {
                if (TIFFReadTile(tiff, tile.data(), left, top, 0, std::uint16_t(plane)) < 0)
                    return false;
                const std::uint32_t rows = std::min(tileHeight, layout.height - top);
                const std::uint32_t columns = std::min(tileWidth, layout.width - left);
                for (std::uint32_t y = 0; y < rows; ++y)
                    storeRow(sample, tile.data() + y * std::size_t(tileRowBytes), columns, stride, plane,
                        channels, bytes + (top + y) * rowBytes + std::size_t(left) * 4);
            }
            if (ReadTime::passed())
                return false;
        }
    }
    return true;
}

// Uncompressed 8-bit RGBA strips are the pixels as the image holds them: read
// them with the file's own descriptor straight into place, runs of adjacent
// strips in one read.
bool readRgbaStrips(TIFF* tiff, const ImageSource& source, const Layout& layout, unsigned char* bytes)
{
    std::uint32_t rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, layout.height);
    const std::uint64_t rowBytes = std::uint64_t(layout.width) * 4;
    const std::uint32_t strips = TIFFNumberOfStrips(tiff);
    std::uint64_t done = 0;
    const std::uint64_t total = rowBytes * layout.height;
    for (std::uint32_t strip = 0; strip < strips && done < total;) {
        const std::uint64_t start = TIFFGetStrileOffset(tiff, strip);
        std::uint64_t run = 0;
        // Join the strips that follow this one in the file.
        do {
            const std::uint64_t want = std::min<std::uint64_t>(rowBytes * rowsPerStrip, total - done - run);
            if (TIFFGetStrileByteCount(tiff, strip) < want)
                return false;
            run += want;
            ++strip;
        } while (strip < strips && done + run < total && TIFFGetStrileOffset(tiff, strip) == start + run);
        if (source.readAt(start, bytes + done, std::size_t(run)) != run)
            return false;
        done += run;
    }
    return done == total;
}

// CIE L*a*b* relative to D50, as TIFF stores it, to sRGB: libtiff's helper to
// XYZ, Bradford's adaptation to sRGB's white (D65), sRGB's matrix and curve.
// Without the adaptation white would come out yellow.
class LabToSrgb {
public:
    LabToSrgb()
    {
        // The display is unused: only the XYZ half of the helpers is.
        TIFFDisplay display {};
        display.d_mat[0][0] = display.d_mat[1][1] = display.d_mat[2][2] = 1.0f;
        display.d_YCR = display.d_YCG = display.d_YCB = 100.0f;
        display.d_Vrwr = display.d_Vrwg = display.d_Vrwb = 255;
        display.d_gammaR = display.d_gammaG = display.d_gammaB = 1.0f;
        float white[3] = { 96.422f, 100.0f, 82.521f };  // D50
        TIFFCIELabToRGBInit(&lab_, &display, white);
    }

    void operator()(unsigned char* pixel)
    {
        float xyz[3];
        TIFFCIELabToXYZ(&lab_, pixel[0], static_cast<signed char>(pixel[1]),
            static_cast<signed char>(pixel[2]), &xyz[0], &xyz[1], &xyz[2]);
        static constexpr float kD50ToD65[3][3] = {
            { 0.9555766f, -0.0230393f, 0.0631636f },
            { -0.0282895f, 1.0099416f, 0.0210077f },
            { 0.0122982f, -0.0204830f, 1.3299098f },
        };
        static constexpr float kXyzToLinearSrgb[3][3] = {
            { 3.2404542f, -1.5371385f, -0.4985314f },
            { -0.9692660f, 1.8760108f, 0.0415560f },
            { 0.0556434f, -0.2040259f, 1.0572252f },
        };
        float adapted[3];
        for (int row = 0; row < 3; ++row)
            adapted[row]
                = (kD50ToD65[row][0] * xyz[0] + kD50ToD65[row][1] * xyz[1] + kD50ToD65[row][2] * xyz[2])
                / 100.0f;
        for (int row = 0; row < 3; ++row) {
            const float linear = std::clamp(kXyzToLinearSrgb[row][0] * adapted[0]
                    + kXyzToLinearSrgb[row][1] * adapted[1] + kXyzToLinearSrgb[row][2] * adapted[2],
                0.0f, 1.0f);
            const float encoded
                = linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
            pixel[row] = static_cast<unsigned char>(encoded * 255.0f + 0.5f);
        }
    }

private:
    TIFFCIELabToRGB lab_ {};
};

// The stored samples in the first slots of each pixel's RGBA bytes, made RGBA.
void finishPixels(const Layout& layout, unsigned char* bytes)
{
    if (layout.photometric == PHOTOMETRIC_CIELAB) {
        LabToSrgb toSrgb;
        const std::size_t count = std::size_t(layout.width) * layout.height;
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char* pixel = bytes + i * 4;
            toSrgb(pixel);
            if (layout.kept < 4)
                pixel[3] = 255;
        }
        return;
    }
    const std::size_t count = std::size_t(layout.width) * layout.height;
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* pixel = bytes + i * 4;
        switch (layout.photometric) {
        case PHOTOMETRIC_PALETTE: {
            const unsigned index = pixel[0];
            pixel[3] = layout.kept > 1 ? pixel[1] : 255;
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<unsigned char>(layout.colourMap[c][index] / 257);
            break;
        }
        case PHOTOMETRIC_SEPARATED: {
            const float black = 1.0f - pixel[3] / 255.0f;
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<unsigned char>((1.0f - pixel[c] / 255.0f) * black * 255.0f + 0.5f);
            pixel[3] = 255;
            break;
        }
        default:
            if (layout.photometric == PHOTOMETRIC_MINISWHITE)
                pixel[0] = static_cast<unsigned char>(255 - pixel[0]);
            // Spread as many samples as were kept: grey, grey and alpha, RGB, RGBA.
            switch (layout.kept) {
            case 1:
                pixel[1] = pixel[2] = pixel[0];
                pixel[3] = 255;
                break;
            case 2:
                pixel[3] = pixel[1];
                pixel[1] = pixel[2] = pixel[0];
                break;
            case 3:
                pixel[3] = 255;
                break;
            default:
                break;
            }
            break;
        }
    }
}

// Old-style JPEG through libtiff's RGBA interface, the one way libtiff decodes
// it to whole pixels (subsampled YCbCr in strips that need not follow the JPEG's).
MStatus readOldStyleJpeg(TIFF* file, const TiffStream& stream, const Layout& layout, RgbaImage& image)
{
    char message[1024];
    if (!TIFFIsCODECConfigured(COMPRESSION_OJPEG) || !TIFFRGBAImageOK(file, message))
        return MS::kFailure;
    PixelBytes bytes = allocateBytes(std::size_t(layout.width) * layout.height * 4);
    if (!bytes)
        return MS::kInsufficientMemory;
    // Each pixel one 32-bit word of R, G, B and A from the low byte up: RGBA
    // bytes on this little-endian host.
    if (!TIFFReadRGBAImageOriented(file, layout.width, layout.height,
            reinterpret_cast<std::uint32_t*>(bytes.get()), ORIENTATION_TOPLEFT, 1)
        || stream.failed)
        return MS::kFailure;
    image = RgbaImage { layout.width, layout.height, std::move(bytes) };
    return MS::kSuccess;
}

}  // namespace

MStatus readTiff(const ImageSource& source, RgbaImage& image)
{
    TiffStream stream { &source };
    const std::unique_ptr<TIFFOpenOptions, FreeOptions> options(TIFFOpenOptionsAlloc());
    if (!options)
        return MS::kInsufficientMemory;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, nullptr);
    // libtiff allocates each tag's data as the directory claims it before reading
    // it: 2^28 strip offsets took 5 GB. A tag no image needs (a profile) is then
    // left out, an array the pixels need fails the read.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTileBytes);
    // "m": no memory mapping, every byte comes through readAt.
    const std::unique_ptr<TIFF, CloseTiff> tiff(
        TIFFClientOpenExt(source.path().c_str(), "rm", &stream, readStream, writeStream, seekStream,
            closeStream, streamSize, mapNothing, unmapNothing, options.get()));
    if (!tiff)
        return MS::kFailure;
    // An error libtiff reported while reading the directory but got past (a
    // junk tag, say) does not spoil the pixels; from here on every error does.
    stream.failed = false;

    Layout layout;
    TIFF* file = tiff.get();
    if (!TIFFGetField(file, TIFFTAG_IMAGEWIDTH, &layout.width)
        || !TIFFGetField(file, TIFFTAG_IMAGELENGTH, &layout.height))
        return MS::kFailure;
    const MStatus size = checkImageSize(layout.width, layout.height, source.size(), kDeflatePixelsPerByte);
    if (!size)
        return size;
    TIFFGetFieldDefaulted(file, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
    TIFFGetFieldDefaulted(file, TIFFTAG_BITSPERSAMPLE, &layout.bits);
    TIFFGetFieldDefaulted(file, TIFFTAG_SAMPLEFORMAT, &layout.format);
    TIFFGetFieldDefaulted(file, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(file, TIFFTAG_COMPRESSION, &layout.compression);
    TIFFGetFieldDefaulted(file, TIFFTAG_FILLORDER, &layout.fillOrder);
    TIFFGetField(file, TIFFTAG_PHOTOMETRIC, &layout.photometric);
    if (layout.photometric == PHOTOMETRIC_PALETTE)
        TIFFGetField(
            file, TIFFTAG_COLORMAP, &layout.colourMap[0], &layout.colourMap[1], &layout.colourMap[2]);
    layout.tiled = TIFFIsTiled(file);
    if (layout.compression == COMPRESSION_OJPEG)
        return readOldStyleJpeg(file, stream, layout, image);
    if (!readsLayout(layout))
        return MS::kNotImplemented;
    if (!TIFFIsCODECConfigured(layout.compression))
        return MS::kFailure;
    if (layout.photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(file, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        layout.photometric = PHOTOMETRIC_RGB;
    }
    layout.kept = std::min<int>(layout.samples, 4);

    PixelBytes bytes = allocateBytes(std::size_t(layout.width) * layout.height * 4);
    if (!bytes)
        return MS::kInsufficientMemory;
    const bool rgbaStrips = !layout.tiled && layout.compression == COMPRESSION_NONE
        && layout.planar == PLANARCONFIG_CONTIG && layout.photometric == PHOTOMETRIC_RGB
        && layout.samples == 4 && layout.bits == 8 && layout.fillOrder == FILLORDER_MSB2LSB;
    const bool read = rgbaStrips ? readRgbaStrips(file, source, layout, bytes.get())
        : layout.tiled           ? readTiles(file, layout, bytes.get())
                                 : readStrips(file, layout, bytes.get());
    if (!read || stream.failed)
        return MS::kFailure;
    // RGBA samples are in place already: a pass over every pixel would change none.
    if (layout.photometric != PHOTOMETRIC_RGB || layout.kept != 4)
        finishPixels(layout, bytes.get());
    image = RgbaImage { layout.width, layout.height, std::move(bytes) };
    return MS::kSuccess;
}

}  // namespace host
