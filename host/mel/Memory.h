#pragma once

#include <cstddef>

namespace mel {

/// The bytes the process holds allocated now, from the allocator's own count
/// (the sanitizers' allocator in a sanitizer build): what the memory bound is
/// measured against. Costs microseconds, so it is looked at now and then.
std::size_t allocatedBytes();

}  // namespace mel
