#include "OiioModule.h"

#include "HostModule.h"
#include "oiio/OiioModuleApi.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace host {

namespace {

// Opens pictile_oiio.so from beside this library once, on first need; null when
// it is missing, fails to load or is of another version. The module stays
// loaded for the life of the process.
const PictileOiioModule* oiioModule()
{
    static const PictileOiioModule* const module = []() -> const PictileOiioModule* {
        const auto entry
            = reinterpret_cast<PictileOiioEntry>(openHostModuleEntry("pictile_oiio.so", PICTILE_OIIO_ENTRY));
        const PictileOiioModule* found = entry ? entry() : nullptr;
        // A module of another version stays loaded but unused.
        return found && found->version == PICTILE_OIIO_MODULE_VERSION ? found : nullptr;
    }();
    return module;
}

MStatus toStatus(int status)
{
    switch (status) {
    case kPictileOiioSuccess:
        return MS::kSuccess;
    case kPictileOiioInvalidParameter:
        return MS::kInvalidParameter;
    case kPictileOiioInsufficientMemory:
        return MS::kInsufficientMemory;
    case kPictileOiioNotImplemented:
        return MS::kNotImplemented;
    default:
        return MS::kFailure;
    }
}

// OpenImageIO's name for the reader of each format the host tells apart; null
// where the module chooses.
const char* readerName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return "png";
    case ImageFormat::Jpeg:
        return "jpeg";
    case ImageFormat::Tiff:
        return "tiff";
    case ImageFormat::Gif:
        return "gif";
    case ImageFormat::Exr:
        return "openexr";
    case ImageFormat::Hdr:
        return "hdr";
    case ImageFormat::Tga:
        return "targa";
    default:
        return nullptr;
    }
}

// A file descriptor closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int descriptor = -1)
        : descriptor_(descriptor)
    {
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }
    void reset(int descriptor = -1)
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = descriptor;
    }
    int get() const { return descriptor_; }

private:
    int descriptor_;
};

// A read-only or writable shared view of a file, unmapped when it goes.
class Mapping {
public:
    Mapping(int descriptor, std::size_t size, int protection, int flags)
    {
        if (size == 0)
            return;
        void* address = ::mmap(nullptr, size, protection, flags, descriptor, 0);
        if (address != MAP_FAILED) {
            bytes_ = static_cast<unsigned char*>(address);
            size_ = size;
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping()
    {
        if (bytes_)
            ::munmap(bytes_, size_);
    }
    unsigned char* bytes() const { return bytes_; }

private:
    unsigned char* bytes_ = nullptr;
    std::size_t size_ = 0;
};

// What the decoding child tells the host: first the size its file's header
// claims (kHeader), then how the decode ended (kDone).
struct ChildMessage {
    enum Kind : std::uint32_t { kHeader = 1, kDone = 2 };
    std::uint32_t kind = 0;
    std::int32_t status = kPictileOiioFailure;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t depth = 0;
};

// A header takes a decoder far less than this even on a loaded machine; a
// child that has not told its size by then is stuck.
constexpr std::chrono::milliseconds kHeaderTime { 1500 };
// The decode gets this much plus kTimePerMegapixel; tens of milliseconds a
// megapixel is ample for any of these decoders, even under the sanitizers.
constexpr std::chrono::milliseconds kDecodeTime { 1500 };
constexpr std::chrono::milliseconds kTimePerMegapixel { 100 };
// A decoder's own buffers beside the pixels it hands over: OpenImageIO converts
// in bands of 16 MiB, and some readers (Targa, GIF, ICO, PSD) hold the whole
// image in its stored form, up to 16 bytes a pixel.
constexpr std::uint64_t kChildWorkBytes = std::uint64_t(256) << 20;
constexpr std::uint64_t kStoredBytesPerPixel = 16;

std::uint64_t pixelBytes(const ChildMessage& header)
{
    return header.width * header.height * 4;
}

// The child's private writable memory now (VmData, with the stack), in bytes:
// its memory limit is set above this, because a sanitizer build has already
// reserved terabytes of it.
std::uint64_t dataBytesInUse()
{
    Descriptor statm(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC));
    char text[256];
    const ssize_t got = statm.get() >= 0 ? ::read(statm.get(), text, sizeof text - 1) : -1;
    if (got <= 0)
        return 0;
    text[got] = '\0';
    // Pages: size, resident, shared, text, lib, data, dirty.
    const char* field = text;
    for (int skip = 0; skip < 5 && field; ++skip) {
        field = std::strchr(field, ' ');
        field = field ? field + 1 : nullptr;
    }
    return field ? std::strtoull(field, nullptr, 10) * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE))
                 : 0;
}

void limitData(std::uint64_t base, std::uint64_t allowed, bool lowerHard)
{
    rlimit limit {};
    ::getrlimit(RLIMIT_DATA, &limit);
    const rlim_t wanted = static_cast<rlim_t>(base + allowed);
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max)
        return;
    limit.rlim_cur = wanted;
    if (lowerHard)
        limit.rlim_max = wanted;
    ::setrlimit(RLIMIT_DATA, &limit);
}

