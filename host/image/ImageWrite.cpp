#include "ImageWrite.h"

#include "IffCodec.h"
#include "OiioModule.h"

#include <host/FileDescriptor.h>
#include <host/ImageFaults.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <linux/openat2.h>
#include <strings.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace host {

namespace {

// How many ImageWriteFailure objects live now.
std::atomic<int> writeFailuresInForce { 0 };

// The ImageWritePause in force, if any.
struct WritePause {
    std::function<void()> pause;
    bool namedTemporary = false;
};
std::unique_ptr<WritePause> writePause;

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

MStatus statusOfErrno(int error)
{
    return error == ENOENT || error == ENOTDIR ? MS::kNotFound : MS::kFailure;
}

// Opens a folder beneath `base` without following any link, "." and ".."
// taken as they come, never above `base`; -1 with errno set otherwise. openat2
// does it in one call; kernels without it get the same walk one name at a time.
int openBeneath(int base, const std::string& relative)
{
#ifdef SYS_openat2
    open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long opened = syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
    if (opened >= 0 || (errno != ENOSYS && errno != EPERM))
        return static_cast<int>(opened);
#endif
    std::vector<int> walked = { dup(base) };  // the folders from `base` down
    const auto closeAll = [&walked] {
        for (int descriptor : walked)
            if (descriptor >= 0)
                close(descriptor);
    };
    if (walked.back() < 0)
        return -1;
    std::string::size_type start = 0;
    while (start <= relative.size()) {
        const std::string::size_type slash = relative.find('/', start);
        const std::string name
            = relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? relative.size() + 1 : slash + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            if (walked.size() == 1) {
                closeAll();
                errno = EXDEV;
                return -1;
            }
            close(walked.back());
            walked.pop_back();
            continue;
        }
        // O_NOFOLLOW with O_DIRECTORY refuses a link with ENOTDIR.
        const int next = openat(walked.back(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int error = errno;
            closeAll();
            errno = error;
            return -1;
        }
        walked.push_back(next);
    }
    const int folder = walked.back();
    walked.pop_back();
    closeAll();
    return folder;
}

// Opens the folder `path` names. Its leading names are taken as given, links
// the user made there followed; from the first name a later ".." climbs back
// over, the rest is resolved beneath them without following links, so that
// "sub/.." is the folder "sub" is in even when "sub" is a link to elsewhere.
int openTargetFolder(const fs::path& path)
{
    std::vector<std::string> names;
    for (const fs::path& name : path.relative_path())
        names.push_back(name.string());
    std::vector<std::size_t> named;  // indices of names a ".." may climb back over
    std::size_t firstClimbed = names.size();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == "..") {
            if (!named.empty()) {
                firstClimbed = std::min(firstClimbed, named.back());
                named.pop_back();
            }
        } else if (!names[i].empty() && names[i] != ".") {
            named.push_back(i);
        }
    }
    std::string lead = path.root_path().string();
    std::string rest;
    for (std::size_t i = 0; i < names.size(); ++i)
        (i < firstClimbed ? lead : rest) += names[i] + "/";
    const int base = open(lead.empty() ? "." : lead.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (base < 0 || rest.empty())
        return base;
    const int folder = openBeneath(base, rest);
    const int error = errno;
    close(base);
    errno = error;
    return folder;
}

// A short name no other writer picks: the target's own name may already be as
// long as a file name can be, so nothing is appended to it.
std::string temporaryName()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::array<unsigned char, 12> noise {};
    std::size_t filled = 0;
    while (filled < noise.size()) {
        const ssize_t got = getrandom(noise.data() + filled, noise.size() - filled, 0);
        if (got > 0)
            filled += std::size_t(got);
        else if (errno != EINTR)
            break;
    }
    std::string name = ".tmp-";
    for (unsigned char byte : noise)
        name += letters[byte % 36];
    return name;
}

// Named temporary files the process would leave behind if SIGINT or SIGTERM
// ended it now. The handler removes them, puts back the handlers it displaced
// and sends the signal again, so the process ends as it would have.
struct PendingName {
    std::atomic<int> folder { -1 };
    char name[32] = {};
};
constexpr int kPendingSlots = 8;
PendingName pendingNames[kPendingSlots];
struct sigaction displacedInterrupt;
struct sigaction displacedTerminate;
// Whether the handler above is in place of each; a signal the process ignores
// stays ignored, as it would end nothing.
bool handlingInterrupt = false;
bool handlingTerminate = false;
std::mutex pendingLock;
int pendingCount = 0;

