#pragma once

#include <utility>

#include <unistd.h>

namespace host {

/// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor = -1)
        : descriptor_(descriptor)
    {
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    /// Closes the descriptor held, if any, and holds `descriptor` instead.
    void reset(int descriptor = -1)
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = descriptor;
    }
    int get() const { return descriptor_; }
    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(descriptor_, -1); }

private:
    int descriptor_;
};

}  // namespace host