void limitCpu(std::chrono::milliseconds time)
{
    const rlim_t seconds = static_cast<rlim_t>(time.count() / 1000 + 1);
    rlimit limit { seconds, seconds + 1 };
    ::setrlimit(RLIMIT_CPU, &limit);
}

std::chrono::milliseconds decodeTime(std::uint64_t pixels)
{
    return kDecodeTime + kTimePerMegapixel * static_cast<long long>(pixels >> 20);
}

// The child's end of the exchange: where the module puts the pixels it decodes.
struct ChildSink {
    int channel;
    int pixels;
    std::uint64_t dataBase;
    unsigned char* mapped = nullptr;
    std::size_t mappedSize = 0;

    static unsigned char* allocate(void* context, unsigned long long width, unsigned long long height,
        unsigned long long depth, int* status)
    {
        ChildSink& sink = *static_cast<ChildSink*>(context);
        ChildMessage header;
        header.kind = ChildMessage::kHeader;
        header.width = width;
        header.height = height;
        header.depth = depth;
        std::int32_t reply = kPictileOiioFailure;
        if (::send(sink.channel, &header, sizeof header, MSG_NOSIGNAL) != sizeof header
            || ::recv(sink.channel, &reply, sizeof reply, 0) != sizeof reply
            || reply != kPictileOiioSuccess) {
            *status = reply;
            return nullptr;
        }
        // The host has sized the shared pixels; the decoder's own buffers may now
        // grow with the image.
        const std::uint64_t pixels = std::uint64_t(width) * height;
        limitData(sink.dataBase, kChildWorkBytes + pixels * kStoredBytesPerPixel, false);
        limitCpu(decodeTime(pixels));
        const std::size_t size = static_cast<std::size_t>(pixels * 4);
        void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, sink.pixels, 0);
        if (address == MAP_FAILED) {
            *status = kPictileOiioInsufficientMemory;
            return nullptr;
        }
        sink.mapped = static_cast<unsigned char*>(address);
        sink.mappedSize = size;
        return sink.mapped;
    }
};

// Runs in the forked child: decodes the file into the shared pixels and tells
// the host how it went. Only _exit leaves it: no atexit handler, stream flush or
// leak check of the host's runs twice.
[[noreturn]] void decodeInChild(const PictileOiioModule& module, const ImageSource& source,
    ImageFormat format, int channel, int pixels, pid_t host)
{
    // Gone with the host; no core file for a decoder's crash; nothing of a
    // decoder's complaints reaches the host's output.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != host)
        ::_exit(1);
    rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    // A fault ends the child at once: a sanitizer's report of it would only
    // take time to write where nobody reads it.
    for (const int fault : { SIGSEGV, SIGBUS, SIGFPE, SIGILL })
        ::signal(fault, SIG_DFL);
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0) {
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
    }
    ChildSink sink { channel, pixels, dataBytesInUse() };
    // Until the header is known the decoder gets its working room alone; the
    // hard limit leaves room for the largest image the host allows.
    limitData(sink.dataBase, kChildWorkBytes + kMaxImagePixels * kStoredBytesPerPixel, true);
    limitData(sink.dataBase, kChildWorkBytes, false);
    limitCpu(kHeaderTime);

    ChildMessage done;
    done.kind = ChildMessage::kDone;
    // The file's bytes are mapped, never copied: a file cut short meanwhile ends
    // this child with SIGBUS, which is that file's refusal.
    const std::size_t size = static_cast<std::size_t>(source.size());
    const Mapping file(source.descriptor(), size, PROT_READ, MAP_PRIVATE);
    if (file.bytes()) {
        PictileOiioPixels target { &sink, &ChildSink::allocate };
        done.status = module.read(file.bytes(), size, readerName(format), source.path().c_str(), &target);
        if (done.status == kPictileOiioSuccess && !sink.mapped)
            done.status = kPictileOiioFailure;
    }
    ::send(channel, &done, sizeof done, MSG_NOSIGNAL);
    ::_exit(0);
}

// Children killed or finished but not yet reaped: a child's exit unmaps a copy
// of the host's whole address space, which the host need not wait for.
std::vector<pid_t>& unreapedChildren()
{
    static std::vector<pid_t> children;
    return children;
}

void reapFinishedChildren()
{
    std::vector<pid_t>& children = unreapedChildren();
    children.erase(std::remove_if(children.begin(), children.end(),
                       [](pid_t pid) {
                           int status = 0;
                           const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
                           return reaped == pid || (reaped < 0 && errno == ECHILD);
                       }),
        children.end());
}

// The host's end of one decoding child: kills it when it goes, and leaves it to
// be reaped once it has gone. A child that has sent its result is only on its
// way out, so killing it loses nothing, and one that hangs is never waited for.
class Child {
public:
    explicit Child(pid_t pid)
        : pid_(pid)
    {
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        ::kill(pid_, SIGKILL);
        unreapedChildren().push_back(pid_);
        reapFinishedChildren();
    }

private:
    pid_t pid_;
};

