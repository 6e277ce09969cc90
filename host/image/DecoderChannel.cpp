#include "DecoderChannel.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace host {

bool sendMessage(int channel, const void* message, std::size_t size, int first, int second)
{
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part { const_cast<void*>(message), size };
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    const int descriptors[2] = { first, second };
    const int count = (first >= 0 ? 1 : 0) + (second >= 0 ? 1 : 0);
    if (count > 0) {
        header.msg_control = control;
        header.msg_controllen = CMSG_SPACE(count * sizeof(int));
        cmsghdr* passed = CMSG_FIRSTHDR(&header);
        passed->cmsg_level = SOL_SOCKET;
        passed->cmsg_type = SCM_RIGHTS;
        passed->cmsg_len = CMSG_LEN(count * sizeof(int));
        std::memcpy(CMSG_DATA(passed), first >= 0 ? descriptors : descriptors + 1, count * sizeof(int));
    }
    ssize_t sent = 0;
    do
        sent = ::sendmsg(channel, &header, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(size);
}

bool receiveMessage(int channel, void* message, std::size_t size, int* descriptors, int wanted)
{
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))];
    iovec part { message, size };
    msghdr header {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got = 0;
    do
        got = ::recvmsg(channel, &header, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    for (int i = 0; i < wanted; ++i)
        descriptors[i] = -1;
    int came = 0;
    for (cmsghdr* passed = got > 0 ? CMSG_FIRSTHDR(&header) : nullptr; passed != nullptr;
         passed = CMSG_NXTHDR(&header, passed)) {
        if (passed->cmsg_level != SOL_SOCKET || passed->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (passed->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int descriptor = -1;
            std::memcpy(&descriptor, CMSG_DATA(passed) + i * sizeof(int), sizeof descriptor);
            if (came < wanted)
                descriptors[came++] = descriptor;
            else
                ::close(descriptor);
        }
    }
    const bool whole = got == static_cast<ssize_t>(size) && (header.msg_flags & MSG_TRUNC) == 0;
    if (!whole) {
        for (int i = 0; i < came; ++i) {
            ::close(descriptors[i]);
            descriptors[i] = -1;
        }
    }
    return whole;
}

}  // namespace host
