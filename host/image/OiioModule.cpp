#include "OiioModule.h"

#include "HostModule.h"
#include "oiio/OiioModuleApi.h"

#include <host/FileDescriptor.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
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

// What the host asks of the decoding process, sent with two descriptors: the
// file's and an empty memfd for its pixels.
struct DecodeRequest {
    std::int32_t format = 0;
    std::uint64_t size = 0;
    char path[4000] = {};  ///< the end of the path, for its extension
};

// What the decoding process tells the host: once, that it is ready (kReady);
// then for each read the size the file's header claims (kHeader) and how the
// decode ended (kDone).
struct ChildMessage {
    enum Kind : std::uint32_t { kHeader = 1, kDone = 2, kReady = 3 };
    std::uint32_t kind = 0;
    std::int32_t status = kPictileOiioFailure;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t depth = 0;
};

// A header takes a decoder far less than this even on a loaded machine; a
// decoder that has not told its size by then is stuck.
constexpr std::chrono::milliseconds kHeaderTime { 1500 };
// A new decoding process says it is ready within this, or another takes its
// place: a lock another thread of the host held at the fork (a sanitizer's
// allocator takes no care of fork) would hold it up for ever.
constexpr std::chrono::milliseconds kStartTime { 1000 };
constexpr int kStartAttempts = 3;
// The decode gets this much plus kTimePerMegapixel; tens of milliseconds a
// megapixel is ample for any of these decoders, even under the sanitizers.
// A decoder's own buffers beside the pixels it hands over: OpenImageIO converts
// in bands of 16 MiB, and some readers (Targa, GIF, ICO, PSD) hold the whole
// image in its stored form, up to 16 bytes a pixel.
constexpr std::uint64_t kChildWorkBytes = std::uint64_t(256) << 20;
constexpr std::uint64_t kStoredBytesPerPixel = 16;
// A decoding process serves at most this many reads before a fresh one takes
// over, so that whatever a decoder leaves behind stays bounded.
constexpr int kReadsPerDecoder = 256;

std::uint64_t pixelBytes(const ChildMessage& header)
{
    return header.width * header.height * 4;
}

// The process's private writable memory now (VmData, with the stack), in bytes:
// its memory limit is set above this, because a sanitizer build has already
// reserved terabytes of it.
std::uint64_t dataBytesInUse()
{
    FileDescriptor statm(::open("/proc/self/statm", O_RDONLY | O_CLOEXEC));
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

void limitData(std::uint64_t base, std::uint64_t allowed)
{
    rlimit limit {};
    ::getrlimit(RLIMIT_DATA, &limit);
    const rlim_t wanted = static_cast<rlim_t>(base + allowed);
    if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max)
        return;
    limit.rlim_cur = wanted;
    ::setrlimit(RLIMIT_DATA, &limit);
}

// Limits the process's CPU time to what it has used so far plus `time`.
void limitCpu(std::chrono::milliseconds time)
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const rlim_t seconds
        = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + 2 + time.count() / 1000);
    rlimit limit {};
    ::getrlimit(RLIMIT_CPU, &limit);
    limit.rlim_cur = limit.rlim_max != RLIM_INFINITY ? std::min(seconds, limit.rlim_max) : seconds;
    ::setrlimit(RLIMIT_CPU, &limit);
}

std::chrono::milliseconds decodeTime(std::uint64_t pixels)
{
    return readTimeFor(pixels);
}

// The decoding process's end of one read: where the module puts the pixels.
struct ChildSink {
    int channel;
    int pixels;
    std::uint64_t dataBase;
    unsigned char* mapped = nullptr;
    std::size_t mappedSize = 0;

