// Built-ins on the process and the system around it: shell commands, the
// environment, the working folder and what the host is.
#include "Shell.h"
#include "Support.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

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

// about -batch is 1: hostbatch has no windows.
void about(Call& call)
{
    enum { Batch, Linux, Windows, MacOS, OperatingSystem, Version };
    static const std::vector<FlagSpec> flags = {
        { "-batch", "-b" },
        { "-linux", "-li" },
        { "-windows", "-win" },
        { "-macOS", "-mac" },
        { "-operatingSystem", "-os" },
        { "-version", "-v" },
    };
    const std::string flag = call.text(0);
    switch (findFlag(flags, flag)) {
    case Batch:
    case Linux:
        call.give(1);
        return;
    case Windows:
    case MacOS:
        call.give(0);
        return;
    case OperatingSystem:
        call.give(std::string("linux64"));
        return;
    case Version:
        call.give(std::string(PICTILE_VERSION));
        return;
    default:
        // The host's older name for Windows.
        if (flag == "-nt") {
            call.give(0);
            return;
        }
        call.fail("about: unknown flag '" + flag + "'");
    }
}

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
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
        { "about", 1, 1, about },
        { "internalVar", 1, 1, internalVar },
        { "progressWindow", 0, Builtin::kAnyCount, progressWindow },
    };
}

}  // namespace mel
