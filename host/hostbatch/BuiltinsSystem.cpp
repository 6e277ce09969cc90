// Built-ins on the process and the system around it: shell commands, the
// environment, the working folder and what the host is.
#include "Builtins.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

extern char** environ;

namespace hostbatch {

namespace {

// system(command): runs the command in the shell, with no standard input (a
// script read from it must not lose its text), and gives what it printed.
void system(Call& call)
{
    const std::string command = call.text(0);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        call.fail("system: cannot run the command: " + std::string(std::strerror(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    const char* arguments[] = { "sh", "-c", command.c_str(), nullptr };
    pid_t child = 0;
    const int spawned
        = ::posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char* const*>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::string output;
    if (spawned == 0) {
        char chunk[65536];
        while (true) {
            const ssize_t count = ::read(pipe[0], chunk, sizeof chunk);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            output.append(chunk, std::size_t(count));
            try {
                call.checkText(output.size());
            } catch (...) {
                // A command that prints without end is stopped, not waited for.
                ::kill(child, SIGKILL);
                ::close(pipe[0]);
                while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) { }
                throw;
            }
        }
    }
    ::close(pipe[0]);
    if (spawned != 0)
        call.fail("system: cannot run the command: " + std::string(std::strerror(spawned)));
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
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
    const std::string flag = call.text(0);
    if (flag == "-batch" || flag == "-b" || flag == "-linux" || flag == "-li")
        call.give(1);
    else if (flag == "-windows" || flag == "-win" || flag == "-nt" || flag == "-macOS" || flag == "-mac")
        call.give(0);
    else if (flag == "-operatingSystem" || flag == "-os")
        call.give(std::string("linux64"));
    else if (flag == "-version" || flag == "-v")
        call.give(std::string(PICTILE_VERSION));
    else
        call.fail("about: unknown flag '" + flag + "'");
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
    const std::string flag = call.text(0);
    const char* home = std::getenv("HOME");
    const std::string user = withSlash(home != nullptr ? home : "") + "maya/";
    if (flag == "-userTmpDir" || flag == "-utd") {
        const char* temporary = std::getenv("TMPDIR");
        call.give(withSlash(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp"));
    } else if (flag == "-userAppDir" || flag == "-uad") {
        call.give(user);
    } else if (flag == "-userScriptDir" || flag == "-usd") {
        call.give(user + "scripts/");
    } else if (flag == "-userPrefDir" || flag == "-upd") {
        call.give(user + "prefs/");
    } else if (flag == "-userWorkspaceDir" || flag == "-uwd") {
        call.give(user + "projects/");
    } else {
        call.fail("internalVar: unknown flag '" + flag + "'");
    }
}

// Redraws the line in place; when the transcript goes to the same terminal,
// each state is a line of its own instead, so that the two never run together.
void drawProgress(BuiltinState::Progress& progress)
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
    BuiltinState::Progress& progress = call.state().progress;
    bool query = false;
    bool end = false;
    for (std::size_t i = 0; i < call.count(); ++i) {
        const std::string flag = call.text(i);
        const auto next = [&]() -> std::size_t {
            if (i + 1 >= call.count())
                call.fail("progressWindow: " + flag + " needs a value");
            return ++i;
        };
        if (flag == "-query" || flag == "-q") {
            query = true;
        } else if (flag == "-edit" || flag == "-e") {
        } else if (flag == "-endProgress" || flag == "-ep") {
            end = true;
        } else if (flag == "-isCancelled" || flag == "-ic") {
            if (query) {
                call.give(0);  // nothing can cancel it
                return;
            }
        } else if (flag == "-progress" || flag == "-pr") {
            if (query) {
                call.give(progress.value);
                return;
            }
            progress.value = call.integer(next());
        } else if (flag == "-step" || flag == "-s") {
            // Wraps around as the host's ints do.
            progress.value = static_cast<int>(
                static_cast<unsigned>(progress.value) + static_cast<unsigned>(call.integer(next())));
        } else if (flag == "-title" || flag == "-t") {
            progress.title = call.text(next());
        } else if (flag == "-status" || flag == "-st") {
            progress.status = call.text(next());
        } else if (flag == "-minValue" || flag == "-min") {
            progress.min = call.integer(next());
        } else if (flag == "-maxValue" || flag == "-max") {
            progress.max = call.integer(next());
        } else if (flag == "-isInterruptable" || flag == "-ii") {
            next();
        } else {
            call.fail("progressWindow: unknown flag '" + flag + "'");
        }
    }
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (end) {
        if (terminal && progress.shown)
            std::fputs("\n", stderr);
        progress = BuiltinState::Progress();
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

}  // namespace hostbatch