    ChildSink(int channel, int pixels, std::uint64_t dataBase)
        : channel(channel)
        , pixels(pixels)
        , dataBase(dataBase)
    {
    }
    ChildSink(const ChildSink&) = delete;
    ChildSink& operator=(const ChildSink&) = delete;
    ~ChildSink()
    {
        if (mapped)
            ::munmap(mapped, mappedSize);
    }

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
        if (sink.mapped
            || ::send(sink.channel, &header, sizeof header, MSG_NOSIGNAL)
                != static_cast<ssize_t>(sizeof header)
            || ::recv(sink.channel, &reply, sizeof reply, 0) != static_cast<ssize_t>(sizeof reply)
            || reply != kPictileOiioSuccess) {
            *status = reply;
            return nullptr;
        }
        // The host has sized the shared pixels; the decoder's own buffers may now
        // grow with the image.
        const std::uint64_t pixels = std::uint64_t(width) * height;
        limitData(sink.dataBase, kChildWorkBytes + pixels * kStoredBytesPerPixel);
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

// Takes the next request and its two descriptors; false when the host has gone.
bool receiveRequest(int channel, DecodeRequest& request, FileDescriptor& file, FileDescriptor& pixels)
{
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
    iovec part { &request, sizeof request };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = 0;
    do
        got = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    const cmsghdr* header = got > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (!header || header->cmsg_type != SCM_RIGHTS || header->cmsg_len != CMSG_LEN(2 * sizeof(int)))
        return false;
    int descriptors[2];
    std::memcpy(descriptors, CMSG_DATA(header), sizeof descriptors);
    file.reset(descriptors[0]);
    pixels.reset(descriptors[1]);
    request.path[sizeof request.path - 1] = '\0';
    return got == static_cast<ssize_t>(sizeof request);
}

// The decoding process, forked from the host: decodes one file after another
// into the shared pixels the host provides and tells it how each went. Only
// _exit leaves it: no atexit handler, stream flush or leak check of the host's
// runs twice.
[[noreturn]] void serveDecodes(const PictileOiioModule& module, int channel, pid_t host)
{
    // Gone with the host; no core file for a decoder's crash; nothing of a
    // decoder's complaints reaches the host's output.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != host)
        ::_exit(1);
    rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    // A fault ends the process at once: a sanitizer's report of it would only
    // take time to write where nobody reads it.
    for (const int fault : { SIGSEGV, SIGBUS, SIGFPE, SIGILL })
        ::signal(fault, SIG_DFL);
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0) {
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
    }
    // The hard limit leaves room for the largest image the host allows.
    const std::uint64_t start = dataBytesInUse();
    rlimit data { static_cast<rlim_t>(start + kChildWorkBytes),
        static_cast<rlim_t>(
            start + kChildWorkBytes + (kMaxImagePixels + kMaxImagePixels) * kStoredBytesPerPixel) };
    ::setrlimit(RLIMIT_DATA, &data);

    // An allocation of every size class first: one whose lock a thread of the
    // host held at the fork hangs here, where the host notices and starts
    // another process, rather than in a read.
    for (std::size_t size = 8; size <= (std::size_t(1) << 24); size *= 2)
        std::free(std::malloc(size));
    ChildMessage ready;
    ready.kind = ChildMessage::kReady;
    if (::send(channel, &ready, sizeof ready, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof ready))
        ::_exit(0);
    for (;;) {
        DecodeRequest request;
        FileDescriptor file;
        FileDescriptor pixels;
        if (!receiveRequest(channel, request, file, pixels))
            ::_exit(0);
        // Until the header is known the decoder gets its working room alone.
        ChildSink sink(channel, pixels.get(), dataBytesInUse());
        limitData(sink.dataBase, kChildWorkBytes);
        limitCpu(kHeaderTime);
        ChildMessage done;
        done.kind = ChildMessage::kDone;
        // The file's bytes are mapped, never copied: a file cut short meanwhile
        // ends this process with SIGBUS, which is that file's refusal.
        const std::size_t size = static_cast<std::size_t>(request.size);
        const Mapping bytes(file.get(), size, PROT_READ, MAP_PRIVATE);
        if (bytes.bytes()) {
            PictileOiioPixels target { &sink, &ChildSink::allocate };
            done.status = module.read(bytes.bytes(), size,
                readerName(static_cast<ImageFormat>(request.format)), request.path, &target);
            if (done.status == kPictileOiioSuccess && !sink.mapped)
                done.status = kPictileOiioFailure;
        }
        if (::send(channel, &done, sizeof done, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof done))
            ::_exit(0);
    }
}

// The host's end of its decoding process: one at a time, started on first
// need, and replaced after any read that did not end in success (its decoder's
// state is then suspect) or after kReadsPerDecoder reads.
class Decoder {
public:
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() { stop(); }

    /// The channel to a running decoding process, started if need be; -1 when
    /// none can be started.
    int channel(const PictileOiioModule& module)
    {
        if (pid_ > 0) {
            int status = 0;
            if (reads_ < kReadsPerDecoder && ::waitpid(pid_, &status, WNOHANG) == 0)
                return channel_.get();
            stop();
        }
        for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
            if (start(module))
                return channel_.get();
            stop();
        }
        return -1;
    }

    void counted() { ++reads_; }

    /// Forks a decoding process and waits for it to say it is ready.
    bool start(const PictileOiioModule& module)
    {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            return false;
        FileDescriptor ours(ends[0]);
        FileDescriptor theirs(ends[1]);
        const pid_t host = ::getpid();
        const pid_t pid = ::fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            ours.reset();
            serveDecodes(module, theirs.get(), host);
        }
        pid_ = pid;
        reads_ = 0;
        channel_.reset(ours.release());
        pollfd wait { channel_.get(), POLLIN, 0 };
        int ready = 0;
        do
            ready = ::poll(&wait, 1, static_cast<int>(kStartTime.count()));
        while (ready < 0 && errno == EINTR);
        ChildMessage message;
        return ready == 1
            && ::recv(channel_.get(), &message, sizeof message, 0) == static_cast<ssize_t>(sizeof message)
            && message.kind == ChildMessage::kReady;
    }

    /// Ends the decoding process, leaving it to be reaped once it has gone: its
    /// exit unmaps a copy of the host's address space, which the host need not
    /// wait for.
    void stop()
    {
        channel_.reset();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            unreaped_.push_back(pid_);
        }
        pid_ = -1;
        unreaped_.erase(std::remove_if(unreaped_.begin(), unreaped_.end(),
                            [](pid_t pid) {
                                int status = 0;
                                const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
                                return reaped == pid || (reaped < 0 && errno == ECHILD);
                            }),
            unreaped_.end());
    }

