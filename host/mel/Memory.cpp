#include "Memory.h"

#if defined(__SANITIZE_ADDRESS__)
#define MEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEL_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(MEL_ADDRESS_SANITIZER)
// The sanitizers' public allocator interface; GCC ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include <chrono>
#include <mutex>
#include <thread>

namespace mel {

std::atomic<std::uint64_t> MemoryClock::ticks_ { 0 };

void MemoryClock::start()
{
    static std::once_flag started;
    std::call_once(started, [] {
        // Detached, it sleeps until the process ends: nothing waits for it.
        std::thread([] {
            while (true) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kTickMilliseconds));
                ticks_.fetch_add(1, std::memory_order_relaxed);
            }
        }).detach();
    });
}

std::size_t allocatedBytes()
{
#if defined(MEL_ADDRESS_SANITIZER)
    // Its allocator replaces malloc's, whose own count then stays near zero.
    return __sanitizer_get_current_allocated_bytes();
#else
    // Every arena's chunks in use, and the chunks mapped on their own.
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace mel
