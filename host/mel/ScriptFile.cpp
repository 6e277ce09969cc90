#include "ScriptFile.h"

#include <host/FileDescriptor.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mel {

bool readScriptFile(const std::string& path, std::size_t limit, std::string& text, std::string& error)
{
    const auto failed = [&](const std::string& reason) {
        error = "cannot read script '" + path + "': " + reason;
        return false;
    };
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const host::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return failed(std::strerror(errno));
    struct stat status { };
    if (::fstat(file.get(), &status) != 0)
        return failed(std::strerror(errno));
    if (S_ISDIR(status.st_mode))
        return failed("it is a folder");
    if (!S_ISREG(status.st_mode))
        return failed("it is not a regular file");
    if (limit != 0 && std::size_t(status.st_size) > limit)
        return failed("it is larger than " + std::to_string(limit) + " bytes");
    text.clear();
    text.reserve(std::size_t(status.st_size));
    char chunk[65536];
    while (true) {
        const ssize_t count = ::read(file.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return failed(std::strerror(errno));
        if (count == 0)
            return true;
        // The file may grow while it is read.
        if (limit != 0 && text.size() + std::size_t(count) > limit)
            return failed("it is larger than " + std::to_string(limit) + " bytes");
        text.append(chunk, std::size_t(count));
    }
}

}  // namespace mel
