#include "ImageWrite.h"

#include "OiioModule.h"

#include <host/ImageFaults.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>

#include <strings.h>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace host {

namespace {

// How many ImageWriteFailure objects live now.
std::atomic<int> writeFailuresInForce { 0 };

// The formats the host writes. OpenImageIO takes these names as they are, in any
// case; it has writers for others too, which the host does not offer.
bool isWritableFormat(const char* format)
{
    static const char* const names[] = { "iff", "png", "jpg", "jpeg", "tif", "tiff", "exr", "tga", "bmp" };
    return std::any_of(std::begin(names), std::end(names),
        [format](const char* name) { return strcasecmp(format, name) == 0; });
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
        descriptor_ = descriptor;
        path_ = pattern;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (descriptor_ >= 0)
            close(descriptor_);
        if (!path_.empty())
            unlink(path_.c_str());
    }

    MStatus creationStatus() const
    {
        if (!path_.empty())
            return MS::kSuccess;
        return creationError_ == ENOENT || creationError_ == ENOTDIR ? MS::kNotFound : MS::kFailure;
    }

    int descriptor() const { return descriptor_; }

    MStatus renameTo(const fs::path& target)
    {
        if (close(std::exchange(descriptor_, -1)) != 0)
            return MS::kFailure;
        if (std::rename(path_.c_str(), target.c_str()) != 0)
            return MS::kFailure;
        path_.clear();
        return MS::kSuccess;
    }

private:
    std::string path_;
    int descriptor_ = -1;
    int creationError_ = 0;
};

MStatus encode(const RgbaImage& image, const char* format, int descriptor)
{
    const MStatus encoded = encodeWithOpenImageIO(image, format, descriptor);
    if (!encoded)
        return encoded;
    if (writeFailuresInForce.load() > 0) {
        struct stat status { };
        const bool cut = fstat(descriptor, &status) == 0 && ftruncate(descriptor, status.st_size / 2) == 0;
        static_cast<void>(cut);  // the write fails either way
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
    if (!isWritableFormat(format))
        return MS::kNotImplemented;
    const fs::path target(path);
    const MStatus pathStatus = checkWritablePath(target);
    if (!pathStatus)
        return pathStatus;

    TemporaryFile temporary(target);
    if (!temporary.creationStatus())
        return temporary.creationStatus();
    const MStatus encoded = encode(image, format, temporary.descriptor());
    if (!encoded)
        return encoded;
    return temporary.renameTo(target);
}

}  // namespace host
