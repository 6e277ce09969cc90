// Random contents of resizeFunction's list file, over a small folder of images.
// The first byte sets -number (1 to 16); the rest is the list. On success the
// result holds count - 1 names and each has its IFF output; on failure exactly one
// error line shows (FuzzSupport checks it).
#include "FuzzSupport.h"

#include <maya/MImage.h>
#include <maya/MString.h>

#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kListPath = "F:/Dovrin's Documents/My Images/DIRlist.txt";
const char* const kOutputFolder = "F:/Dovrin's Documents/My Images/Resized/";

void checkOutputs(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const std::string base = name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
        MImage output;
        if (!output.readFromFile(MString(std::string(kOutputFolder) + base + ".iff")))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::enterScratchFolder("pictile-fuzz-list");
    fs::create_directories("images/sub");
    fs::create_directories(kOutputFolder);
    fuzzsupport::writeSampleImage("images/a.png", 12, 10, "png");
    fuzzsupport::writeSampleImage("images/b.jpg", 16, 16, "jpg");
    fuzzsupport::writeSampleImage("images/sub/c.tif", 10, 12, "tif");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzzsupport::PictileCommands commands;
    if (size < 1)
        return 0;
    fuzzsupport::writeBytes(kListPath, data + 1, size - 1);
    fs::remove_all(kOutputFolder);
    fs::create_directories(kOutputFolder);

    const std::string count = std::to_string(data[0] % 16 + 1);
    const host::Invocation invocation
        = commands.run("resizeFunction", { "-folder", "images/", "-size", "64", "-number", count });
    if (!invocation.status)
        return 0;
    const auto* names = std::get_if<std::vector<std::string>>(&invocation.result);
    if (names == nullptr || names->size() != static_cast<std::size_t>(data[0] % 16))
        __builtin_trap();
    checkOutputs(*names);
    return 0;
}
