#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>

namespace host {

/// A thread of its own for running scripts, whose stack is sized for the
/// interpreter's deepest nesting (6000 levels), so that a deep recursion ends
/// with the interpreter's error line rather than a stack overflow. The
/// costliest levels measured, a script that sources itself, take 21 MiB for
/// 6000 levels in the AddressSanitizer build (3.6 KiB a level) and 8.4 MiB in
/// the release build, more than a main thread's usual 8 MiB; the stack is
/// reserved address space, used only as deep as a script goes.
class ScriptThread {
public:
    static constexpr std::size_t kStackSize = std::size_t { 256 } << 20;

    /// Starts the thread; `error` says why when it could not be started
    /// (`started()` is then false). The thread never receives the signals in
    /// `blockedSignals`: the process's other threads get them (an embedding
    /// whose own thread must see Ctrl-C passes SIGINT).
    explicit ScriptThread(const std::vector<int>& blockedSignals = {});
    ScriptThread(const ScriptThread&) = delete;
    ScriptThread& operator=(const ScriptThread&) = delete;
    /// Lets the work under way finish, then ends the thread.
    ~ScriptThread();

    bool started() const { return started_; }
    const std::string& error() const { return error_; }

    /// Runs `work`, which must not throw, on the thread and waits until it has
    /// run. Work from several threads runs one at a time, in turn. Without a
    /// thread (it could not be started) the work runs on the calling thread.
    void run(const std::function<void()>& work);
    /// The same, calling `whileWaiting` (which must not throw) on the calling
    /// thread each time `interval` passes before the work is done: how a caller
    /// that must stay responsive (to a signal, to lines to show) waits.
    void run(const std::function<void()>& work, const std::function<void()>& whileWaiting,
        std::chrono::milliseconds interval);

private:
    static void* loop(void* self);

    pthread_t thread_ {};
    bool started_ = false;
    std::string error_;
    std::mutex mutex_;
    std::mutex turn_;  // held by the caller whose work is in hand
    std::condition_variable changed_;
    const std::function<void()>* work_ = nullptr;
    bool done_ = false;
    bool stopping_ = false;
};

}  // namespace host
