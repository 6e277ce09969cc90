#include <maya/MIntArray.h>

#include <host/CommandResult.h>

#include <algorithm>
#include <cstddef>

namespace {

// Room for `wanted` elements, but never past the bound in force: the append
// that would pass it is then refused before the array grows.
void reserveWithinBound(std::vector<int>& elements, std::size_t wanted)
{
    const std::size_t bound = host::ArrayBoundScope::bound();
    elements.reserve(bound != 0 ? std::min(wanted, bound) : wanted);
}

}  // namespace

MStatus MIntArray::append(int element)
{
    std::vector<int>& elements = own();
    // The bound is looked at only when the array must grow: it never has room
    // past the bound, so the element past it always comes here.
    if (elements.size() == elements.capacity()) {
        const std::size_t bound = host::ArrayBoundScope::bound();
        if (bound != 0 && elements.size() >= bound)
            host::ArrayBoundScope::refuse();
        reserveWithinBound(elements, std::max<std::size_t>(16, elements.size() * 2));
    }
    elements.push_back(element);
    return MStatus::kSuccess;
}

void MIntArray::setSizeIncrement(unsigned int capacity)
{
    reserveWithinBound(own(), capacity);
}
