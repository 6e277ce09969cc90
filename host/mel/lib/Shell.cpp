#include "Shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace mel {

namespace {

// The looks at a command waited for start quick, for a command that ends at
// once, and slow down to this, which is how late Ctrl-C is seen at most.
constexpr int kLongestLookMs = 50;

int statusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

void pause(int milliseconds)
{
    ::poll(nullptr, 0, milliseconds);
}

// posix_spawn's own objects, released however the start ends.
struct SpawnSetup {
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

}  // namespace

ShellCommand::~ShellCommand()
{
    for (int waited = 0; !reap() && waited < 1000; waited += 10)
        pause(10);
    if (!exited_)
        kill();
}

host::FileDescriptor ShellCommand::start(const std::string& command, Direction direction, std::string& error)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return host::FileDescriptor();
    }
    const bool fromCommand = direction == Direction::FromCommand;
    host::FileDescriptor ours(fromCommand ? ends[0] : ends[1]);
    const host::FileDescriptor theirs(fromCommand ? ends[1] : ends[0]);
    SpawnSetup setup;
    if (fromCommand) {
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&setup.actions, theirs.get(), STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&setup.actions, theirs.get(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&setup.actions, STDERR_FILENO, STDOUT_FILENO);
    }
    // A group of its own, which Ctrl-C at the terminal does not reach: the
    // interpreter decides, and kills the group. Signals the host ignores or
    // blocks (an embedding may ignore SIGPIPE) are the defaults again there.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : { SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGCHLD })
        sigaddset(&defaults, signal);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes,
        static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    const char* arguments[] = { "sh", "-c", command.c_str(), nullptr };
    pid_t child = -1;
    const int spawned = ::posix_spawn(
        &child, "/bin/sh", &setup.actions, &setup.attributes, const_cast<char* const*>(arguments), environ);
    if (spawned != 0) {
        error = std::strerror(spawned);
        return host::FileDescriptor();
    }
    pid_ = child;
    exited_ = false;
    status_ = -1;
    ::fcntl(ours.get(), F_SETFL, ::fcntl(ours.get(), F_GETFL) | O_NONBLOCK);
    return host::FileDescriptor(ours.release());
}

bool ShellCommand::reap()
{
    if (exited_)
        return true;
    int waitStatus = 0;
    pid_t got;
    while ((got = ::waitpid(pid_, &waitStatus, WNOHANG)) < 0 && errno == EINTR) { }
    if (got == 0)
        return false;
    // Reaped, or no longer ours to reap (an embedding that ignores SIGCHLD).
    exited_ = true;
    status_ = got == pid_ ? statusOf(waitStatus) : -1;
    return true;
}

void ShellCommand::kill()
{
    if (exited_)
        return;
    ::kill(-pid_, SIGKILL);
    int waitStatus = 0;
    pid_t got;
    while ((got = ::waitpid(pid_, &waitStatus, 0)) < 0 && errno == EINTR) { }
    exited_ = true;
    status_ = got == pid_ ? statusOf(waitStatus) : -1;
}

void ShellCommand::checkInterrupt(Call& call)
{
    try {
        call.checkInterrupt();
    } catch (...) {
        kill();
        throw;
    }
}

bool ShellCommand::waitForPipe(Call& call, int pipe, short events)
{
    for (int look = 1;; look = std::min(2 * look, kLongestLookMs)) {
        // Also when the pipe is ready each time: a command may print for ever.
        checkInterrupt(call);
        pollfd wanted { pipe, events, 0 };
        const int ready = ::poll(&wanted, 1, look);
        // An error is the read's or the write's to report.
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true;
        if (reap()) {
            pollfd last { pipe, events, 0 };
            return ::poll(&last, 1, 0) > 0;
        }
    }
}

int ShellCommand::waitForExit(Call& call)
{
    for (int look = 1; !reap(); look = std::min(2 * look, kLongestLookMs)) {
        checkInterrupt(call);
        pause(look);
    }
    return status_;
}

}  // namespace mel
