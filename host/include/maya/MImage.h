#pragma once

#include <maya/MStatus.h>
#include <maya/MString.h>

#include <memory>

/// An 8-bit RGBA image held in memory.
///
/// Pixels are four bytes each (red, green, blue, alpha), the top row of the image
/// first, each row `width` pixels long: the pixel in column c and row r starts at
/// byte (r * width + c) * 4. An image holds at most 2^30 pixels.
class OPENMAYA_EXPORT MImage {
public:
    MImage();
    MImage(const MImage&) = delete;
    MImage& operator=(const MImage&) = delete;
    MImage(MImage&&) noexcept;
    MImage& operator=(MImage&&) noexcept;
    ~MImage();

    /// Replaces the image with the first subimage of the file at `path`, in any
    /// format the host reads. Grey becomes R = G = B, a missing alpha 255, deeper
    /// samples 8 bits; stored alpha is kept, not premultiplied. On failure the
    /// image is empty: kNotFound for a missing path, a directory or a path holding
    /// a NUL character, kFailure for a file that is not a readable image (unknown,
    /// corrupt, truncated, or too short for the pixels its header claims),
    /// kInvalidParameter for an image of more than 2^30 pixels or a row of more
    /// than 2^24 (refused from its header), kInsufficientMemory when the pixels
    /// cannot be allocated.
    MStatus readFromFile(MString path);

    /// Replaces the image with a width by height image of transparent black.
    /// kInvalidParameter for a size of 0 or over 2^30 pixels (the image is then
    /// empty).
    MStatus create(unsigned int width, unsigned int height);

    /// The size in pixels. kFailure on an empty image (both set to 0).
    MStatus getSize(unsigned int& width, unsigned int& height) const;

    /// Resamples the image to width by height with a separable filter weighted by
    /// alpha, so transparent pixels lend no colour and a uniform image stays
    /// exactly uniform. Each side has its own filter: one shrunk to half its
    /// length or less averages the input area each output pixel covers (a box
    /// filter, antialiased); one enlarged or shrunk less than that uses cubic
    /// convolution (Keys, a = -0.75, of the Catmull-Rom family) over four pixels,
    /// edges clamped. With `preserveAspectRatio` the
    /// result is the largest size of the image's proportions that fits inside
    /// width by height; a result of the image's own size changes nothing. kFailure
    /// on an empty image; kInvalidParameter for a width or height below 1, a result
    /// over 2^30 pixels, or a row (before or after) over 2^24 pixels;
    /// kInsufficientMemory when the result cannot be allocated. On failure the
    /// image is unchanged.
    MStatus resize(int width, int height, bool preserveAspectRatio = true);

    /// The RGBA bytes, `width * height * 4` of them; null when the image is empty.
    unsigned char* pixels() const;

    /// Writes the image to `path` in `format`: "iff" (the host's native IFF),
    /// "png", "jpg", "tif", "exr", "tga" or "bmp". The file is written beside its
    /// target under a temporary name and renamed into place, so a failed write
    /// leaves any earlier file at `path` as it was and no partial file. kFailure
    /// on an empty image, a failed encode or an earlier file at `path` that the
    /// process may not write (which stays as it was), kNotImplemented for an unknown
    /// format, kNotFound for a missing folder, kInvalidParameter when `path` is a
    /// directory or holds a NUL character.
    MStatus writeToFile(MString path, MString format = MString("iff")) const;

    /// Frees the pixels; the image is then empty.
    void release();

private:
    struct Pixels;
    std::unique_ptr<Pixels> pixels_;
};
