#include "CodecsModuleApi.h"

namespace {

const host::CodecHostServices* hostServices = nullptr;

}  // namespace

// The readers' calls of the host's budget, read time and allocator, handed on to
// the host's own, whose state (the budget, the reads in force) is the process's.
namespace host {

MStatus checkImageSize(
    std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes, std::uint64_t pixelsPerByte)
{
    return hostServices->checkImageSize(width, height, fileBytes, pixelsPerByte);
}

bool ReadTime::passed()
{
    return hostServices->readTimePassed();
}

PixelBytes allocateBytes(std::size_t count)
{
    return hostServices->allocateBytes(count);
}

}  // namespace host

extern "C" __attribute__((visibility("default"))) const host::CommonFormatReaders* pictile_codecs_readers(
    const host::CodecHostServices* host)
{
    hostServices = host;
    static const host::CommonFormatReaders readers { &host::readPng, &host::readJpeg, &host::readTiff };
    return &readers;
}