private:
    pid_t pid_ = -1;
    int reads_ = 0;
    FileDescriptor channel_;
    std::vector<pid_t> unreaped_;
};

bool sendRequest(int channel, const DecodeRequest& request, int file, int pixels)
{
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part { const_cast<DecodeRequest*>(&request), sizeof request };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(2 * sizeof(int));
    const int descriptors[2] = { file, pixels };
    std::memcpy(CMSG_DATA(header), descriptors, sizeof descriptors);
    ssize_t sent = 0;
    do
        sent = ::sendmsg(channel, &message, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof request);
}

// Waits up to `deadline` for the decoder's next message; false on a timeout,
// an ended decoder or a malformed message.
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
        return got == static_cast<ssize_t>(sizeof message);
    }
}

// The size a decoder reports, checked as any reader's header is: kSuccess or
// the status of the refusal.
MStatus checkReportedSize(const ChildMessage& header, std::uint64_t fileBytes)
{
    if (header.width > UINT32_MAX || header.height > UINT32_MAX || header.depth == 0
        || header.depth > UINT32_MAX)
        return MS::kInvalidParameter;
    const MStatus size = checkImageSize(header.width, header.height, fileBytes, kOtherPixelsPerByte);
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

// One read through the decoding process; `finished` is set when it ended in a
// way that leaves the process fit for the next read.
MStatus decodeThrough(
    int channel, const ImageSource& source, ImageFormat format, RgbaImage& image, bool& finished)
{
    finished = false;
    FileDescriptor pixels(::memfd_create("pictile-pixels", MFD_CLOEXEC));
    DecodeRequest request;
    request.format = static_cast<std::int32_t>(format);
    request.size = source.size();
    const std::string& path = source.path();
    const std::size_t keep = std::min(path.size(), sizeof request.path - 1);
    std::memcpy(request.path, path.data() + path.size() - keep, keep);
    if (pixels.get() < 0 || !sendRequest(channel, request, source.descriptor(), pixels.get()))
        return MS::kFailure;

    ChildMessage message;
    if (!receive(channel, std::chrono::steady_clock::now() + kHeaderTime, message))
        return MS::kFailure;
    if (message.kind != ChildMessage::kHeader) {
        // Done before any header: the file was refused without pixels.
        finished = message.kind == ChildMessage::kDone;
        const MStatus status = toStatus(message.status);
        return finished && !status ? status : MS::kFailure;
    }
    const ChildMessage header = message;
    MStatus size = checkReportedSize(header, source.size());
    if (size && ::ftruncate(pixels.get(), static_cast<off_t>(pixelBytes(header))) != 0)
        size = MS::kInsufficientMemory;
    const std::int32_t reply = toModuleStatus(size);
    if (::send(channel, &reply, sizeof reply, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof reply))
        return MS::kFailure;
    const auto deadline = std::chrono::steady_clock::now() + decodeTime(header.width * header.height);
    if (!receive(channel, deadline, message) || message.kind != ChildMessage::kDone)
        return MS::kFailure;
    finished = true;
    const MStatus status = toStatus(message.status);
    if (!size || !status)
        return size ? status : size;
    PixelBytes bytes = takePixels(pixels.get(), static_cast<std::size_t>(pixelBytes(header)));
    if (!bytes)
        return MS::kInsufficientMemory;
    // Within the limits, each side fits.
    image = RgbaImage { static_cast<unsigned int>(header.width), static_cast<unsigned int>(header.height),
        std::move(bytes) };
    return MS::kSuccess;
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

    // The decoders run in a process of their own, forked from the host once the
    // module is loaded: a crash, a runaway loop or an allocation storm there
    // ends only that process, and the file is refused. The pixels come back
    // through an unnamed shared file the host sizes from the header the decoder
    // reports. Reads take turns: there is one decoding process.
    static std::mutex turn;
    static Decoder decoder;
    const std::lock_guard<std::mutex> lock(turn);
    const int channel = decoder.channel(*module);
    if (channel < 0)
        return MS::kFailure;
    bool finished = false;
    const MStatus status = decodeThrough(channel, source, format, image, finished);
    decoder.counted();
    // A decoder that failed may have left its process in any state.
    if (!finished || !status)
        decoder.stop();
    return status;
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
