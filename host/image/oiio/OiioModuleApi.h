#pragma once

// The interface between the host and its OpenImageIO module, pictile_oiio.so:
// plain C types only, so that the module and the host need share nothing but
// this header.

#include <stddef.h>

extern "C" {

/// Raised whenever a field or function of PictileOiioModule changes.
#define PICTILE_OIIO_MODULE_VERSION 3

/// What a module call gives back; the host turns each into its own status.
enum PictileOiioStatus {
    kPictileOiioSuccess = 0,
    kPictileOiioFailure = 1,
    kPictileOiioInvalidParameter = 2,
    kPictileOiioInsufficientMemory = 3,
    kPictileOiioNotImplemented = 4,
    /// The read found no reader for the file, or refused it before any reader
    /// ran: nothing of a decoder has touched the process.
    kPictileOiioNoReader = 5,
};

/// Where a read puts its pixels: the module asks for the buffer once it knows the
/// size from the file's header, so that the host's size limits apply before any
/// allocation and the pixels are the host's to free.
struct PictileOiioPixels {
    void* context;
    /// Returns width * height * 4 zeroed bytes for `depth` slices of width by
    /// height pixels (only the first is decoded), or null with `*status` set.
    unsigned char* (*allocate)(void* context, unsigned long long width, unsigned long long height,
        unsigned long long depth, int* status);
};

struct PictileOiioModule {
    int version;  ///< PICTILE_OIIO_MODULE_VERSION
    /// Decodes the first slice of the file held in `bytes` to 8-bit RGBA, with the
    /// reader named `reader` alone ("iff", "bmp", "openexr", ...). A null `reader`
    /// has the module choose one from the bytes' signature, else the one the
    /// extension of `path` names (no other reader is asked); `path` is otherwise
    /// only a name for messages. The host calls this in a child process of its
    /// own, so that a reader's crash ends only that child.
    int (*read)(const unsigned char* bytes, size_t size, const char* reader, const char* path,
        PictileOiioPixels* pixels);
    /// Encodes width by height RGBA pixels as `format` ("iff", "png", ...) into
    /// `descriptor`, an open, writable, empty file it neither closes nor names.
    /// kPictileOiioNotImplemented for a format OpenImageIO has no writer for.
    int (*encode)(
        const unsigned char* rgba, unsigned width, unsigned height, const char* format, int descriptor);
};

/// The module's one entry point; exported as PICTILE_OIIO_ENTRY.
typedef const PictileOiioModule* (*PictileOiioEntry)(void);

#define PICTILE_OIIO_ENTRY "pictile_oiio_module"

}  // extern "C"