// Waits up to `deadline` for the child's next message; false on a timeout, an
// ended child or a malformed message.
bool receive(int channel, std::chrono::steady_clock::time_point deadline, ChildMessage& message)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wait { channel, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t got = ::recv(channel, &message, sizeof message, 0);
        if (got < 0 && errno == EINTR)
            continue;
        return got == sizeof message;
    }
}

// The size a child reports, checked as any reader's header is: kSuccess or the
// status of the refusal.
MStatus checkReportedSize(const ChildMessage& header)
{
    if (header.width > UINT32_MAX || header.height > UINT32_MAX || header.depth == 0
        || header.depth > UINT32_MAX)
        return MS::kInvalidParameter;
    const MStatus size = checkImageSize(header.width, header.height);
    if (size && header.width * header.height * header.depth > kMaxImagePixels)
        return MS::kInvalidParameter;
    return size;
}

int toModuleStatus(const MStatus& status)
{
    switch (status.statusCode()) {
    case MS::kSuccess:
        return kPictileOiioSuccess;
    case MS::kInvalidParameter:
        return kPictileOiioInvalidParameter;
    case MS::kInsufficientMemory:
        return kPictileOiioInsufficientMemory;
    default:
        return kPictileOiioFailure;
    }
}

// Moves the shared pixels into memory of the host's own, a band at a time,
// giving each band back as soon as it is copied, so that the read never holds
// the image twice.
PixelBytes takePixels(int pixels, std::size_t size)
{
    struct stat status { };
    if (::fstat(pixels, &status) != 0 || static_cast<std::uint64_t>(status.st_size) != size)
        return nullptr;
    const Mapping shared(pixels, size, PROT_READ, MAP_SHARED);
    PixelBytes bytes = allocateBytes(size);
    if (!shared.bytes() || !bytes)
        return nullptr;
    constexpr std::size_t kBand = std::size_t(16) << 20;
    for (std::size_t done = 0; done < size; done += kBand) {
        const std::size_t count = std::min(kBand, size - done);
        std::memcpy(bytes.get() + done, shared.bytes() + done, count);
        ::fallocate(pixels, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(done),
            static_cast<off_t>(count));
    }
    return bytes;
}

}  // namespace

MStatus readWithOpenImageIO(const ImageSource& source, ImageFormat format, RgbaImage& image)
{
    if (source.size() == 0 || source.size() > SIZE_MAX)
        return MS::kFailure;
    const PictileOiioModule* module = oiioModule();
    if (!module) {
        noteMissingOpenImageIO();
        return MS::kFailure;
    }

    // The decoder runs in a child forked for this one file: a crash, a runaway
    // loop or an allocation storm there ends only that child, and the file is
    // refused. The pixels come back through an unnamed shared file sized by the
    // host from the header the child reports.
    Descriptor pixels(::memfd_create("pictile-pixels", MFD_CLOEXEC));
    int ends[2];
    if (pixels.get() < 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return MS::kFailure;
    Descriptor channel(ends[0]);
    Descriptor childEnd(ends[1]);
    const pid_t host = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        return MS::kFailure;
    if (pid == 0)
        decodeInChild(*module, source, format, childEnd.get(), pixels.get(), host);
    Child child(pid);
    childEnd.reset();

    ChildMessage message;
    if (!receive(channel.get(), std::chrono::steady_clock::now() + kHeaderTime, message))
        return MS::kFailure;
    if (message.kind == ChildMessage::kHeader) {
        const ChildMessage header = message;
        MStatus size = checkReportedSize(header);
        if (size && ::ftruncate(pixels.get(), static_cast<off_t>(pixelBytes(header))) != 0)
            size = MS::kInsufficientMemory;
        const std::int32_t reply = toModuleStatus(size);
        if (::send(channel.get(), &reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply || !size)
            return size ? MS::kFailure : size;
        const auto deadline = std::chrono::steady_clock::now() + decodeTime(header.width * header.height);
        if (!receive(channel.get(), deadline, message) || message.kind != ChildMessage::kDone)
            return MS::kFailure;
        const MStatus status = toStatus(message.status);
        if (!status)
            return status;
        PixelBytes bytes = takePixels(pixels.get(), static_cast<std::size_t>(pixelBytes(header)));
        if (!bytes)
            return MS::kInsufficientMemory;
        // Within the limits, each side fits.
        image = RgbaImage { static_cast<unsigned int>(header.width), static_cast<unsigned int>(header.height),
            std::move(bytes) };
        return MS::kSuccess;
    }
    // Done before any header: the file was refused without pixels.
    const MStatus status = toStatus(message.status);
    return message.kind == ChildMessage::kDone && !status ? status : MS::kFailure;
}

MStatus encodeWithOpenImageIO(const RgbaImage& image, const char* format, int descriptor)
{
    if (!image.bytes)
        return MS::kFailure;
    const PictileOiioModule* module = oiioModule();
    if (!module) {
        noteMissingOpenImageIO();
        return MS::kFailure;
    }
    return toStatus(module->encode(image.bytes.get(), image.width, image.height, format, descriptor));
}

}  // namespace host
