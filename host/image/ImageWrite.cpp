#include "ImageWrite.h"

#include "OiioErrors.h"

#include <host/ImageFaults.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace host {

namespace {

// How many ImageWriteFailure objects live now.
std::atomic<int> writeFailuresInForce { 0 };

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// OpenImageIO's name for each format name the host accepts; empty when unknown.
std::string writerName(const char* format)
{
    struct FormatName {
        const char* host;
        const char* writer;
    };
    static const FormatName names[] = {
        { "iff", "iff" },
        { "png", "png" },
        { "jpg", "jpeg" },
        { "jpeg", "jpeg" },
        { "tif", "tiff" },
        { "tiff", "tiff" },
        { "exr", "openexr" },
        { "tga", "targa" },
        { "bmp", "bmp" },
    };
    const std::string wanted = lowerCase(format);
    for (const FormatName& name : names) {
        if (wanted == name.host)
            return name.writer;
    }
    return {};
}

MStatus checkWritablePath(const fs::path& path)
{
    std::error_code error;
    if (fs::is_directory(path, error))
        return MS::kInvalidParameter;
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (!fs::is_directory(folder, error))
        return MS::kNotFound;
    return MS::kSuccess;
}

// The mode a newly created file gets here: mkstemp makes its file private, but
// the renamed result should look like any other file the user creates.
mode_t newFileMode()
{
    mode_t umask = 022;
    std::ifstream processStatus("/proc/self/status");
    std::string line;
    while (std::getline(processStatus, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            umask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~umask;
}

// A uniquely named file beside the target, removed again unless it was renamed
// into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& target)
    {
        std::string pattern = target.string() + ".tmp-XXXXXX";
        const int descriptor = mkstemp(pattern.data());
        if (descriptor < 0) {
            creationError_ = errno;
            return;
        }
        fchmod(descriptor, newFileMode());
        close(descriptor);
        path_ = pattern;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!path_.empty())
            unlink(path_.c_str());
    }

    MStatus creationStatus() const
    {
        if (!path_.empty())
            return MS::kSuccess;
        return creationError_ == ENOENT || creationError_ == ENOTDIR ? MS::kNotFound : MS::kFailure;
    }

    const std::string& path() const { return path_; }

    MStatus renameTo(const fs::path& target)
    {
        if (std::rename(path_.c_str(), target.c_str()) != 0)
            return MS::kFailure;
        path_.clear();
        return MS::kSuccess;
    }

private:
    std::string path_;
    int creationError_ = 0;
};

MStatus encode(OIIO::ImageOutput& output, const RgbaImage& image, const std::string& path)
{
    const int channels = output.supports("alpha") ? 4 : 3;
    OIIO::ImageSpec layout(int(image.width), int(image.height), channels, OIIO::TypeDesc::UINT8);
    // The pixels hold unassociated alpha; without this the writers would divide
    // colour by alpha on the way out.
    layout.attribute("oiio:UnassociatedAlpha", 1);
    if (!output.open(path, layout)) {
        takeErrors(output);
        return MS::kFailure;
    }
    const OIIO::stride_t pixelStride = 4;
    const OIIO::stride_t rowStride = OIIO::stride_t(image.width) * 4;
    const bool written = output.write_image(OIIO::TypeDesc::UINT8, image.bytes.get(), pixelStride, rowStride);
    const bool closed = output.close();
    // Only the results count: the TIFF writer leaves a complaint about its empty
    // Exif directory behind even when the file is whole.
    takeErrors(output);
    if (!written || !closed)
        return MS::kFailure;
    if (writeFailuresInForce.load() > 0) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(path, error);
        if (!error)
            fs::resize_file(path, size / 2, error);
        return MS::kFailure;
    }
    return MS::kSuccess;
}

}  // namespace

ImageWriteFailure::ImageWriteFailure()
{
    ++writeFailuresInForce;
}

ImageWriteFailure::~ImageWriteFailure()
{
    --writeFailuresInForce;
}

MStatus writeImageFile(const RgbaImage& image, const char* path, const char* format)
{
    if (!image.bytes)
        return MS::kFailure;
    const std::string writer = writerName(format);
    if (writer.empty())
        return MS::kNotImplemented;
    const fs::path target(path);
    const MStatus pathStatus = checkWritablePath(target);
    if (!pathStatus)
        return pathStatus;

    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(writer);
    if (!output) {
        takeGlobalErrors();
        return MS::kNotImplemented;
    }
    TemporaryFile temporary(target);
    if (!temporary.creationStatus())
        return temporary.creationStatus();
    const MStatus encoded = encode(*output, image, temporary.path());
    if (!encoded)
        return encoded;
    return temporary.renameTo(target);
}

}  // namespace host
