#pragma once

// A shell command run by system and popen: in a process group of its own, so
// that Ctrl-C can stop it whole, and waited for in a way Ctrl-C can end.
#include <mel/Builtin.h>

#include <host/FileDescriptor.h>

#include <string>

#include <sys/types.h>

namespace mel {

class ShellCommand {
public:
    /// Which way the pipe runs: from the command's output, or into its input.
    enum class Direction { FromCommand, ToCommand };

    ShellCommand() = default;
    ShellCommand(const ShellCommand&) = delete;
    ShellCommand& operator=(const ShellCommand&) = delete;
    /// A shell still running gets a second to end once its pipe is closed,
    /// then its process group is killed; one that has exited is left alone
    /// with what it started in the background.
    ~ShellCommand();

    /// Starts `/bin/sh -c command` with a pipe as its standard output
    /// (FromCommand) or input (ToCommand) and gives this end of it, which does
    /// not block; the command's standard input is otherwise /dev/null, so that
    /// a script read from it keeps its text, and its output otherwise goes to
    /// standard error, away from the transcript. On failure the descriptor is
    /// -1 and `error` says why.
    host::FileDescriptor start(const std::string& command, Direction direction, std::string& error);

    /// Waits until `pipe` is ready for `events` (POLLIN or POLLOUT) or has
    /// ended at the other side: true. False once the shell has exited while the
    /// pipe is still not ready, as when a command it started in the background
    /// holds the pipe. Ctrl-C meanwhile kills the command and fails the call.
    bool waitForPipe(Call& call, int pipe, short events);
    /// Waits for the shell to exit and gives its exit status (128 + the signal
    /// for one a signal ended, -1 when it cannot be known). Ctrl-C meanwhile
    /// kills the command and fails the call.
    int waitForExit(Call& call);
    /// Kills the command's whole process group at once and reaps the shell.
    void kill();

private:
    // Whether the shell has exited, reaping it; never waits.
    bool reap();
    void checkInterrupt(Call& call);

    pid_t pid_ = -1;
    bool exited_ = true;
    int status_ = -1;
};

}  // namespace mel
