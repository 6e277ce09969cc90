#include <host/Activity.h>

#include <atomic>
#include <mutex>

namespace host {

namespace {

// Process-wide, as the host's image services are: reads and writes may come
// from any thread a plug-in uses, so the totals are kept under a lock.
struct Totals {
    std::mutex lock;
    ImageTotals totals;
};

Totals& totals()
{
    static Totals shared;
    return shared;
}

std::atomic<ActivityObserver*> currentObserver { nullptr };

}  // namespace

ActivityObserver::~ActivityObserver() = default;

void observeActivity(ActivityObserver* observer)
{
    currentObserver.store(observer);
}

void noteImageFile(bool written, const char* path)
{
    ActivityObserver* observer = currentObserver.load();
    ImageTotals now;
    {
        Totals& shared = totals();
        const std::lock_guard<std::mutex> hold(shared.lock);
        ++(written ? shared.totals.writes : shared.totals.reads);
        shared.totals.path = path;
        if (observer == nullptr)
            return;
        now = shared.totals;
    }
    observer->imageFileDone(now);
}

void noteCommand(const std::string& name, bool started)
{
    ActivityObserver* observer = currentObserver.load();
    if (observer == nullptr)
        return;
    if (started)
        observer->commandStarted(name);
    else
        observer->commandEnded();
}

ImageTotals imageTotals()
{
    Totals& shared = totals();
    const std::lock_guard<std::mutex> hold(shared.lock);
    return shared.totals;
}

}  // namespace host
