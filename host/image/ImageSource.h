#pragma once

#include <maya/MStatus.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

/// A regular file opened once for reading. Format identification, damage checks
/// and decoders all read through this one descriptor, so a file swapped or
/// renamed after the open is never seen, and none reads past the size taken at
/// the open, so a file that grows meanwhile is read as it was.
class ImageSource {
public:
    ImageSource() = default;
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;
    ImageSource(ImageSource&& other) noexcept;
    ImageSource& operator=(ImageSource&& other) noexcept;
    ~ImageSource();

    /// Opens `path` without blocking (a FIFO does not wait for a writer) and keeps
    /// it only when it is a regular file. kNotFound for a missing path, a
    /// directory, a device, a FIFO, a socket or anything else that is not a
    /// regular file.
    MStatus open(const std::string& path);

    int descriptor() const { return descriptor_; }
    /// The file's size when it was opened.
    std::uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }

    /// Reads up to `count` bytes from `offset`, never past size(); the number of
    /// bytes read, short at the end or on a read error.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const;

private:
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
    std::string path_;
};

}  // namespace host
