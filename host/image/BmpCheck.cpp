#include "BmpCheck.h"

#include <cstdint>

namespace host {

namespace {

std::uint32_t littleEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

bool bmpLooksSound(const unsigned char* bytes, std::size_t size)
{
    if (size < 30)
        return false;
    const std::uint32_t infoSize = littleEndian(bytes + 14, 4);
    const std::uint32_t depth = infoSize == 12 ? littleEndian(bytes + 24, 2) : littleEndian(bytes + 28, 2);
    const bool knownInfo = infoSize == 12 || infoSize == 40 || infoSize == 108 || infoSize == 124;
    const bool knownDepth
        = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    return knownInfo && knownDepth;
}

}  // namespace host
