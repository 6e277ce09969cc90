#include <maya/MImage.h>

#include "HostModule.h"
#include "ImageRead.h"
#include "ImageResize.h"
#include "ImageWrite.h"
#include "RgbaImage.h"

#include <host/Activity.h>
#include <host/ScriptEditor.h>

#include <algorithm>
#include <exception>
#include <new>
#include <string>

struct MImage::Pixels {
    host::RgbaImage image;
};

namespace {

std::uint64_t pixelCount(std::uint64_t width, std::uint64_t height)
{
    return width * height;
}

// The file system stops a name at its first NUL, so such a path would quietly
// name another file.
bool holdsNul(const MString& path)
{
    return std::char_traits<char>::length(path.asChar()) != path.length();
}

// A file refused only because the run's budget is smaller than the image, or
// than what a file of its size may ask for: the one refusal a user can undo, so
// the host says how.
void showBudgetRefusal(const host::BudgetRefusal& refusal)
{
    if (refusal.budget == 0)
        return;
    host::ScriptEditor::show(host::LineKind::Warning,
        "Image of " + std::to_string(refusal.width) + " x " + std::to_string(refusal.height)
            + " pixels is over the pixel budget of " + std::to_string(refusal.budget)
            + (refusal.fileBytes != 0 ? " for a file of " + std::to_string(refusal.fileBytes) + " bytes" : "")
            + "; raise it with hostbatch --pixel-budget PIXELS or " + host::kPixelBudgetVariable
            + "=PIXELS, up to " + std::to_string(host::kMaxImagePixels));
}

// A read or write that needed the OpenImageIO module, which is not installed:
// one line naming the package, before the command's own error.
void showMissingModule(const MString& path)
{
    if (!host::takeMissingOpenImageIO())
        return;
    host::ScriptEditor::show(host::LineKind::Warning,
        std::string(path.asChar()) + ": this format needs the OpenImageIO module; install the package "
            + host::kOpenImageIOPackage);
}

}  // namespace

MImage::MImage() = default;
MImage::MImage(MImage&&) noexcept = default;
MImage& MImage::operator=(MImage&&) noexcept = default;
MImage::~MImage() = default;

MStatus MImage::readFromFile(MString path)
{
    release();
    if (holdsNul(path))
        return MS::kNotFound;
    host::RgbaImage image;
    MStatus status;
    // Some decoders throw on a damaged header (a row too long for their own
    // buffers) instead of reporting an error.
    host::takeBudgetRefusal();
    host::takeMissingOpenImageIO();
    try {
        status = host::readImageFile(path.asChar(), image);
    } catch (const std::bad_alloc&) {
        return MS::kInsufficientMemory;
    } catch (const std::exception&) {
        return MS::kFailure;
    }
    if (!status) {
        showBudgetRefusal(host::takeBudgetRefusal());
        showMissingModule(path);
        return status;
    }
    pixels_ = std::make_unique<Pixels>(Pixels { std::move(image) });
    host::noteImageFile(false, path.asChar());
    return MS::kSuccess;
}

MStatus MImage::create(unsigned int width, unsigned int height)
{
    release();
    const std::uint64_t count = pixelCount(width, height);
    if (count == 0 || count > host::kMaxImagePixels)
        return MS::kInvalidParameter;
    host::PixelBytes bytes(static_cast<unsigned char*>(std::calloc(count, 4)));
    if (!bytes)
        return MS::kInsufficientMemory;
    pixels_ = std::make_unique<Pixels>(Pixels { host::RgbaImage { width, height, std::move(bytes) } });
    return MS::kSuccess;
}

MStatus MImage::getSize(unsigned int& width, unsigned int& height) const
{
    if (!pixels_) {
        width = 0;
        height = 0;
        return MS::kFailure;
    }
    width = pixels_->image.width;
    height = pixels_->image.height;
    return MS::kSuccess;
}

MStatus MImage::resize(int width, int height, bool preserveAspectRatio)
{
    if (!pixels_)
        return MS::kFailure;
    if (width < 1 || height < 1)
        return MS::kInvalidParameter;

    const host::RgbaImage& source = pixels_->image;
    host::ImageSize target { std::uint64_t(width), std::uint64_t(height) };
    if (preserveAspectRatio)
        target = host::fitInside({ source.width, source.height }, target);
    if (target.width == source.width && target.height == source.height)
        return MS::kSuccess;
    const std::uint64_t count = pixelCount(target.width, target.height);
    if (count > host::kMaxImagePixels)
        return MS::kInvalidParameter;
    if (std::max<std::uint64_t>(source.width, target.width) > host::kMaxRowPixels)
        return MS::kInvalidParameter;

    host::PixelBytes bytes = host::allocateBytes(count * 4);
    if (!bytes)
        return MS::kInsufficientMemory;
    if (!host::resampleRgba(source.bytes.get(), source.width, source.height, bytes.get(),
            static_cast<unsigned int>(target.width), static_cast<unsigned int>(target.height)))
        return MS::kInsufficientMemory;
    pixels_->image = host::RgbaImage { static_cast<unsigned int>(target.width),
        static_cast<unsigned int>(target.height), std::move(bytes) };
    return MS::kSuccess;
}

unsigned char* MImage::pixels() const
{
    return pixels_ ? pixels_->image.bytes.get() : nullptr;
}

MStatus MImage::writeToFile(MString path, MString format) const
{
    if (!pixels_)
        return MS::kFailure;
    if (holdsNul(path))
        return MS::kInvalidParameter;
    host::takeMissingOpenImageIO();
    const MStatus status = host::writeImageFile(pixels_->image, path.asChar(), format.asChar());
    if (status)
        host::noteImageFile(true, path.asChar());
    else
        showMissingModule(path);
    return status;
}

void MImage::release()
{
    pixels_.reset();
}
