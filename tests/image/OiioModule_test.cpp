// Without pictile_oiio.so beside the code that needs it (this program lives in
// bin/, the module in lib/), reads and writes through it fail with a status,
// silently, and leave nothing behind; IFF, which the host reads and writes
// itself, still works.
#include "HostModule.h"
#include "ImageRead.h"
#include "ImageWrite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(OiioModuleMissing, ReadAndWriteFailQuietly)
{
    const fs::path folder = fs::temp_directory_path() / ("pictile-no-module-" + std::to_string(getpid()));
    fs::create_directories(folder);
    // A 1 x 1 uncompressed true-colour Targa: no damage check stands before its reader.
    const std::vector<char> targa = { 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 10, 20, 30 };
    std::ofstream((folder / "dot.tga").string(), std::ios::binary).write(targa.data(), targa.size());

    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    host::RgbaImage image;
    EXPECT_EQ(host::readImageFile((folder / "dot.tga").c_str(), image), MS::kFailure);
    EXPECT_EQ(image.bytes, nullptr);
    // Noted once, for MImage to name the package that brings the module.
    EXPECT_TRUE(host::takeMissingOpenImageIO());
    EXPECT_FALSE(host::takeMissingOpenImageIO());
    host::RgbaImage pixels { 1, 1, host::allocateBytes(4) };
    std::fill(pixels.bytes.get(), pixels.bytes.get() + 4, 9);
    EXPECT_EQ(host::writeImageFile(pixels, (folder / "out.png").c_str(), "png"), MS::kFailure);
    EXPECT_TRUE(host::takeMissingOpenImageIO());
    EXPECT_EQ(host::writeImageFile(pixels, (folder / "out.iff").c_str(), "iff"), MS::kSuccess);
    EXPECT_EQ(host::readImageFile((folder / "out.iff").c_str(), image), MS::kSuccess);
    EXPECT_EQ(image.bytes[3], 9);
    EXPECT_FALSE(host::takeMissingOpenImageIO());
    // A file of no format is no matter of the module: nothing names it.
    std::ofstream((folder / "notes.txt").string()) << "not an image\n";
    EXPECT_EQ(host::readImageFile((folder / "notes.txt").c_str(), image), MS::kFailure);
    EXPECT_FALSE(host::takeMissingOpenImageIO());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    std::vector<std::string> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        entries.push_back(entry.path().filename().string());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string> { "dot.tga", "notes.txt", "out.iff" }));
    fs::remove_all(folder);
}

}  // namespace
