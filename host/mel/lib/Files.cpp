// Built-ins on files, pipes, folders and paths. Files are opened without
// blocking and kept only when they are regular files: a FIFO or a device would
// wait or never end. A pipe to or from a command (popen) shares their ids and
// their reading and writing, which wait for the command in a way Ctrl-C ends.
#include "Shell.h"
#include "Support.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <system_error>

namespace mel {

namespace {

namespace fs = std::filesystem;

/// A file opened by fopen, or a pipe by popen; closed when its id is, or with
/// the session.
struct OpenFile {
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    // Declared first so that it goes last, once its pipe is closed.
    std::unique_ptr<ShellCommand> shell;  ///< A pipe's command; null for a file.
    std::unique_ptr<std::FILE, Closer> file;  ///< A pipe is written through its descriptor.
    std::string path;  ///< A pipe's command.
    bool ended = false;  ///< A pipe read to its end, or whose shell has gone.
};

/// The files a session has open, by file id, from 1.
struct OpenFiles {
    std::map<int, OpenFile> files;
    int nextFile = 1;
};

OpenFile& fileAt(Call& call, std::size_t i)
{
    const int id = call.integer(i);
    std::map<int, OpenFile>& files = call.store().get<OpenFiles>().files;
    const auto found = files.find(id);
    if (found == files.end())
        call.fail(call.name() + ": file id " + std::to_string(id) + " is not open");
    return found->second;
}

// Keeps `open` for the session and gives the call its id.
void giveId(Call& call, OpenFile open)
{
    OpenFiles& state = call.store().get<OpenFiles>();
    const int id = state.nextFile++;
    state.files[id] = std::move(open);
    call.give(id);
}

// fopen(path[, mode]): "r", "w" (the default) or "a", each also with "+" or "b";
// the file's id, or 0 when it cannot be opened or is no regular file.
void fopen(Call& call)
{
    const std::string path = call.text(0);
    const std::string mode = call.count() == 2 ? call.text(1) : std::string("w");
    std::string base = mode;
    base.erase(std::remove(base.begin(), base.end(), 'b'), base.end());
    if (base.empty() || base.size() > 2 || std::strchr("rwa", base[0]) == nullptr
        || (base.size() == 2 && base[1] != '+'))
        call.fail("fopen: unknown mode '" + mode + "' (use r, w or a)");
    const bool both = base.size() == 2;
    int flags = O_NONBLOCK | O_CLOEXEC | (both ? O_RDWR : base[0] == 'r' ? O_RDONLY : O_WRONLY);
    if (base[0] == 'w')
        flags |= O_CREAT | O_TRUNC;
    if (base[0] == 'a')
        flags |= O_CREAT | O_APPEND;
    const int descriptor = ::open(path.c_str(), flags, 0666);
    if (descriptor < 0) {
        call.give(0);
        return;
    }
    struct stat status;
    std::FILE* file = nullptr;
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)
        && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0)
        file = ::fdopen(descriptor, mode.c_str());
    if (file == nullptr) {
        ::close(descriptor);
        call.give(0);
        return;
    }
    giveId(call, OpenFile { nullptr, std::unique_ptr<std::FILE, OpenFile::Closer>(file), path, false });
}

// Takes the file or pipe argument `i` names out of the session's table.
OpenFile takeFile(Call& call, std::size_t i)
{
    OpenFile& open = fileAt(call, i);
    OpenFile taken = std::move(open);
    call.store().get<OpenFiles>().files.erase(call.integer(i));
    return taken;
}

// Closes a pipe's end and waits for its command: a command reading from it
// sees the end of its input. The command's exit status.
int closePipe(Call& call, OpenFile& pipe)
{
    pipe.file.reset();
    return pipe.shell->waitForExit(call);
}

void fclose(Call& call)
{
    OpenFile open = takeFile(call, 0);
    if (open.shell)
        closePipe(call, open);
}

// popen(command, "r" or "w"): the command's output to read, or its input to
// write, with the file built-ins; 0 when it cannot be started.
void popen(Call& call)
{
    const std::string command = call.text(0);
    const std::string mode = call.text(1);
    if (mode != "r" && mode != "w")
        call.fail("popen: unknown mode '" + mode + "' (use r or w)");
    auto shell = std::make_unique<ShellCommand>();
    std::string error;
    host::FileDescriptor pipe = shell->start(command,
        mode == "r" ? ShellCommand::Direction::FromCommand : ShellCommand::Direction::ToCommand, error);
    std::FILE* file = pipe.get() >= 0 ? ::fdopen(pipe.get(), mode.c_str()) : nullptr;
    if (file == nullptr) {
        call.give(0);
        return;
    }
    pipe.release();
    giveId(call,
        OpenFile { std::move(shell), std::unique_ptr<std::FILE, OpenFile::Closer>(file), command, false });
}

