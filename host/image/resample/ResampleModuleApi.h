#pragma once

// The entry point of pictile_resample.so, the only part of the host that links
// OpenCV, opened on the first resize so that a process that never resizes does
// not load OpenCV and its libraries.

extern "C" {

#define PICTILE_RESAMPLE_ENTRY "pictile_resample_rgba"

/// Resamples the RGBA `source` into `target`, both top row first and tightly
/// packed, as host::resampleRgba describes. 1 on success, 0 when the working
/// buffers cannot be allocated.
typedef int (*PictileResampleRgba)(const unsigned char* source, unsigned int sourceWidth,
    unsigned int sourceHeight, unsigned char* target, unsigned int targetWidth, unsigned int targetHeight);

int pictile_resample_rgba(const unsigned char* source, unsigned int sourceWidth, unsigned int sourceHeight,
    unsigned char* target, unsigned int targetWidth, unsigned int targetHeight);
}
