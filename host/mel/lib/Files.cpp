// Built-ins on files and folders. Files are opened without blocking and kept
// only when they are regular files: a FIFO or a device would wait or never end.
#include "Support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

namespace mel {

namespace {

namespace fs = std::filesystem;

/// A file opened by fopen; closed when its id is, or with the session.
struct OpenFile {
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file;
    std::string path;
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
    OpenFiles& state = call.store().get<OpenFiles>();
    const int id = state.nextFile++;
    state.files[id] = OpenFile { std::unique_ptr<std::FILE, OpenFile::Closer>(file), path };
    call.give(id);
}

void fclose(Call& call)
{
    fileAt(call, 0);
    call.store().get<OpenFiles>().files.erase(call.integer(0));
}

void writeBytes(Call& call, OpenFile& open, const char* bytes, std::size_t size)
{
    if (std::fwrite(bytes, 1, size, open.file.get()) != size || std::fflush(open.file.get()) != 0)
        call.fail(call.name() + ": cannot write '" + open.path + "': " + std::strerror(errno));
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
std::string readUntil(Call& call, std::FILE* file, int last)
{
    std::string text;
    int c;
    while ((c = std::getc(file)) != EOF) {
        text += static_cast<char>(c);
        if (c == last)
            break;
        if ((text.size() & 0xffff) == 0)
            call.checkText(text.size());
    }
    call.checkText(text.size());
    return text;
}

// The next line with its line end; "" at the end of the file.
void fgetline(Call& call)
{
    call.give(readUntil(call, fileAt(call, 0).file.get(), '\n'));
}

// The next word between separators (white space unless given); "" at the end.
void fgetword(Call& call)
{
    std::FILE* file = fileAt(call, 0).file.get();
    const std::string separators = call.count() == 2 ? call.text(1) : std::string(" \t\n\r");
    const auto separates
        = [&separators](int c) { return separators.find(static_cast<char>(c)) != std::string::npos; };
    int c;
    while ((c = std::getc(file)) != EOF && separates(c)) { }
    std::string word;
    for (; c != EOF && !separates(c); c = std::getc(file)) {
        word += static_cast<char>(c);
        if ((word.size() & 0xffff) == 0)
            call.checkText(word.size());
    }
    call.give(std::move(word));
}

// 1 once a read has met the end of the file, as in C: the host's idiom reads
// a word, then loops while !feof, so the last word before a line end is used.
void feof(Call& call)
{
    call.give(std::feof(fileAt(call, 0).file.get()) != 0 ? 1 : 0);
}

// fread(id, $like): the next value of $like's type, as fwrite writes it; a
// string reads up to a null byte or the end, so that it takes a text file whole.
void fread(Call& call)
{
    std::FILE* file = fileAt(call, 0).file.get();
    const Value like = call.value(1);
    switch (like.type()) {
    case Type::String: {
        std::string text = readUntil(call, file, '\0');
        if (!text.empty() && text.back() == '\0')
            text.pop_back();
        call.give(std::move(text));
        return;
    }
    case Type::Int: {
        int number = 0;
        call.give(std::fread(&number, sizeof number, 1, file) == 1 ? number : 0);
        return;
    }
    case Type::Float: {
        float number = 0;
        call.give(std::fread(&number, sizeof number, 1, file) == 1 ? double(number) : 0.0);
        return;
    }
    default:
        failType(call, "a string, an int or a float", like.type());
    }
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
    std::error_code error;
    for (fs::directory_iterator entry(folder.empty() ? "." : folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (globMatch(pattern, name)) {
            names.push_back(std::move(name));
            call.checkSize(names.size());
        }
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

bool copyFile(const std::string& from, const std::string& to)
{
    std::error_code error;
    return fs::is_regular_file(from, error)
        && fs::copy_file(from, to, fs::copy_options::overwrite_existing, error) && !error;
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
        done = copyFile(path, call.text(1));
        break;
    }
    call.give(done ? 1 : 0);
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
    };
}

}  // namespace mel
