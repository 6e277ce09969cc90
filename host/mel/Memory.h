#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace mel {

/// The bytes the process holds allocated now, from the allocator's own count
/// (the sanitizers' allocator in a sanitizer build): what the memory bound is
/// measured against. Costs microseconds, so it is looked at now and then.
std::size_t allocatedBytes();

/// A count that goes up every 10 ms once started, for the rest of the
/// process: read at no cost, it tells the checks made every few steps when it
/// is time for the costlier look at the memory held. Reading a clock there
/// instead made a tight loop 5 % slower.
class MemoryClock {
public:
    static constexpr int kTickMilliseconds = 10;

    /// Starts the ticking thread, once in the process; any thread may call it.
    static void start();
    static std::uint64_t now() { return ticks_.load(std::memory_order_relaxed); }

private:
    static std::atomic<std::uint64_t> ticks_;
};

}  // namespace mel