// Puts the removal handler in place of `signal`'s unless the signal is ignored;
// whether it did.
bool handleUnlessIgnored(int signal, const struct sigaction& removal, struct sigaction& displaced)
{
    if (sigaction(signal, nullptr, &displaced) != 0 || displaced.sa_handler == SIG_IGN)
        return false;
    return sigaction(signal, &removal, &displaced) == 0;
}

extern "C" void removePendingNames(int signal)
{
    for (PendingName& pending : pendingNames) {
        const int folder = pending.folder.load();
        if (folder >= 0)
            unlinkat(folder, pending.name, 0);
    }
    if (handlingInterrupt)
        sigaction(SIGINT, &displacedInterrupt, nullptr);
    if (handlingTerminate)
        sigaction(SIGTERM, &displacedTerminate, nullptr);
    raise(signal);
}

// Keeps a named temporary file on the list above while it exists.
class PendingRemoval {
public:
    PendingRemoval(int folder, const std::string& name)
    {
        const std::lock_guard<std::mutex> lock(pendingLock);
        for (PendingName& pending : pendingNames) {
            if (pending.folder.load() >= 0)
                continue;
            name.copy(pending.name, sizeof pending.name - 1);
            pending.name[std::min(name.size(), sizeof pending.name - 1)] = '\0';
            pending.folder.store(folder);
            slot_ = &pending;
            break;
        }
        if (slot_ && pendingCount++ == 0) {
            struct sigaction removal { };
            removal.sa_handler = removePendingNames;
            sigemptyset(&removal.sa_mask);
            sigaddset(&removal.sa_mask, SIGINT);
            sigaddset(&removal.sa_mask, SIGTERM);
            handlingInterrupt = handleUnlessIgnored(SIGINT, removal, displacedInterrupt);
            handlingTerminate = handleUnlessIgnored(SIGTERM, removal, displacedTerminate);
        }
    }
    PendingRemoval(const PendingRemoval&) = delete;
    PendingRemoval& operator=(const PendingRemoval&) = delete;
    ~PendingRemoval()
    {
        if (!slot_)
            return;
        const std::lock_guard<std::mutex> lock(pendingLock);
        slot_->folder.store(-1);
        if (--pendingCount == 0) {
            if (handlingInterrupt)
                sigaction(SIGINT, &displacedInterrupt, nullptr);
            if (handlingTerminate)
                sigaction(SIGTERM, &displacedTerminate, nullptr);
            handlingInterrupt = handlingTerminate = false;
        }
    }

private:
    PendingName* slot_ = nullptr;
};

// The path through which the kernel links an open file into a folder again.
std::string descriptorPath(int descriptor)
{
    return "/proc/self/fd/" + std::to_string(descriptor);
}

// The file the image is encoded into, created in the target's folder and written
// only through its descriptor: no name is ever opened again, so nobody can send
// the bytes elsewhere by swapping names. Where the file system has them it is an
// unnamed file (O_TMPFILE), linked into place once whole, which leaves nothing
// behind even if the process is killed. Elsewhere it gets a short random name,
// created exclusively and never through a symlink, and removed on SIGINT and
// SIGTERM as well as on every failure.
class TemporaryFile {
public:
    TemporaryFile(int folder, mode_t mode, bool mayBeUnnamed)
        : folder_(folder)
    {
        // Mode 0666 lets the kernel apply the umask, as for any file the user makes.
        constexpr int kFlags = O_RDWR | O_CLOEXEC;
        if (mayBeUnnamed && access("/proc/self/fd", X_OK) == 0)
            descriptor_ = openat(folder, ".", O_TMPFILE | kFlags, 0666);
        if (descriptor_ < 0) {
            // The name is on the signal handler's list before the file exists.
            for (int attempt = 0; attempt < 16 && descriptor_ < 0; ++attempt) {
                name_ = temporaryName();
                pending_ = std::make_unique<PendingRemoval>(folder, name_);
                descriptor_ = openat(folder, name_.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | kFlags, 0666);
                if (descriptor_ < 0 && errno != EEXIST)
                    break;
            }
            if (descriptor_ < 0) {
                error_ = errno;
                pending_.reset();
                name_.clear();
                return;
            }
        }
        // An earlier file keeps its permission bits.
        if (mode != 0)
            fchmod(descriptor_, mode);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!name_.empty())
            unlinkat(folder_, name_.c_str(), 0);
        if (descriptor_ >= 0)
            close(descriptor_);
    }

    MStatus creationStatus() const
    {
        return descriptor_ >= 0 ? MStatus(MS::kSuccess) : statusOfErrno(error_);
    }
    int descriptor() const { return descriptor_; }

    // Puts the whole file at `target` in the folder, replacing any file there.
    MStatus placeAt(const std::string& target)
    {
        if (name_.empty())
            return linkAt(target);
        // The name may have been swapped for something else since it was made;
        // only the file written here is moved into place.
        struct stat named { };
        struct stat written { };
        if (fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0
            || fstat(descriptor_, &written) != 0 || named.st_dev != written.st_dev
            || named.st_ino != written.st_ino)
            return MS::kFailure;
        if (renameat(folder_, name_.c_str(), folder_, target.c_str()) != 0)
            return MS::kFailure;
        name_.clear();
        pending_.reset();
        return MS::kSuccess;
    }