// pclose(id): closes a pipe and gives its command's exit status (0 when it
// succeeded), once it has ended.
void pclose(Call& call)
{
    if (!fileAt(call, 0).shell)
        call.fail("pclose: file id " + std::to_string(call.integer(0)) + " is not a pipe (use fclose)");
    OpenFile pipe = takeFile(call, 0);
    call.give(closePipe(call, pipe));
}

// write, with SIGPIPE held back: a command that is gone makes the write fail
// (EPIPE) rather than end the host.
ssize_t writeQuietly(int descriptor, const char* bytes, std::size_t size)
{
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    sigset_t pending;
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t written = ::write(descriptor, bytes, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec none {};
        ::sigtimedwait(&pipeSignal, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
}

void writeToPipe(Call& call, OpenFile& pipe, const char* bytes, std::size_t size)
{
    const int descriptor = ::fileno(pipe.file.get());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = writeQuietly(descriptor, bytes + done, size - done);
        if (written > 0) {
            done += std::size_t(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            call.fail(call.name() + ": cannot write to '" + pipe.path + "': " + std::strerror(errno));
        if (!pipe.shell->waitForPipe(call, descriptor, POLLOUT))
            call.fail(call.name() + ": cannot write to '" + pipe.path + "': the command has ended");
    }
}

void writeBytes(Call& call, OpenFile& open, const char* bytes, std::size_t size)
{
    if (open.shell) {
        writeToPipe(call, open, bytes, size);
        return;
    }
    if (std::fwrite(bytes, 1, size, open.file.get()) != size || std::fflush(open.file.get()) != 0)
        call.fail(call.name() + ": cannot write '" + open.path + "': " + std::strerror(errno));
}

// The next byte of a file or pipe, or EOF at its end: a pipe with nothing in
// it yet is waited for, in a way Ctrl-C ends.
int nextByte(Call& call, OpenFile& open)
{
    std::FILE* file = open.file.get();
    while (true) {
        const int c = std::getc(file);
        if (c != EOF || !open.shell || open.ended || std::feof(file) != 0)
            return c;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return EOF;
        std::clearerr(file);
        if (!open.shell->waitForPipe(call, ::fileno(file), POLLIN)) {
            open.ended = true;
            return EOF;
        }
    }
}

// What a long read looks at every 64 KiB: the string bound, the memory and Ctrl-C.
void checkReading(Call& call, std::size_t size)
{
    if ((size & 0xffff) == 0) {
        call.checkText(size);
        call.checkInterrupt();
    }
}

void fprint(Call& call)
{
    OpenFile& open = fileAt(call, 0);
    const std::string text = call.text(1);
    writeBytes(call, open, text.data(), text.size());
}

// Binary: a string with its terminating null, an int in 4 bytes, a float in 4.
void fwrite(Call& call)
{
    OpenFile& open = fileAt(call, 0);
    const Value value = call.value(1);
    switch (value.type()) {
    case Type::String: {
        const std::string& text = std::get<std::string>(value);
        writeBytes(call, open, text.c_str(), text.size() + 1);
        return;
    }
    case Type::Int: {
        const int number = std::get<int>(value);
        writeBytes(call, open, reinterpret_cast<const char*>(&number), sizeof number);
        return;
    }
    case Type::Float: {
        const float number = static_cast<float>(std::get<double>(value));
        writeBytes(call, open, reinterpret_cast<const char*>(&number), sizeof number);
        return;
    }
    default:
        failType(call, "a string, an int or a float", value.type());
    }
}

// Reads bytes up to and including `last`, or to the end of the file.
std::string readUntil(Call& call, OpenFile& open, int last)
{
    std::string text;
    int c;
    while ((c = nextByte(call, open)) != EOF) {
        text += static_cast<char>(c);
        if (c == last)
            break;
        checkReading(call, text.size());
    }
    call.checkText(text.size());
    return text;
}

// The next line with its line end; "" at the end of the file.
void fgetline(Call& call)
{
    call.give(readUntil(call, fileAt(call, 0), '\n'));
}

// The next word between separators (white space unless given); "" at the end.
void fgetword(Call& call)
{
    OpenFile& open = fileAt(call, 0);
    const std::string separators = call.count() == 2 ? call.text(1) : std::string(" \t\n\r");
    const auto separates
        = [&separators](int c) { return separators.find(static_cast<char>(c)) != std::string::npos; };
    int c;
    std::size_t skipped = 0;
    while ((c = nextByte(call, open)) != EOF && separates(c))
        checkReading(call, ++skipped);
    std::string word;
    for (; c != EOF && !separates(c); c = nextByte(call, open)) {
        word += static_cast<char>(c);
        checkReading(call, word.size());
    }
    call.give(std::move(word));
}

// 1 once a read has met the end of the file, as in C: the host's idiom reads
// a word, then loops while !feof, so the last word before a line end is used.
void feof(Call& call)
{
    const OpenFile& open = fileAt(call, 0);
    call.give(std::feof(open.file.get()) != 0 || open.ended ? 1 : 0);
}

// Reads the bytes of one number; false at the end of the file.
bool readNumber(Call& call, OpenFile& open, void* number, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(number);
    for (std::size_t i = 0; i < size; ++i) {
        const int c = nextByte(call, open);
        if (c == EOF)
            return false;
        bytes[i] = static_cast<unsigned char>(c);
    }
    return true;
}

// fread(id, $like): the next value of $like's type, as fwrite writes it; a
// string reads up to a null byte or the end, so that it takes a text file whole.
void fread(Call& call)
{
    OpenFile& open = fileAt(call, 0);
    const Value like = call.value(1);
    switch (like.type()) {
    case Type::String: {
        std::string text = readUntil(call, open, '\0');
        if (!text.empty() && text.back() == '\0')
            text.pop_back();
        call.give(std::move(text));
        return;
    }
    case Type::Int: {
        int number = 0;
        call.give(readNumber(call, open, &number, sizeof number) ? number : 0);
        return;
    }
    case Type::Float: {
        float number = 0;
        call.give(readNumber(call, open, &number, sizeof number) ? double(number) : 0.0);
        return;
    }
    default:
        failType(call, "a string, an int or a float", like.type());
    }
}

// Writes out what is buffered for the file: 0, or -1 when that failed (the
// writes of fprint and fwrite are written out at once already).
void fflush(Call& call)
{
    OpenFile& open = fileAt(call, 0);
    call.give(open.shell || std::fflush(open.file.get()) == 0 ? 0 : -1);
}

// Back to the start of a file, to read it again.
void frewind(Call& call)
{
    OpenFile& open = fileAt(call, 0);
    if (open.shell)
        call.fail("frewind: file id " + std::to_string(call.integer(0)) + " is a pipe");
    std::rewind(open.file.get());
}

// getFileList [-folder DIR] [-filespec PATTERN]: the names in DIR that match
// PATTERN (a shell pattern, which may hold a folder itself), sorted; . and .. left out.
void getFileList(Call& call)
{
    enum { Folder, FileSpec };
    static const std::vector<FlagSpec> table = {
        { "-folder", "-fld", 1 },
        { "-filespec", "-fs", 1 },
    };
    const Flags flags = readFlags(call, table);
    if (!flags.positional.empty())
        call.fail("getFileList: unknown flag '" + flags.text(call, flags.positional[0]) + "'");
    std::string folder;
    std::string pattern = "*";
    for (const Flags::Given& flag : flags.given)
        (flag.row == Folder ? folder : pattern) = flags.text(call, flag.first);
    const std::size_t slash = pattern.rfind('/');
    if (slash != std::string::npos) {
        folder += pattern.substr(0, slash + 1);
        pattern.erase(0, slash + 1);
    }
    std::vector<std::string> names;
    std::size_t looked = 0;
    std::error_code error;
    for (fs::directory_iterator entry(folder.empty() ? "." : folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (globMatch(pattern, name)) {
            names.push_back(std::move(name));
            call.checkSize(names.size());
        }
        if ((++looked & 0x3ff) == 0)
            call.checkInterrupt();
    }
    std::sort(names.begin(), names.end());
    call.give(std::move(names));
}

// filetest -FLAG PATH: 1 when the test holds, 0 otherwise or for an unknown flag.
void filetest(Call& call)
{
    enum {
        Exists,
        Regular,
        Folder,
        NotEmpty,
        Readable,
        Writable,
        Runnable,
        Fifo,
        Character,
        Block,
        Socket,
        SetUser,
        SetGroup,
        Sticky,
        Link,
        LinkH,
        LinkL
    };
    static const std::vector<FlagSpec> flags = {
        { "-e", "-e" },
        { "-f", "-f" },
        { "-d", "-d" },
        { "-s", "-s" },
        { "-r", "-r" },
        { "-w", "-w" },
        { "-x", "-x" },
        { "-p", "-p" },
        { "-c", "-c" },
        { "-b", "-b" },
        { "-z", "-z" },
        { "-u", "-u" },
        { "-g", "-g" },
        { "-k", "-k" },
        { "-l", "-l" },
        { "-h", "-h" },
        { "-L", "-L" },
    };
    const std::size_t test = findFlag(flags, call.text(0));
    const std::string path = call.text(1);
    struct stat status;
    const bool link = test >= Link && test < flags.size();
    if (test == flags.size()
        || (link ? ::lstat(path.c_str(), &status) : ::stat(path.c_str(), &status)) != 0) {
        call.give(0);
        return;
    }
    const mode_t mode = status.st_mode;
    bool holds = false;
    switch (test) {
    case Exists:
        holds = true;
        break;
    case Regular:
        holds = S_ISREG(mode);
        break;
    case Folder:
        holds = S_ISDIR(mode);
        break;
    case NotEmpty:
        holds = status.st_size > 0;
        break;
    case Readable:
    case Writable:
    case Runnable:
        holds = ::access(path.c_str(), test == Readable ? R_OK : test == Writable ? W_OK : X_OK) == 0;
        break;
    case Fifo:
        holds = S_ISFIFO(mode);
        break;
    case Character:
        holds = S_ISCHR(mode);
        break;
    case Block:
        holds = S_ISBLK(mode);
        break;
    case Socket:
        holds = S_ISSOCK(mode);
        break;
    case SetUser:
        holds = (mode & S_ISUID) != 0;
        break;
    case SetGroup:
        holds = (mode & S_ISGID) != 0;
        break;
    case Sticky:
        holds = (mode & S_ISVTX) != 0;
        break;
    default:
        holds = S_ISLNK(mode);
        break;
    }
    call.give(holds ? 1 : 0);
}

// Copies a regular file over `to`, with its permission bits, in pieces that
// Ctrl-C can end between; never onto itself.
bool copyFile(Call& call, const std::string& from, const std::string& to)
{
    const host::FileDescriptor source(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat sourceStatus;
    if (source.get() < 0 || ::fstat(source.get(), &sourceStatus) != 0 || !S_ISREG(sourceStatus.st_mode))
        return false;
    const host::FileDescriptor target(::open(to.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    struct stat targetStatus;
    if (target.get() < 0 || ::fstat(target.get(), &targetStatus) != 0 || !S_ISREG(targetStatus.st_mode)
        || (targetStatus.st_dev == sourceStatus.st_dev && targetStatus.st_ino == sourceStatus.st_ino)
        || ::ftruncate(target.get(), 0) != 0)
        return false;
    constexpr std::size_t kPiece = std::size_t { 64 } << 20;
    while (true) {
        call.checkInterrupt();
        const ssize_t copied = ::sendfile(target.get(), source.get(), nullptr, kPiece);
        if (copied == 0)
            break;
        if (copied < 0 && errno != EINTR)
            return false;
    }
    return ::fchmod(target.get(), sourceStatus.st_mode & 07777) == 0;
}

// sysFile -makeDir PATH (with every folder above it), -delete FILE,
// -removeEmptyDir DIR, -rename NEW OLD, -move NEW OLD, -copy NEW OLD: 1 when done.
void sysFile(Call& call)
{
    enum { MakeDir, Delete, RemoveEmptyDir, Rename, Move, Copy };
    static const std::vector<FlagSpec> flags = {
        { "-makeDir", "-md" },
        { "-delete", "-del" },
        { "-removeEmptyDir", "-red" },
        { "-rename", "-ren", 1 },
        { "-move", "-mov", 1 },
        { "-copy", "-cp", 1 },
    };
    const std::string flag = call.text(0);
    const std::size_t row = findFlag(flags, flag);
    if (row == flags.size())
        call.fail("sysFile: unknown flag '" + flag + "'");
    const bool takesName = flags[row].values == 1;
    if (call.count() != (takesName ? 3u : 2u))
        call.fail("sysFile " + flag + " takes " + (takesName ? "a new name and a path" : "a path"));
    const std::string path = call.text(call.count() - 1);
    std::error_code error;
    bool done = false;
    switch (row) {
    case MakeDir:
        fs::create_directories(path, error);
        done = !error && fs::is_directory(path, error);
        break;
    case Delete:
        done = !fs::is_directory(path, error) && ::unlink(path.c_str()) == 0;
        break;
    case RemoveEmptyDir:
        done = ::rmdir(path.c_str()) == 0;
        break;
    case Rename:
    case Move:
        done = std::rename(path.c_str(), call.text(1).c_str()) == 0;
        break;
    default:
        done = copyFile(call, path, call.text(1));
        break;
    }
    call.give(done ? 1 : 0);
}

// chdir(path): 0 once the working folder is `path`, -1 when it cannot be. Relative
// paths, the plug-ins' own fixed folders among them, follow it.
void chdir(Call& call)
{
    call.give(::chdir(call.text(0).c_str()) == 0 ? 0 : -1);
}

// The path without the slashes it ends with, as basename and dirname take it
// first; "/" stays itself.
std::string_view withoutTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

std::string_view lastName(std::string_view path)
{
    path = withoutTrailingSlashes(path);
    if (path == "/")
        return std::string_view();
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// basename(path, suffix): the last name of the path, without `suffix` when it
// ends with it. A name that is the suffix alone stays whole, as the shell's
// basename keeps it: the reference shows only longer names.
void basename(Call& call)
{
    const std::string path = call.text(0);
    const std::string suffix = call.text(1);
    std::string_view name = lastName(path);
    if (!suffix.empty() && name.size() > suffix.size()
        && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        name.remove_suffix(suffix.size());
    call.give(std::string(name));
}

// The extension of the last name of a path: what follows its last '.', "" for
// none. A name that starts with its only dot (".profile") is a hidden file's
// whole name and has none; the host's own examples show only plain names.
std::string_view extensionOf(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::string_view();
    return name.substr(dot + 1);
}

void fileExtension(Call& call)
{
    const std::string path = call.text(0);
    call.give(std::string(extensionOf(path)));
}

// basenameEx(path): the last name of the path without its folder or extension.
void basenameEx(Call& call)
{
    const std::string path = call.text(0);
    std::string_view name = lastName(path);
    const std::string_view extension = extensionOf(name);
    if (!extension.empty())
        name.remove_suffix(extension.size() + 1);
    call.give(std::string(name));
}

// dirname(path): the path without its last name. The reference shows only
// paths with folders; one without gives "", and one in the root "/", as
// Python's os.path.dirname gives them, so that dirname($p) + "/" + $name
// never turns a relative name absolute by accident.
void dirname(Call& call)
{
    const std::string path = call.text(0);
    const std::string_view trimmed = withoutTrailingSlashes(path);
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) {
        call.give(std::string());
        return;
    }
    call.give(
        std::string(slash == 0 ? std::string_view("/") : withoutTrailingSlashes(trimmed.substr(0, slash))));
}

}  // namespace

std::vector<Builtin> fileBuiltins()
{
    return {
        { "getFileList", 0, 4, getFileList },
        { "filetest", 2, 2, filetest },
        { "sysFile", 2, 3, sysFile },
        { "fopen", 1, 2, fopen },
        { "fclose", 1, 1, fclose },
        { "fprint", 2, 2, fprint },
        { "fwrite", 2, 2, fwrite },
        { "fgetline", 1, 1, fgetline },
        { "fgetword", 1, 2, fgetword },
        { "fread", 2, 2, fread },
        { "feof", 1, 1, feof },
        { "fflush", 1, 1, fflush },
        { "frewind", 1, 1, frewind },
        { "popen", 2, 2, popen },
        { "pclose", 1, 1, pclose },
        { "chdir", 1, 1, chdir },
        { "basename", 2, 2, basename },
        { "basenameEx", 1, 1, basenameEx },
        { "dirname", 1, 1, dirname },
        { "fileExtension", 1, 1, fileExtension },
    };
}

}  // namespace mel
