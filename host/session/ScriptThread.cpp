#include "ScriptThread.h"

#include <cstring>

namespace host {

ScriptThread::ScriptThread()
{
    pthread_attr_t attributes;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstacksize(&attributes, kStackSize);
        if (error == 0)
            error = pthread_create(&thread_, &attributes, loop, this);
        pthread_attr_destroy(&attributes);
    }
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
    if (!started_) {
        work();
        return;
    }
    const std::lock_guard<std::mutex> turn(turn_);
    std::unique_lock<std::mutex> lock(mutex_);
    work_ = &work;
    done_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return done_; });
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
