// pictile_decoder: the host's decoding service. The host starts it once, on the
// first read that needs OpenImageIO, and it opens the module there. For each
// decoding process the host asks for it forks one of its own: a small process,
// whatever the host has grown to, with the module already open. A decoding
// process decodes one file after another into the shared pixels the host
// provides, within limits on its memory and CPU time, and a crash, a limit or a
// runaway loop there ends only that process.
#include "../DecoderChannel.h"
#include "../ImageFormat.h"
#include "../Mapping.h"
#include "../RgbaImage.h"
#include "OiioModuleApi.h"

#include <host/FileDescriptor.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace host {

namespace {

// A decoder's own buffers beside the pixels it hands over: OpenImageIO converts
// in bands of 16 MiB, and some readers (Targa, GIF, ICO, PSD, and those that
// decode while opening) hold the whole image in its stored form, up to 16
// bytes a pixel.
constexpr std::uint64_t kWorkBytes = std::uint64_t(256) << 20;
constexpr std::uint64_t kStoredBytesPerPixel = 16;

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

// From now on the process may use `time` of CPU, then SIGPROF ends it. CPU time,
// so that time the process spends stopped (Ctrl-Z) or waiting for a busy
// machine does not count.
void limitCpu(std::chrono::milliseconds time)
{
    itimerval timer {};
    timer.it_value.tv_sec = static_cast<time_t>(time.count() / 1000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(time.count() % 1000 * 1000);
    ::setitimer(ITIMER_PROF, &timer, nullptr);
}

// The decoding process's end of one read: where the module puts the pixels.
struct Sink {
    int channel;
    int pixels;
    std::uint64_t dataBase;
    std::uint64_t openingPixels;
    unsigned char* mapped = nullptr;
    std::size_t mappedSize = 0;

    Sink(int channel, int pixels, std::uint64_t dataBase, std::uint64_t openingPixels)
        : channel(channel)
        , pixels(pixels)
        , dataBase(dataBase)
        , openingPixels(openingPixels)
    {
    }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;
    ~Sink()
    {
        if (mapped)
            ::munmap(mapped, mappedSize);
    }

    static unsigned char* allocate(void* context, unsigned long long width, unsigned long long height,
        unsigned long long depth, int* status)
    {
        Sink& sink = *static_cast<Sink*>(context);
        DecodeMessage header;
        header.kind = DecodeMessage::kHeader;
        header.width = width;
        header.height = height;
        header.depth = depth;
        std::int32_t reply = kPictileOiioFailure;
        if (sink.mapped || !sendMessage(sink.channel, &header, sizeof header)
            || !receiveMessage(sink.channel, &reply, sizeof reply) || reply != kPictileOiioSuccess) {
            *status = reply;
            return nullptr;
        }
        // The host has sized the shared pixels; the decoder's own buffers may now
        // grow with the image.
        const std::uint64_t pixels = std::uint64_t(width) * height;
        limitData(sink.dataBase, kWorkBytes + std::max(pixels, sink.openingPixels) * kStoredBytesPerPixel);
        limitCpu(readTimeFor(pixels));
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

// OpenImageIO's name for the reader of each format the host tells apart; null
// where the module chooses.
const char* readerName(std::int32_t format)
{
    switch (static_cast<ImageFormat>(format)) {
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
    case ImageFormat::Jpeg2000:
        return "jpeg2000";
    case ImageFormat::Heif:
        return "heif";
    default:
        return nullptr;
    }
}

// A decoding process: decodes one file after another and tells the host how
// each went. Only _exit leaves it: no atexit handler, stream flush or leak
// check runs twice.
[[noreturn]] void serveDecodes(const PictileOiioModule& module, int channel, pid_t service)
{
    // Gone with the service, which goes with the host.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != service)
        ::_exit(1);
    // The hard limit leaves room for the largest image the host allows.
    const std::uint64_t start = dataBytesInUse();
    rlimit data { static_cast<rlim_t>(start + kWorkBytes),
        static_cast<rlim_t>(start + kWorkBytes + 2 * kMaxImagePixels * kStoredBytesPerPixel) };
    ::setrlimit(RLIMIT_DATA, &data);
    // An allocation of every size class first: one whose lock another thread of
    // the service held at the fork (some of the module's libraries start
    // threads, and a sanitizer's allocator takes no care of fork) hangs here,
    // where the host notices and asks for another process, rather than in a read.
    for (std::size_t size = 8; size <= (std::size_t(1) << 24); size *= 2)
        std::free(std::malloc(size));
    DecodeMessage ready;
    ready.kind = DecodeMessage::kReady;
    if (!sendMessage(channel, &ready, sizeof ready))
        ::_exit(0);
    for (;;) {
        DecodeRequest request;
        int descriptors[2];
        if (!receiveMessage(channel, &request, sizeof request, descriptors, 2))
            ::_exit(0);
        const FileDescriptor file(descriptors[0]);
        const FileDescriptor pixels(descriptors[1]);
        request.path[sizeof request.path - 1] = '\0';
        DecodeMessage done;
        done.kind = DecodeMessage::kDone;
        done.status = kPictileOiioFailure;
        if (file.get() >= 0 && pixels.get() >= 0) {
            // Until the header is known the decoder gets its working room and the
            // time of a header alone, unless the host has found the size already.
            Sink sink(channel, pixels.get(), dataBytesInUse(), request.openingPixels);
            limitData(sink.dataBase, kWorkBytes + request.openingPixels * kStoredBytesPerPixel);
            limitCpu(readTimeFor(request.openingPixels));
            // The file's bytes are mapped, never copied: a file cut short meanwhile
            // ends this process with SIGBUS, which is that file's refusal.
            const std::size_t size = static_cast<std::size_t>(request.size);
            const Mapping bytes(file.get(), size, PROT_READ, MAP_PRIVATE);
            if (bytes.bytes()) {
                PictileOiioPixels target { &sink, &Sink::allocate };
                done.status
                    = module.read(bytes.bytes(), size, readerName(request.format), request.path, &target);
                if (done.status == kPictileOiioSuccess && !sink.mapped)
                    done.status = kPictileOiioFailure;
            }
            limitCpu(std::chrono::milliseconds(0));
        }
        if (!sendMessage(channel, &done, sizeof done))
            ::_exit(0);
    }
}

// Forks a decoding process and hands the host its channel; the process's id,
// or -1.
pid_t startDecoder(const PictileOiioModule& module, int host)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    FileDescriptor ours(ends[0]);
    FileDescriptor theirs(ends[1]);
    const pid_t service = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ours.reset();
        ::close(host);
        serveDecodes(module, theirs.get(), service);
    }
    ServiceMessage started;
    started.kind = ServiceMessage::kDecoder;
    started.pid = pid;
    sendMessage(host, &started, sizeof started, pid > 0 ? ours.get() : -1);
    return pid;
}

// Reaps the decoding processes that have ended, so that a process id on the
// list is never one the system has given to another process.
void reapEnded(std::vector<pid_t>& decoders)
{
    decoders.erase(std::remove_if(decoders.begin(), decoders.end(),
                       [](pid_t pid) {
                           int status = 0;
                           const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
                           return reaped == pid || (reaped < 0 && errno == ECHILD);
                       }),
        decoders.end());
}

// Serves the host's requests until it goes; then ends every decoding process.
void serveHost(const PictileOiioModule& module, int host)
{
    std::vector<pid_t> decoders;
    for (;;) {
        ServiceRequest request;
        const bool received = receiveMessage(host, &request, sizeof request);
        reapEnded(decoders);
        if (!received)
            break;
        if (request.kind == ServiceRequest::kStartDecoder) {
            const pid_t pid = startDecoder(module, host);
            if (pid > 0)
                decoders.push_back(pid);
        } else if (request.kind == ServiceRequest::kEndDecoder
            && std::find(decoders.begin(), decoders.end(), request.pid) != decoders.end()) {
            // Reaped once it has gone, by a later request: its exit may unmap
            // gigabytes of pixels, which the host need not wait for.
            ::kill(request.pid, SIGKILL);
        }
    }
    for (const pid_t pid : decoders)
        ::kill(pid, SIGKILL);
}

// Opens the module beside this program; null when it is missing or of another
// version.
const PictileOiioModule* openModule()
{
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return nullptr;
    std::string path(self, static_cast<std::size_t>(length));
    path = path.substr(0, path.find_last_of('/') + 1) + "pictile_oiio.so";
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto entry
        = library ? reinterpret_cast<PictileOiioEntry>(::dlsym(library, PICTILE_OIIO_ENTRY)) : nullptr;
    const PictileOiioModule* module = entry ? entry() : nullptr;
    return module && module->version == PICTILE_OIIO_MODULE_VERSION ? module : nullptr;
}

}  // namespace

}  // namespace host

int main()
{
    using namespace host;
    const int host = kDecoderServiceChannel;
    if (::fcntl(host, F_GETFD) < 0)
        return 2;
    ::fcntl(host, F_SETFD, FD_CLOEXEC);
    // No core file for a decoder's crash. Ctrl-C is the host's to handle: it
    // ends a decoding process through this service when it must.
    rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(SIGINT, SIG_IGN);
    // A fault ends a decoding process at once: a sanitizer's report of it would
    // only take time to write where nobody reads it.
    for (const int fault : { SIGSEGV, SIGBUS, SIGFPE, SIGILL })
        ::signal(fault, SIG_DFL);
    const PictileOiioModule* module = openModule();
    ServiceMessage ready;
    ready.kind = ServiceMessage::kReady;
    ready.status = module ? 1 : 0;
    if (!sendMessage(host, &ready, sizeof ready) || !module)
        ::_exit(0);
    serveHost(*module, host);
    ::_exit(0);
}
