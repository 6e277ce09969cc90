#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

// Builders for damaged and unusual image files, and a way to run hostbatch with
// the real plug-in in a scratch folder laid out the way resizeFunction expects.

namespace robustness {

using Bytes = std::vector<unsigned char>;

inline const char* const kListFile = "F:/Dovrin's Documents/My Images/DIRlist.txt";
inline const char* const kOutputFolder = "F:/Dovrin's Documents/My Images/Resized/";

/// What one hostbatch run printed, and how it exited.
struct HostbatchRun {
    int exitCode = -1;
    std::string out;
    std::string err;
    long peakKilobytes = 0;  ///< The most memory the process held at once.
};

/// A fresh folder holding `images/` and the list file's folders, removed with
/// everything in it when the object goes (kept, and named on standard error,
/// while PICTILE_KEEP_WORKSPACES is set).
class Workspace {
public:
    Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    ~Workspace();

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& relative) const { return (path_ / relative).string(); }

    /// Runs hostbatch with the plug-in on `script` in this folder, with `options`
    /// (for example "--keep-going") before the script and `asanOptions` added to
    /// the sanitizer's options.
    HostbatchRun hostbatch(const std::string& script, const std::vector<std::string>& options = {},
        const std::string& asanOptions = "") const;
    /// Starts one hostbatch per script at once, then waits for all of them.
    std::vector<HostbatchRun> hostbatchTogether(const std::vector<std::string>& scripts) const;

    /// From now on runs hostbatch as the user `uid` of group `gid`, and gives
    /// that user the folder; the caller must be root.
    void runAs(uid_t uid, gid_t gid);

    /// Starts hostbatch on `script`, saved as `name`.mel, without waiting for it,
    /// in a process group of its own (whose id is the process's).
    pid_t launch(const std::string& name, const std::string& script, const std::vector<std::string>& options,
        const std::string& asanOptions) const;
    /// Waits for the hostbatch `launch` started as `name`, and gives what it printed.
    HostbatchRun collect(const std::string& name, pid_t child) const;

private:
    std::filesystem::path path_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool asUser_ = false;
};

Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, const Bytes& bytes);

/// Writes a width by height image through MImage (any format it writes); the
/// pixel in column x and row y is ((x * 10 + y) % 256, 2x, 3y, 255) modulo 256.
void writeGradient(const std::string& path, unsigned int width, unsigned int height, const char* format);

/// A PNG with the given IHDR fields and pixel rows (unfiltered sample bytes, no
/// filter byte), an optional palette, and every chunk's CRC right.
Bytes pngFile(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType, int interlace,
    const std::vector<Bytes>& rows, const Bytes& palette = {});

/// The same PNG built by libpng, which does the interlacing.
void writePngWithLibpng(const std::string& path, std::uint32_t width, std::uint32_t height, int bitDepth,
    int colourType, bool interlaced, const std::vector<Bytes>& rows, const Bytes& palette = {});

/// A CMYK JPEG (as Adobe tools write it: inverted samples) of one colour.
void writeCmykJpeg(const std::string& path, int width, int height, const unsigned char cmyk[4]);

/// A little-endian TIFF header of width by height pixels of grey and alpha as
/// 32-bit floats, in four strips that point past the end of the file.
Bytes deepTiffHeader(std::uint32_t width, std::uint32_t height);

/// A grey JPEG of width by height whose Huffman tables code every difference as
/// 0 in one bit (a mid-grey image): `scans` scans of `scanBytes` zero bytes each,
/// progressive DC scans when `progressive`, else one baseline scan; the end
/// marker left out when `cut`.
Bytes greyJpeg(std::uint16_t width, std::uint16_t height, bool progressive, int scans, std::size_t scanBytes,
    bool cut = false);

/// A TIFF that writeTiff makes through libtiff: one uncompressed strip of
/// interleaved samples.
struct TiffLayout {
    std::uint32_t width = 10;
    std::uint32_t height = 10;
    std::uint16_t samples = 3;  ///< the last one unassociated alpha when `alpha`
    std::uint16_t bits = 8;
    std::uint16_t photometric = 2;  ///< RGB
    bool alpha = false;
    bool big = false;  ///< BigTIFF
    std::vector<std::uint16_t> colourMap;  ///< red, then green, then blue entries
    std::vector<Bytes> rows;  ///< packed samples, top row first
};

void writeTiff(const std::string& path, const TiffLayout& layout);

/// A 16 x 16 RGB JPEG (4:4:4, quality 100) of four 8 x 8 blocks of grey: 50 at
/// the top left, 100 at the top right, 150 and 200 below; libjpeg decodes it exactly.
Bytes greyBlocksJpeg();

/// An old-style-JPEG TIFF of 16 x 16 pixels holding `jpeg` whole, with a tag of
/// an undefined type that libtiff reports as an error and reads past.
Bytes oldStyleJpegTiff(const Bytes& jpeg);

/// The fields of a BMP file that bmpFile writes; the rest are zero.
struct BmpLayout {
    std::uint32_t infoBytes = 40;  ///< 12: the OS/2 1.x header, palette entries of three bytes
    std::int32_t width = 10;
    std::int32_t height = 10;  ///< negative: rows stored top down
    std::uint16_t depth = 24;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    std::vector<std::uint32_t> masks;  ///< in the header from 52 bytes on, else after it
    Bytes palette;  ///< stored entries, BGR or BGR0
    std::vector<Bytes> rows;  ///< stored rows, in stored order, each padded here to 4 bytes
    Bytes profile;  ///< an embedded colour profile, after the pixels (108-byte headers up)
};

/// A BMP file of `layout`.
Bytes bmpFile(const BmpLayout& layout);

/// One tile of a host IFF image: its corners and its stored bytes, in a chunk
/// tagged "RGBA" (or another tag, such as "ZBUF" for depth, which is no tile).
struct IffTile {
    std::uint16_t left, top, right, bottom;
    Bytes payload;
    const char* tag = "RGBA";
};

/// A host IFF image of RGBA, 8 bits a sample, with the given tiles.
Bytes iffFile(std::uint32_t width, std::uint32_t height, bool compressed, const std::vector<IffTile>& tiles);

}  // namespace robustness
