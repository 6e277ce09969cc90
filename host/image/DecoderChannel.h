#pragma once

// What the host, its decoding service (pictile_decoder, which holds the
// OpenImageIO module) and the service's decoding processes tell each other:
// fixed-size messages over SOCK_SEQPACKET sockets, with descriptors passed
// beside them. Shared by both sides, which are built from the same sources.

#include <cstddef>
#include <cstdint>

namespace host {

/// The file descriptor on which pictile_decoder finds its channel to the host.
inline constexpr int kDecoderServiceChannel = 3;

/// What the host asks of the service.
struct ServiceRequest {
    enum Kind : std::uint32_t { kStartDecoder = 1, kEndDecoder = 2 };
    std::uint32_t kind = 0;
    std::int32_t pid = 0;  ///< kEndDecoder: which decoding process
};

/// What the service tells the host: once, whether it could open the module
/// (kReady); then for each kStartDecoder the new decoding process, with the
/// host's end of its channel passed beside the message (kDecoder).
struct ServiceMessage {
    enum Kind : std::uint32_t { kReady = 1, kDecoder = 2 };
    std::uint32_t kind = 0;
    std::int32_t status = 0;  ///< kReady: 1 when the module is open, else 0
    std::int32_t pid = 0;  ///< kDecoder: the decoding process, -1 when none could start
};

/// What the host asks of a decoding process, sent with two descriptors: the
/// file's and an empty memfd for its pixels.
struct DecodeRequest {
    std::int32_t format = 0;
    std::uint64_t size = 0;
    /// The pixels the file's header claims, found by the host before any
    /// decoder runs, for the readers that decode while they open a file; 0 when
    /// not known. The decoding process is given the room and time of that size
    /// from the start.
    std::uint64_t openingPixels = 0;
    char path[4000] = {};  ///< the end of the path, for its extension
};

/// What a decoding process tells the host: once, that it is ready (kReady);
/// then of each read the size the file's header claims (kHeader) and how the
/// decode ended (kDone).
struct DecodeMessage {
    enum Kind : std::uint32_t { kHeader = 1, kDone = 2, kReady = 3 };
    std::uint32_t kind = 0;
    std::int32_t status = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t depth = 0;
};

/// Sends `size` bytes of `message` on `channel` with up to two descriptors
/// (-1 for none); false unless the whole message went.
bool sendMessage(int channel, const void* message, std::size_t size, int first = -1, int second = -1);

/// Receives one message of exactly `size` bytes into `message`, waiting for it,
/// and up to `wanted` descriptors passed with it (closed on exec) into
/// `descriptors`, -1 where none came. False when the other end has gone or
/// the message is of another size; descriptors that came are then closed.
bool receiveMessage(int channel, void* message, std::size_t size, int* descriptors = nullptr, int wanted = 0);

}  // namespace host
