#pragma once

#include <cstddef>

#include <sys/mman.h>

namespace host {

/// A view of a file mapped into memory, unmapped when it goes; bytes() is null
/// when the mapping failed or the size is 0.
class Mapping {
public:
    Mapping(int descriptor, std::size_t size, int protection, int flags)
    {
        if (size == 0)
            return;
        void* address = ::mmap(nullptr, size, protection, flags, descriptor, 0);
        if (address != MAP_FAILED) {
            bytes_ = static_cast<unsigned char*>(address);
            size_ = size;
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping()
    {
        if (bytes_)
            ::munmap(bytes_, size_);
    }
    unsigned char* bytes() const { return bytes_; }

private:
    unsigned char* bytes_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace host
