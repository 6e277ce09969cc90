#include "ImageSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

ImageSource::ImageSource(ImageSource&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
    , size_(std::exchange(other.size_, 0))
    , path_(std::move(other.path_))
{
}

ImageSource& ImageSource::operator=(ImageSource&& other) noexcept
{
    if (this != &other) {
        if (descriptor_ >= 0)
            ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
        size_ = std::exchange(other.size_, 0);
        path_ = std::move(other.path_);
    }
    return *this;
}

ImageSource::~ImageSource()
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

MStatus ImageSource::open(const std::string& path)
{
    *this = ImageSource {};
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0)
        return MS::kNotFound;
    struct stat status { };
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return MS::kNotFound;
    }
    // Reads of a regular file never block; clear the flag so that no reader
    // mistakes a short read for "try again".
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    descriptor_ = descriptor;
    size_ = static_cast<std::uint64_t>(status.st_size);
    path_ = path;
    return MS::kSuccess;
}

std::size_t ImageSource::readAt(std::uint64_t offset, void* buffer, std::size_t count) const
{
    if (descriptor_ < 0 || offset >= size_)
        return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(descriptor_, static_cast<unsigned char*>(buffer) + done, count - done,
            static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

ReadWindow::ReadWindow(const ImageSource& source)
    : source_(source)
    , bytes_(std::make_unique<unsigned char[]>(kWindowBytes))
{
}

std::size_t ReadWindow::readAt(std::uint64_t offset, void* buffer, std::size_t count)
{
    if (count >= kWindowBytes)
        return source_.readAt(offset, buffer, count);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        if (at - start_ >= filled_) {
            start_ = at;
            filled_ = source_.readAt(at, bytes_.get(), kWindowBytes);
            if (filled_ == 0)
                break;
        }
        const std::size_t take = std::min<std::size_t>(count - done, filled_ - (at - start_));
        std::memcpy(out + done, bytes_.get() + (at - start_), take);
        done += take;
    }
    return done;
}

}  // namespace host
