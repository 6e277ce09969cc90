#include "OiioModule.h"

#include "DecoderChannel.h"
#include "HostModule.h"
#include "Mapping.h"
#include "OpeningSizes.h"
#include "oiio/OiioModuleApi.h"

#include <host/FileDescriptor.h>
#include <host/ImageFaults.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace host {

namespace {

// Opens pictile_oiio.so from beside this library once, on first need, for the
// writes; null when it is missing, fails to load or is of another version. The
// module stays loaded for the life of the process.
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

// Waiting on the decoding service is counted in slices of this much at most:
// a process stopped meanwhile (Ctrl-Z) sees one long slice when it goes on, of
// which only this much counts.
constexpr std::chrono::milliseconds kWaitSlice { 100 };
// A decoding process is held to its CPU time itself (see pictile_decoder);
// the host waits for it this many times as long, and 10 s more, for a process
// that gets little of a busy machine. A process that uses no CPU and answers
// nothing (a lock held for ever) is refused then.
constexpr int kWaitPerCpuTime = 4;
constexpr std::chrono::milliseconds kWaitBeyondCpuTime { 10000 };
// The service opens the module before it answers: OpenImageIO's libraries,
// some of them slow to start under a sanitizer's allocator. Later it answers
// at once.
constexpr std::chrono::milliseconds kServiceStartTime { 120000 };
constexpr std::chrono::milliseconds kServiceAnswerTime { 10000 };
// A new decoding process is a fork of the small service, and says it is ready
// within this, or another takes its place, up to kStartAttempts times: a lock
// another thread of the service held at the fork would hold it up for ever.
constexpr std::chrono::milliseconds kDecoderStartTime { 1000 };
constexpr int kStartAttempts = 3;
// A decoding process serves at most this many reads before a fresh one takes
// over, so that whatever a decoder leaves behind stays bounded.
constexpr int kReadsPerDecoder = 256;

// Whether the process at the other end of `channel` has gone.
bool hasHungUp(int channel)
{
    pollfd state { channel, 0, 0 };
    return ::poll(&state, 1, 0) != 0 && (state.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::chrono::milliseconds waitFor(std::chrono::milliseconds cpuTime)
{
    return cpuTime * kWaitPerCpuTime + kWaitBeyondCpuTime;
}

// Waits until `channel` has a message, for `allowed` of the time this process
// runs; false when the time has passed or the other end has gone with nothing
// to read.
bool awaitMessage(int channel, std::chrono::milliseconds allowed)
{
    using Clock = std::chrono::steady_clock;
    std::chrono::milliseconds waited { 0 };
    while (waited < allowed) {
        const auto slice = std::min(kWaitSlice, allowed - waited);
        pollfd wait { channel, POLLIN, 0 };
        const Clock::time_point before = Clock::now();
        const int ready = ::poll(&wait, 1, static_cast<int>(slice.count()));
        if (ready > 0)
            return (wait.revents & POLLIN) != 0;
        if (ready < 0 && errno != EINTR)
            return false;
        waited
            += std::min(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before), slice);
    }
    return false;
}

// The size a decoder reports, checked as any reader's header is: kSuccess or
// the status of the refusal. It may not claim more than the header the host
// read itself.
MStatus checkReportedSize(const DecodeMessage& header, std::uint64_t fileBytes, std::uint64_t openingPixels)
{
    if (header.width > UINT32_MAX || header.height > UINT32_MAX || header.depth == 0
        || header.depth > UINT32_MAX)
        return MS::kInvalidParameter;
    const MStatus size = checkImageSize(header.width, header.height, fileBytes, kOtherPixelsPerByte);
    if (size && header.width * header.height * header.depth > kMaxImagePixels)
        return MS::kInvalidParameter;
    if (size && openingPixels != 0 && header.width * header.height > openingPixels)
        return MS::kFailure;
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

// The host's end of its decoding service: the pictile_decoder program,
// started once and apart from the host (posix_spawn: its cost does not grow
// with the host), and one decoding process of the service's at a time, asked
// for on first need and replaced after any read that did not end cleanly (its
// decoder's state is then suspect) or after kReadsPerDecoder reads.
class DecodingService {
public:
    DecodingService() = default;
    DecodingService(const DecodingService&) = delete;
    DecodingService& operator=(const DecodingService&) = delete;
    ~DecodingService()
    {
        endDecoder();
        endService();
    }

    /// The channel to a decoding process, started if need be; -1 when none can
    /// be, with `missingModule` set when the module is not installed.
    int decoder(bool& missingModule)
    {
        missingModule = false;
        if (decoderPid_ > 0 && reads_ < kReadsPerDecoder && !hasHungUp(decoderChannel_.get()))
            return decoderChannel_.get();
        endDecoder();
        for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
            if (!serviceRunning() && !startService(missingModule))
                return -1;
            if (startDecoder())
                return decoderChannel_.get();
            endDecoder();
        }
        return -1;
    }

    void counted() { ++reads_; }

    /// Has the service end the decoding process; the next read gets a new one.
    void endDecoder()
    {
        decoderChannel_.reset();
        if (decoderPid_ > 0 && serviceChannel_.get() >= 0) {
            ServiceRequest request;
            request.kind = ServiceRequest::kEndDecoder;
            request.pid = decoderPid_;
            sendMessage(serviceChannel_.get(), &request, sizeof request);
        }
        decoderPid_ = -1;
    }

    DecodingProcesses processes() const { return { decodersStarted_, decoderPid_ > 0 ? decoderPid_ : 0 }; }

private:
    // Asks the service for a decoding process and waits for it to say it is
    // ready; false when it does not, or the service has gone (which is then ended).
    bool startDecoder()
    {
        ServiceRequest request;
        request.kind = ServiceRequest::kStartDecoder;
        ServiceMessage started;
        int channel = -1;
        if (!sendMessage(serviceChannel_.get(), &request, sizeof request)
            || !awaitMessage(serviceChannel_.get(), kServiceAnswerTime)
            || !receiveMessage(serviceChannel_.get(), &started, sizeof started, &channel, 1)
            || started.kind != ServiceMessage::kDecoder || started.pid <= 0 || channel < 0) {
            if (channel >= 0)
                ::close(channel);
            endService();
            return false;
        }
        decoderChannel_.reset(channel);
        decoderPid_ = started.pid;
        reads_ = 0;
        ++decodersStarted_;
        DecodeMessage ready;
        return awaitMessage(channel, kDecoderStartTime) && receiveMessage(channel, &ready, sizeof ready)
            && ready.kind == DecodeMessage::kReady;
    }

    bool serviceRunning()
    {
        int status = 0;
        if (servicePid_ > 0 && ::waitpid(servicePid_, &status, WNOHANG) != 0)
            servicePid_ = -1;  // reaped: the id may be another process's soon
        return servicePid_ > 0;
    }

    bool startService(bool& missingModule)
    {
        endService();
        const std::string program = hostModulePath("pictile_decoder");
        int ends[2];
        if (::access(program.c_str(), X_OK) != 0
            || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
            missingModule = true;
            return false;
        }
        FileDescriptor ours(ends[0]);
        FileDescriptor theirs(ends[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const int standard : { STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO })
            posix_spawn_file_actions_addopen(&actions, standard, "/dev/null", O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, theirs.get(), kDecoderServiceChannel);
        // Whatever this thread blocks or ignores, the service starts with every
        // signal as the system has it: its decoders' CPU time ends them with
        // SIGPROF.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        char* const arguments[] = { const_cast<char*>(program.c_str()), nullptr };
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, arguments, environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0)
            return false;
        servicePid_ = pid;
        serviceChannel_.reset(ours.release());
        ServiceMessage ready;
        if (!awaitMessage(serviceChannel_.get(), kServiceStartTime)
            || !receiveMessage(serviceChannel_.get(), &ready, sizeof ready)
            || ready.kind != ServiceMessage::kReady || ready.status != 1) {
            missingModule = ready.kind == ServiceMessage::kReady;
            endService();
            return false;
        }
        return true;
    }

    void endService()
    {
        // Its decoding processes go with it.
        serviceChannel_.reset();
        decoderChannel_.reset();
        decoderPid_ = -1;
        if (servicePid_ > 0) {
            ::kill(servicePid_, SIGKILL);
            int status = 0;
            ::waitpid(servicePid_, &status, 0);
        }
        servicePid_ = -1;
    }

    pid_t servicePid_ = -1;
    FileDescriptor serviceChannel_;
    pid_t decoderPid_ = -1;
    FileDescriptor decoderChannel_;
    int reads_ = 0;
    int decodersStarted_ = 0;
};

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

// How one read through a decoding process ended for the process: `clean` when
// it may serve the next read.
struct DecodeEnd {
    MStatus status = MS::kFailure;
    bool clean = false;
};

// One read through the decoding process on `channel`.
DecodeEnd decodeThrough(
    int channel, const ImageSource& source, ImageFormat format, std::uint64_t openingPixels, RgbaImage& image)
{
    FileDescriptor pixels(::memfd_create("pictile-pixels", MFD_CLOEXEC));
    DecodeRequest request;
    request.format = static_cast<std::int32_t>(format);
    request.size = source.size();
    request.openingPixels = openingPixels;
    const std::string& path = source.path();
    const std::size_t keep = std::min(path.size(), sizeof request.path - 1);
    std::memcpy(request.path, path.data() + path.size() - keep, keep);
    if (pixels.get() < 0
        || !sendMessage(channel, &request, sizeof request, source.descriptor(), pixels.get()))
        return {};

    DecodeMessage message;
    if (!awaitMessage(channel, waitFor(readTimeFor(openingPixels)))
        || !receiveMessage(channel, &message, sizeof message))
        return {};
    if (message.kind != DecodeMessage::kHeader) {
        // Done before any header: the file was refused without pixels, cleanly
        // when no reader had run.
        if (message.kind != DecodeMessage::kDone || message.status == kPictileOiioSuccess)
            return {};
        return { toStatus(message.status), message.status == kPictileOiioNoReader };
    }
    const DecodeMessage header = message;
    MStatus size = checkReportedSize(header, source.size(), openingPixels);
    const std::uint64_t pixelBytes = header.width * header.height * 4;
    if (size && ::ftruncate(pixels.get(), static_cast<off_t>(pixelBytes)) != 0)
        size = MS::kInsufficientMemory;
    const std::int32_t reply = toModuleStatus(size);
    if (!sendMessage(channel, &reply, sizeof reply)
        || !awaitMessage(channel, waitFor(readTimeFor(header.width * header.height)))
        || !receiveMessage(channel, &message, sizeof message) || message.kind != DecodeMessage::kDone)
        return {};
    const MStatus status = toStatus(message.status);
    if (!size || !status)
        return { size ? status : size, false };
    PixelBytes bytes = takePixels(pixels.get(), static_cast<std::size_t>(pixelBytes));
    if (!bytes)
        return { MS::kInsufficientMemory, true };
    // Within the limits, each side fits.
    image = RgbaImage { static_cast<unsigned int>(header.width), static_cast<unsigned int>(header.height),
        std::move(bytes) };
    return { MS::kSuccess, true };
}

// Reads take turns: there is one decoding process.
std::mutex serviceTurn;

DecodingService& decodingService()
{
    static DecodingService service;
    return service;
}

}  // namespace

MStatus readWithOpenImageIO(const ImageSource& source, ImageFormat format, RgbaImage& image)
{
    if (source.size() == 0 || source.size() > SIZE_MAX)
        return MS::kFailure;
    // A file the host cannot place goes to a reader only by its extension;
    // without one no reader knows its content, with the module or without.
    if (format == ImageFormat::Unknown && !extensionHasReader(source.path()))
        return MS::kFailure;
    // Readers that decode the whole image while they open the file get the
    // size from the host, which reads it from the header first.
    std::uint64_t openingPixels = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (readOpeningSize(source, format, width, height)) {
        const MStatus size = checkImageSize(width, height, source.size(), kOtherPixelsPerByte);
        if (!size)
            return size;
        openingPixels = width * height;
    }

    // The decoders run in processes of their own: a crash, a runaway loop or an
    // allocation storm there ends only that process, and the file is refused.
    // The pixels come back through an unnamed shared file the host sizes from
    // the header the decoder reports.
    const std::lock_guard<std::mutex> lock(serviceTurn);
    DecodingService& service = decodingService();
    bool missingModule = false;
    const int channel = service.decoder(missingModule);
    if (channel < 0) {
        if (missingModule)
            noteMissingOpenImageIO();
        return MS::kFailure;
    }
    const DecodeEnd end = decodeThrough(channel, source, format, openingPixels, image);
    service.counted();
    // A decoder that failed may have left its process in any state; one that
    // found no reader has run none.
    if (!end.clean)
        service.endDecoder();
    return end.status;
}

DecodingProcesses decodingProcesses()
{
    const std::lock_guard<std::mutex> lock(serviceTurn);
    return decodingService().processes();
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