private:
    MStatus linkAt(const std::string& target)
    {
        const std::string path = descriptorPath(descriptor_);
        if (linkat(AT_FDCWD, path.c_str(), folder_, target.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return MS::kSuccess;
        if (errno != EEXIST)
            return MS::kFailure;
        // An earlier file: link under a short random name, then rename that over
        // it, so the target is the old file or the new one, never neither.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string name = temporaryName();
            const PendingRemoval pending(folder_, name);
            if (linkat(AT_FDCWD, path.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                if (errno == EEXIST)
                    continue;
                return MS::kFailure;
            }
            if (renameat(folder_, name.c_str(), folder_, target.c_str()) == 0)
                return MS::kSuccess;
            unlinkat(folder_, name.c_str(), 0);
            return MS::kFailure;
        }
        return MS::kFailure;
    }

    int folder_;
    int descriptor_ = -1;
    int error_ = 0;
    std::string name_;
    std::unique_ptr<PendingRemoval> pending_;
};

}  // namespace

ImageWriteFailure::ImageWriteFailure()
{
    ++writeFailuresInForce;
}

ImageWriteFailure::~ImageWriteFailure()
{
    --writeFailuresInForce;
}

ImageWritePause::ImageWritePause(std::function<void()> pause, bool namedTemporary)
{
    writePause = std::make_unique<WritePause>(WritePause { std::move(pause), namedTemporary });
}

ImageWritePause::~ImageWritePause()
{
    writePause.reset();
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

    // Everything from here on goes through the folder's descriptor, so a folder
    // renamed meanwhile cannot send the file elsewhere.
    const fs::path folderPath = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const FileDescriptor folder(openTargetFolder(folderPath));
    if (folder.get() < 0)
        return statusOfErrno(errno);
    const std::string name = target.filename().string();
    struct stat earlier { };
    const bool replacing
        = fstatat(folder.get(), name.c_str(), &earlier, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(earlier.st_mode);
    // Renaming over a file needs only the folder's permission; a file its user
    // may not write stays as it is.
    if (replacing && faccessat(folder.get(), name.c_str(), W_OK, AT_EACCESS) != 0)
        return MS::kFailure;

    const bool mayBeUnnamed = !(writePause && writePause->namedTemporary);
    TemporaryFile temporary(folder.get(), replacing ? earlier.st_mode & 0777 : 0, mayBeUnnamed);
    if (!temporary.creationStatus())
        return temporary.creationStatus();
    // IFF, the format the batch writes, by the host itself; the rest by OpenImageIO.
    const MStatus encoded = strcasecmp(format, "iff") == 0
        ? encodeIff(image, temporary.descriptor())
        : encodeWithOpenImageIO(image, format, temporary.descriptor());
    if (!encoded)
        return encoded;
    if (writeFailuresInForce.load() > 0) {
        struct stat written { };
        const bool cut = fstat(temporary.descriptor(), &written) == 0
            && ftruncate(temporary.descriptor(), written.st_size / 2) == 0;
        static_cast<void>(cut);  // cut or not, this write has failed
        return MS::kFailure;
    }
    if (writePause)
        writePause->pause();
    return temporary.placeAt(name);
}

}  // namespace host
