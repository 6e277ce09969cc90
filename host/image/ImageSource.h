#pragma once

#include <maya/MStatus.h>

#include <cstddef>
#include <cstdint>
#include <memory>
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

/// Reads a source through a window of its bytes held in memory, so that walking
/// a file's small fields (chunk headers, markers) costs one system call a window
/// rather than one a field. Reads as large as the window go to the file directly.
class ReadWindow {
public:
    explicit ReadWindow(const ImageSource& source);

    /// Copies up to `count` bytes from `offset`, never past the source's size; the
    /// number copied, short only at the end of the file or on a read error.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count);
    /// The byte at `offset`, or -1 past the end.
    int at(std::uint64_t offset)
    {
        if (offset - start_ < filled_)
            return bytes_[offset - start_];
        unsigned char byte = 0;
        return readAt(offset, &byte, 1) == 1 ? byte : -1;
    }

private:
    static constexpr std::size_t kWindowBytes = 64 * 1024;
    const ImageSource& source_;
    std::unique_ptr<unsigned char[]> bytes_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
};

}  // namespace host
