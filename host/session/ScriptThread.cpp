#include "ScriptThread.h"

#include <csignal>
#include <cstring>

namespace host {

ScriptThread::ScriptThread(const std::vector<int>& blockedSignals)
{
    // The thread starts with the signal mask of the thread creating it.
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    for (const int signal : blockedSignals)
        sigaddset(&blocked, signal);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstacksize(&attributes, kStackSize);
        if (error == 0)
            error = pthread_create(&thread_, &attributes, loop, this);
        pthread_attr_destroy(&attributes);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    started_ = error == 0;
    if (!started_)
        error_ = std::strerror(error);
}

ScriptThread::~ScriptThread()
{
    if (!started_)
        return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    pthread_join(thread_, nullptr);
}

void ScriptThread::run(const std::function<void()>& work)
{
    run(work, nullptr, std::chrono::milliseconds(0));
}

void ScriptThread::run(const std::function<void()>& work, const std::function<void()>& whileWaiting,
    std::chrono::milliseconds interval)
{
    if (!started_) {
        work();
        return;
    }
    const std::lock_guard<std::mutex> turn(turn_);
    std::unique_lock<std::mutex> lock(mutex_);
    work_ = &work;
    done_ = false;
    changed_.notify_all();
    const auto done = [this] { return done_; };
    if (!whileWaiting) {
        changed_.wait(lock, done);
        return;
    }
    while (!changed_.wait_for(lock, interval, done)) {
        lock.unlock();
        whileWaiting();
        lock.lock();
    }
}

void* ScriptThread::loop(void* self)
{
    ScriptThread& thread = *static_cast<ScriptThread*>(self);
    std::unique_lock<std::mutex> lock(thread.mutex_);
    while (true) {
        thread.changed_.wait(lock, [&thread] { return thread.work_ != nullptr || thread.stopping_; });
        if (thread.work_ == nullptr)
            return nullptr;
        const std::function<void()>* work = thread.work_;
        lock.unlock();
        (*work)();
        lock.lock();
        thread.work_ = nullptr;
        thread.done_ = true;
        thread.changed_.notify_all();
    }
}

}  // namespace host
