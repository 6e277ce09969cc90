// Built-ins on the process and the system around it: shell commands, the
// environment, the working folder and what the host is.
#include "Shell.h"
#include "Support.h"

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <host/ScriptEditor.h>

#include <maya/MTypes.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>
#include <vector>

namespace mel {

namespace {

// What progressWindow shows, until its -endProgress.
struct Progress {
    bool shown = false;  // a progress line is on the terminal
    int value = 0;
    int min = 0;
    int max = 100;
    std::string title;
    std::string status;
};

// system(command): runs the command in the shell, with no standard input (a
// script read from it must not lose its text), and gives what it printed once
// the shell has exited: a command it started in the background and that still
// holds the output does not hold the statement.
void system(Call& call)
{
    const std::string command = call.text(0);
    ShellCommand shell;
    std::string error;
    const host::FileDescriptor pipe = shell.start(command, ShellCommand::Direction::FromCommand, error);
    if (pipe.get() < 0)
        call.fail("system: cannot run the command: " + error);
    std::string output;
    char chunk[65536];
    while (shell.waitForPipe(call, pipe.get(), POLLIN)) {
        const ssize_t count = ::read(pipe.get(), chunk, sizeof chunk);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            break;
        output.append(chunk, std::size_t(count));
        try {
            call.checkText(output.size());
        } catch (...) {
            // A command that prints without end is stopped, not waited for.
            shell.kill();
            throw;
        }
    }
    shell.waitForExit(call);
    call.give(std::move(output));
}

void getenv(Call& call)
{
    const char* value = std::getenv(call.text(0).c_str());
    call.give(std::string(value != nullptr ? value : ""));
}

void putenv(Call& call)
{
    const std::string name = call.text(0);
    if (name.empty() || name.find('=') != std::string::npos)
        call.fail("putenv: '" + name + "' is not a variable name");
    ::setenv(name.c_str(), call.text(1).c_str(), 1);
}

void pwd(Call& call)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    if (error)
        call.fail("pwd: " + error.message());
    call.give(folder.string());
}

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// A number argument of a flag: an int, a float, or a string's leading number.
double numberOf(Call& call, const Flags& flags, std::size_t i)
{
    const Value& value = flags.arguments[i];
    switch (value.type()) {
    case Type::Int:
        return std::get<int>(value);
    case Type::Float:
        return std::get<double>(value);
    case Type::String:
        return leadingNumber(std::get<std::string>(value));
    default:
        failType(call, "a number", value.type());
    }
}

// Fails when a call that takes flags alone was given anything else.
void refusePositional(Call& call, const Flags& flags)
{
    if (!flags.positional.empty())
        call.fail(call.name() + ": unknown flag '" + flags.text(call, flags.positional[0]) + "'");
}

std::string localTime(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm parts {};
    ::localtime_r(&now, &parts);
    char text[64];
    return std::strftime(text, sizeof text, format, &parts) > 0 ? std::string(text) : std::string();
}

int versionPart(std::size_t part)
{
    const std::string version = PICTILE_VERSION;
    std::size_t start = 0;
    for (std::size_t i = 0; i < part && start != std::string::npos; ++i) {
        start = version.find('.', start);
        start = start == std::string::npos ? start : start + 1;
    }
    return start == std::string::npos ? 0 : std::atoi(version.c_str() + start);
}

// about -FLAG: what the host is. hostbatch is a batch host of its own on
// 64-bit Linux with no windows; the flags of a scene, a licence or a user
// interface it has nothing for are not among these, and fail as unknown.
void about(Call& call)
{
    enum {
        ApiVersion,
        Application,
        Batch,
        Codeset,
        CurrentDate,
        CurrentTime,
        Ctime,
        EvalVersion,
        Irix,
        Is64,
        Linux,
        Linux64,
        LtVersion,
        MacOS,
        MacOSppc,
        MacOSx86,
        MajorVersion,
        MinorVersion,
        NtOS,
        OperatingSystem,
        OperatingSystemVersion,
        PatchVersion,
        Preferences,
        Product,
        Tablet,
        UiLanguage,
        UiLanguageIsLocalized,
        UiLocaleLanguage,
        Version,
        Win64,
        Windows
    };
    static const std::vector<FlagSpec> table = {
        { "-apiVersion", "-api" },
        { "-application", "-a" },
        { "-batch", "-b" },
        { "-codeset", "-cs" },
        { "-currentDate", "-cd" },
        { "-currentTime", "-ct" },
        { "-ctime", "-cti" },
        { "-evalVersion", "-ev" },
        { "-irix", "-ir" },
        { "-is64", "-x64" },
        { "-linux", "-li" },
        { "-linux64", "-l64" },
        { "-ltVersion", "-lt" },
        { "-macOS", "-mac" },
        { "-macOSppc", "-ppc" },
        { "-macOSx86", "-x86" },
        { "-majorVersion", "-mjv" },
        { "-minorVersion", "-mnv" },
        { "-ntOS", "-nt" },
        { "-operatingSystem", "-os" },
        { "-operatingSystemVersion", "-osv" },
        { "-patchVersion", "-pv" },
        { "-preferences", "-pd" },
        { "-product", "-p" },
        { "-tablet", "-tab" },
        { "-uiLanguage", "-uil" },
        { "-uiLanguageIsLocalized", "-uii" },
        { "-uiLocaleLanguage", "-ull" },
        { "-version", "-v" },
        { "-win64", "-w" },
        { "-windows", "-win" },
    };
    const std::string product = "hostbatch (pictile) " PICTILE_VERSION;
    if (call.count() == 0) {
        call.give(product);
        return;
    }
    const std::string flag = call.text(0);
    const std::size_t row = findFlag(table, flag);
    switch (row) {
    case ApiVersion:
        call.give(MAYA_API_VERSION);
        return;
    case Application:
        call.give(std::string("hostbatch"));
        return;
    case Batch:
    case Is64:
    case Linux:
    case Linux64:
        call.give(1);
        return;
    case EvalVersion:
    case Irix:
    case LtVersion:
    case MacOS:
    case MacOSppc:
    case MacOSx86:
    case NtOS:
    case Tablet:
    case UiLanguageIsLocalized:
    case Win64:
    case Windows:
        call.give(0);
        return;
    case Codeset: {
        const char* codeset = ::nl_langinfo(CODESET);
        call.give(std::string(codeset != nullptr ? codeset : ""));
        return;
    }
    case CurrentDate:
        call.give(localTime("%Y/%m/%d"));
        return;
    case CurrentTime:
        call.give(localTime("%H:%M:%S"));
        return;
    case Ctime:
        call.give(localTime("%a %b %d %H:%M:%S %Y"));
        return;
    case MajorVersion:
    case MinorVersion:
    case PatchVersion:
        call.give(versionPart(row - MajorVersion));
        return;
    case OperatingSystem:
        call.give(std::string("linux64"));
        return;
    case OperatingSystemVersion: {
        utsname system {};
        call.give(::uname(&system) == 0 ? std::string(system.sysname) + " " + system.release : std::string());
        return;
    }
    case Preferences: {
        const char* home = std::getenv("HOME");
        call.give(withSlash(home != nullptr ? home : "") + "maya/prefs/");
        return;
    }
    case Product:
        call.give(product);
        return;
    case UiLanguage:
    case UiLocaleLanguage:
        call.give(std::string("en_US"));
        return;
    case Version:
        call.give(std::string(PICTILE_VERSION));
        return;
    default:
        call.fail("about: unknown flag '" + flag + "'");
    }
}

// timerX [-startTime T]: seconds on a clock of the process's own, or the
// seconds since T on it.
void timerX(Call& call)
{
    static const std::vector<FlagSpec> table = { { "-startTime", "-st", 1 } };
    static const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
    const Flags flags = readFlags(call, table);
    refusePositional(call, flags);
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
    const Flags::Given* start = flags.find(0);
    call.give(start != nullptr ? now - numberOf(call, flags, start->first) : now);
}

// The local time in `format`, its keywords YYYY, YY, MM, DD, hh, mm and ss
// each replaced by its number, the longest first; the rest as it is.
std::string dateText(const std::string& format)
{
    const std::time_t now = std::time(nullptr);
    std::tm parts {};
    ::localtime_r(&now, &parts);
    const struct {
        const char* keyword;
        int value;
        int digits;
    } keywords[] = {
        { "YYYY", parts.tm_year + 1900, 4 },
        { "YY", (parts.tm_year + 1900) % 100, 2 },
        { "MM", parts.tm_mon + 1, 2 },
        { "DD", parts.tm_mday, 2 },
        { "hh", parts.tm_hour, 2 },
        { "mm", parts.tm_min, 2 },
        { "ss", parts.tm_sec, 2 },
    };
    std::string text;
    for (std::size_t i = 0; i < format.size();) {
        bool replaced = false;
        for (const auto& keyword : keywords) {
            const std::size_t length = std::strlen(keyword.keyword);
            if (format.compare(i, length, keyword.keyword) == 0) {
                char number[16];
                std::snprintf(number, sizeof number, "%0*d", keyword.digits, keyword.value);
                text += number;
                i += length;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            text += format[i++];
    }
    return text;
}

// date [-date | -shortDate] [-time | -shortTime] [-format F]: the local date
// and time, "YYYY/MM/DD hh:mm:ss" without flags.
void date(Call& call)
{
    enum { Date, Time, ShortDate, ShortTime, Format };
    static const std::vector<FlagSpec> table = {
        { "-date", "-d" },
        { "-time", "-t" },
        { "-shortDate", "-sd" },
        { "-shortTime", "-st" },
        { "-format", "-f", 1 },
    };
    const Flags flags = readFlags(call, table);
    refusePositional(call, flags);
    if (const Flags::Given* format = flags.find(Format)) {
        call.give(dateText(flags.text(call, format->first)));
        return;
    }
    const char* datePart = flags.find(Date) ? "YYYY/MM/DD" : flags.find(ShortDate) ? "MM/DD" : "";
    const char* timePart = flags.find(Time) ? "hh:mm:ss" : flags.find(ShortTime) ? "hh:mm" : "";
    if (*datePart == '\0' && *timePart == '\0') {
        call.give(dateText("YYYY/MM/DD hh:mm:ss"));
        return;
    }
    const char* between = *datePart != '\0' && *timePart != '\0' ? " " : "";
    call.give(dateText(std::string(datePart) + between + timePart));
}

// quit [-exitCode N] [-force] [-abort] (and exit, the same): ends the run at
// once, the statement that calls it a success. hostbatch then exits with N,
// modulo 256 as the system takes it, or as it would have without it when no
// code is given; -force and -abort change nothing, as nothing is left unsaved.
void quit(Call& call)
{
    enum { ExitCode, Force, Abort };
    static const std::vector<FlagSpec> table = {
        { "-exitCode", "-ec", 1 },
        { "-force", "-f" },
        { "-abort", "-a" },
    };
    const Flags flags = readFlags(call, table);
    refusePositional(call, flags);
    const Flags::Given* code = flags.find(ExitCode);
    call.endRun(code != nullptr ? std::optional<int>(flags.integer(call, code->first)) : std::nullopt);
}

// internalVar -userTmpDir and the user's folders, each ending with '/'.
void internalVar(Call& call)
{
    enum { TmpDir, AppDir, ScriptDir, PrefDir, WorkspaceDir };
    static const std::vector<FlagSpec> flags = {
        { "-userTmpDir", "-utd" },
        { "-userAppDir", "-uad" },
        { "-userScriptDir", "-usd" },
        { "-userPrefDir", "-upd" },
        { "-userWorkspaceDir", "-uwd" },
    };
    const std::string flag = call.text(0);
    const char* home = std::getenv("HOME");
    const std::string user = withSlash(home != nullptr ? home : "") + "maya/";
    switch (findFlag(flags, flag)) {
    case TmpDir: {
        const char* temporary = std::getenv("TMPDIR");
        call.give(withSlash(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp"));
        return;
    }
    case AppDir:
        call.give(user);
        return;
    case ScriptDir:
        call.give(user + "scripts/");
        return;
    case PrefDir:
        call.give(user + "prefs/");
        return;
    case WorkspaceDir:
        call.give(user + "projects/");
        return;
    default:
        call.fail("internalVar: unknown flag '" + flag + "'");
    }
}

// optionVar's variables: kept in the file of the user's folder, loaded on
// first use. A change is written at once, through a lock, onto the file as
// it is by then (another session's changes meanwhile stay), into a new file
// renamed over the old, so that a crash leaves one or the other whole.
struct OptionVars {
    bool loaded = false;
    bool saving = false;  ///< False without a home folder, or when the file could not be read.
    std::string path;
    std::map<std::string, Value> values;
};

// One change an optionVar call makes, kept to be made again onto the file.
struct OptionChange {
    enum Kind { Set, Append, Remove, ClearArray, RemoveFromArray } kind;
    std::string name;
    Value value;  ///< Set, Append: the value; RemoveFromArray: the index.
};

constexpr std::size_t kMostOptionBytes = std::size_t { 64 } << 20;

std::string escapedOption(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool unescapedOption(std::string_view text, std::string& plain)
{
    plain.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            plain += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        const char c = text[i];
        if (c != '\\' && c != 't' && c != 'n' && c != 'r')
            return false;
        plain += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : '\\';
    }
    return true;
}

// Each variable a line: "iv", "fv" or "sv", a tab, the name, a tab, the value;
// an array one line per element, "iva", "fva" or "sva"; an empty array none.
std::string optionFileText(const std::map<std::string, Value>& values)
{
    std::string text = "# optionVar variables of hostbatch: KIND<tab>NAME<tab>VALUE\n";
    const auto line = [&text](const char* kind, const std::string& name, const std::string& value) {
        text += std::string(kind) + '\t' + escapedOption(name) + '\t' + escapedOption(value) + '\n';
    };
    const auto exact = [](double number) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.17g", number);
        return std::string(digits);
    };
    for (const auto& [name, value] : values) {
        switch (value.type()) {
        case Type::Int:
            line("iv", name, std::to_string(std::get<int>(value)));
            break;
        case Type::Float:
            line("fv", name, exact(std::get<double>(value)));
            break;
        case Type::String:
            line("sv", name, std::get<std::string>(value));
            break;
        case Type::IntArray:
            for (const int element : std::get<std::vector<int>>(value))
                line("iva", name, std::to_string(element));
            break;
        case Type::FloatArray:
            for (const double element : std::get<std::vector<double>>(value))
                line("fva", name, exact(element));
            break;
        case Type::StringArray:
            for (const std::string& element : std::get<std::vector<std::string>>(value))
                line("sva", name, element);
            break;
        default:
            break;  // optionVar holds no other type
        }
    }
    return text;
}

void applyOption(std::map<std::string, Value>& values, const OptionChange& change)
{
    switch (change.kind) {
    case OptionChange::Set:
        values[change.name] = change.value;
        return;
    case OptionChange::Append: {
        // A scalar of the element's type becomes the array's first element;
        // anything else is replaced.
        const Type arrayKind = arrayType(change.value.type());
        auto found = values.find(change.name);
        if (found == values.end()
            || (found->second.type() != arrayKind && found->second.type() != change.value.type()))
            found = values.insert_or_assign(change.name, Value::ofType(arrayKind)).first;
        if (!found->second.isArray()) {
            Value first = std::move(found->second);
            found->second = Value::ofType(arrayKind);
            found->second.append(std::move(first));
        }
        Value element = change.value;
        found->second.append(std::move(element));
        return;
    }
    case OptionChange::Remove:
        values.erase(change.name);
        return;
    case OptionChange::ClearArray: {
        const auto found = values.find(change.name);
        if (found != values.end() && found->second.isArray())
            found->second = Value::ofType(found->second.type());
        return;
    }
    case OptionChange::RemoveFromArray: {
        const auto found = values.find(change.name);
        const int index = std::get<int>(change.value);
        if (found == values.end() || !found->second.isArray() || index < 0
            || std::size_t(index) >= found->second.size())
            return;
        Value kept = Value::ofType(found->second.type());
        for (std::size_t i = 0; i < found->second.size(); ++i)
            if (i != std::size_t(index))
                kept.append(found->second.element(i));
        found->second = std::move(kept);
        return;
    }
    }
}

// Reads the file's variables; false when it cannot be read (a missing file has
// none). `skipped` counts the lines that could not be read.
bool readOptionFile(
    const std::string& path, std::map<std::string, Value>& values, std::size_t& skipped, std::string& error)
{
    values.clear();
    skipped = 0;
    const host::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        error = std::strerror(errno);
        return errno == ENOENT;
    }
    struct stat status;
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || std::size_t(status.st_size) > kMostOptionBytes) {
        error = "it is no regular file of at most 64 MiB";
        return false;
    }
    std::string text(std::size_t(status.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t count = ::read(file.get(), text.data() + got, text.size() - got);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        got += std::size_t(count);
    }
    text.resize(got);
    std::string name;
    std::string value;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t tab = line.find('\t');
        const std::size_t second = tab == std::string_view::npos ? tab : line.find('\t', tab + 1);
        const std::string_view kind = line.substr(0, tab);
        if (second == std::string_view::npos || !unescapedOption(line.substr(tab + 1, second - tab - 1), name)
            || !unescapedOption(line.substr(second + 1), value)) {
            ++skipped;
            continue;
        }
        const bool append = kind.size() == 3 && kind[2] == 'a';
        const std::string_view base = kind.substr(0, 2);
        if ((kind.size() != 2 && !append) || (base != "iv" && base != "fv" && base != "sv")) {
            ++skipped;
            continue;
        }
        Value parsed = base == "iv" ? Value(truncatedInt(leadingNumber(value)))
            : base == "fv"          ? Value(std::strtod(value.c_str(), nullptr))
                                    : Value(value);
        applyOption(values,
            OptionChange { append ? OptionChange::Append : OptionChange::Set, name, std::move(parsed) });
    }
    return true;
}

OptionVars& loadedOptions(Call& call)
{
    OptionVars& options = call.store().get<OptionVars>();
    if (options.loaded)
        return options;
    options.loaded = true;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0')
        return options;
    options.path = withSlash(home) + "maya/prefs/optionVars";
    std::size_t skipped = 0;
    std::string error;
    options.saving = readOptionFile(options.path, options.values, skipped, error);
    if (!options.saving)
        host::ScriptEditor::show(host::LineKind::Warning,
            "optionVar: cannot read '" + options.path + "': " + error + "; changes last this session only");
    else if (skipped != 0)
        host::ScriptEditor::show(host::LineKind::Warning,
            "optionVar: " + std::to_string(skipped) + " unreadable lines of '" + options.path
                + "' were left out");
    return options;
}

// Holds the lock file beside the variables' file, waiting for another session
// to let it go for up to two seconds, in a way Ctrl-C ends.
bool lockOptions(Call& call, const std::string& path, host::FileDescriptor& lock, std::string& error)
{
    lock.reset(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    if (lock.get() < 0) {
        error = std::strerror(errno);
        return false;
    }
    for (int waited = 0; waited < 2000; waited += 10) {
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = std::strerror(errno);
            return false;
        }
        call.checkInterrupt();
        ::poll(nullptr, 0, 10);
    }
    error = "another session holds its lock";
    return false;
}

// Writes `text` into a new file beside `path` and renames it over `path`,
// each step made durable before the next.
bool replaceOptionFile(const std::string& path, const std::string& text, std::string& error)
{
    std::string temporary = path + ".XXXXXX";
    host::FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat previous;
    const mode_t mode = ::stat(path.c_str(), &previous) == 0 ? previous.st_mode & 0777 : 0644;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(file.get(), text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        written += std::size_t(count);
    }
    if (written != text.size() || ::fchmod(file.get(), mode) != 0 || ::fsync(file.get()) != 0
        || ::close(file.release()) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const host::FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        ::fsync(directory.get());
    return true;
}

void saveOptions(Call& call, OptionVars& options, const std::vector<OptionChange>& changes)
{
    if (!options.saving || changes.empty())
        return;
    std::string error;
    std::error_code folderError;
    std::filesystem::create_directories(std::filesystem::path(options.path).parent_path(), folderError);
    host::FileDescriptor lock;
    std::map<std::string, Value> current;
    std::size_t skipped = 0;
    if (lockOptions(call, options.path, lock, error)
        && readOptionFile(options.path, current, skipped, error)) {
        for (const OptionChange& change : changes)
            applyOption(current, change);
        if (replaceOptionFile(options.path, optionFileText(current), error)) {
            options.values = std::move(current);
            return;
        }
    }
    host::ScriptEditor::show(host::LineKind::Warning,
        "optionVar: cannot save '" + options.path + "': " + error + "; the change lasts this session only");
}

// optionVar: variables that last from one run to the next. -intValue,
// -floatValue and -stringValue NAME VALUE set one; -intValueAppend,
// -floatValueAppend and -stringValueAppend NAME VALUE append to an array;
// -remove, -clearArray NAME and -removeFromArray NAME INDEX change them;
// -query NAME gives the value (0 for none), -exists NAME 1 or 0, -arraySize
// NAME the elements (1 for a scalar, 0 for none), -list the names, sorted. A
// call that asks anything changes nothing, as in the host.
void optionVar(Call& call)
{
    enum {
        IntValue,
        FloatValue,
        StringValue,
        IntAppend,
        FloatAppend,
        StringAppend,
        Remove,
        ClearArray,
        RemoveFromArray,
        Version,
        Query,
        Exists,
        ArraySize,
        List
    };
    static const std::vector<FlagSpec> table = {
        { "-intValue", "-iv", 2 },
        { "-floatValue", "-fv", 2 },
        { "-stringValue", "-sv", 2 },
        { "-intValueAppend", "-iva", 2 },
        { "-floatValueAppend", "-fva", 2 },
        { "-stringValueAppend", "-sva", 2 },
        { "-remove", "-rm", 1 },
        { "-clearArray", "-ca", 1 },
        { "-removeFromArray", "-rfa", 2 },
        { "-version", "-v", 1 },
        { "-query", "-q", 1 },
        { "-exists", "-ex", 1 },
        { "-arraySize", "-as", 1 },
        { "-list", "-l" },
    };
    const Flags flags = readFlags(call, table);
    refusePositional(call, flags);
    OptionVars& options = loadedOptions(call);
    // The rows from Query on ask; the first of them given answers.
    for (const Flags::Given& flag : flags.given) {
        if (flag.row < Query)
            continue;
        if (flag.row == List) {
            std::vector<std::string> names;
            for (const auto& entry : options.values)
                names.push_back(entry.first);
            call.give(std::move(names));
            return;
        }
        const auto found = options.values.find(flags.text(call, flag.first));
        const bool exists = found != options.values.end();
        if (flag.row == Query)
            call.give(exists ? found->second : Value(0));
        else if (flag.row == Exists)
            call.give(exists ? 1 : 0);
        else
            call.give(!exists                 ? 0
                    : found->second.isArray() ? int(std::min<std::size_t>(found->second.size(), INT_MAX))
                                              : 1);
        return;
    }
    std::vector<OptionChange> changes;
    for (const Flags::Given& flag : flags.given) {
        const std::string name = flag.row == Version ? std::string() : flags.text(call, flag.first);
        const std::size_t value = flag.first + 1;
        switch (flag.row) {
        case IntValue:
        case IntAppend:
            changes.push_back({ flag.row == IntValue ? OptionChange::Set : OptionChange::Append, name,
                flags.integer(call, value) });
            break;
        case FloatValue:
        case FloatAppend:
            changes.push_back({ flag.row == FloatValue ? OptionChange::Set : OptionChange::Append, name,
                numberOf(call, flags, value) });
            break;
        case StringValue:
        case StringAppend:
            changes.push_back({ flag.row == StringValue ? OptionChange::Set : OptionChange::Append, name,
                flags.text(call, value) });
            break;
        case Remove:
            changes.push_back({ OptionChange::Remove, name, Value() });
            break;
        case ClearArray:
            changes.push_back({ OptionChange::ClearArray, name, Value() });
            break;
        case RemoveFromArray:
            changes.push_back({ OptionChange::RemoveFromArray, name, flags.integer(call, value) });
            break;
        default:
            break;  // -version: the variables have one form only
        }
    }
    for (const OptionChange& change : changes) {
        applyOption(options.values, change);
        const auto found = options.values.find(change.name);
        if (found != options.values.end())
            call.checkSize(found->second.size());
    }
    saveOptions(call, options, changes);
}

// Redraws the line in place; when the transcript goes to the same terminal,
// each state is a line of its own instead, so that the two never run together.
void drawProgress(Progress& progress)
{
    const double range = double(progress.max) - progress.min;
    const double percent = range > 0 ? (double(progress.value) - progress.min) * 100 / range : 100;
    const bool ownLines = ::isatty(STDOUT_FILENO) == 1;
    std::fprintf(stderr, "%s%s%s%s %d%%%s", ownLines ? "" : "\r\033[K", progress.title.c_str(),
        progress.title.empty() || progress.status.empty() ? "" : ": ", progress.status.c_str(),
        static_cast<int>(std::max(0.0, std::min(100.0, percent))), ownLines ? "\n" : "");
    std::fflush(stderr);
    progress.shown = !ownLines;
}

// progressWindow [-edit] -title T -status S -progress N -minValue N -maxValue N
// -step N -isInterruptable B, -endProgress, and -query -progress/-isCancelled:
// a progress line on standard error when that is a terminal, nothing otherwise.
void progressWindow(Call& call)
{
    enum {
        Query,
        Edit,
        EndProgress,
        IsCancelled,
        ProgressValue,
        Step,
        Title,
        Status,
        MinValue,
        MaxValue,
        Interruptable
    };
    static const std::vector<FlagSpec> table = {
        { "-query", "-q" },
        { "-edit", "-e" },
        { "-endProgress", "-ep" },
        { "-isCancelled", "-ic" },
        { "-progress", "-pr", 1 },
        { "-step", "-s", 1 },
        { "-title", "-t", 1 },
        { "-status", "-st", 1 },
        { "-minValue", "-min", 1 },
        { "-maxValue", "-max", 1 },
        { "-isInterruptable", "-ii", 1 },
    };
    const Flags flags = readFlags(call, table);
    Progress& progress = call.store().get<Progress>();
    if (flags.query) {
        for (const Flags::Given& flag : flags.given)
            if (flag.row == IsCancelled || flag.row == ProgressValue) {
                call.give(flag.row == ProgressValue ? progress.value : 0);  // nothing can cancel it
                return;
            }
    }
    bool end = false;
    for (const Flags::Given& flag : flags.given) {
        switch (flag.row) {
        case EndProgress:
            end = true;
            break;
        case ProgressValue:
            progress.value = flags.integer(call, flag.first);
            break;
        case Step:
            // Wraps around as the host's ints do.
            progress.value = static_cast<int>(static_cast<unsigned>(progress.value)
                + static_cast<unsigned>(flags.integer(call, flag.first)));
            break;
        case Title:
            progress.title = flags.text(call, flag.first);
            break;
        case Status:
            progress.status = flags.text(call, flag.first);
            break;
        case MinValue:
            progress.min = flags.integer(call, flag.first);
            break;
        case MaxValue:
            progress.max = flags.integer(call, flag.first);
            break;
        default:
            break;  // -query, -edit and -isInterruptable change nothing here
        }
    }
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (end) {
        if (terminal && progress.shown)
            std::fputs("\n", stderr);
        progress = Progress();
        return;
    }
    if (terminal)
        drawProgress(progress);
    call.give(1);
}

}  // namespace

std::vector<Builtin> systemBuiltins()
{
    return {
        { "system", 1, 1, system },
        { "getenv", 1, 1, getenv },
        { "putenv", 2, 2, putenv },
        { "pwd", 0, 0, pwd },
        { "about", 0, 1, about },
        { "timerX", 0, 2, timerX },
        { "date", 0, Builtin::kAnyCount, date },
        { "quit", 0, Builtin::kAnyCount, quit },
        { "exit", 0, Builtin::kAnyCount, quit },
        { "internalVar", 1, 1, internalVar },
        { "progressWindow", 0, Builtin::kAnyCount, progressWindow },
        { "optionVar", 1, Builtin::kAnyCount, optionVar },
    };
}

}  // namespace mel
