#include "ImageTestSupport.h"

#include <host/ImageFaults.h>
#include <maya/MImage.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace imagetest;

namespace {

// A 3 x 2 image with every pixel different, translucent ones among them.
const Bytes kTranslucentPixels
    = { 200, 100, 50, 128, 1, 2, 3, 4, 255, 255, 255, 0, 9, 8, 7, 255, 0, 0, 0, 1, 120, 130, 140, 250 };

Bytes opaque(Bytes pixels)
{
    for (std::size_t i = 3; i < pixels.size(); i += 4)
        pixels[i] = 255;
    return pixels;
}

struct LosslessCase {
    const char* name;
    const char* format;
    bool keepsAlpha;
};

void PrintTo(const LosslessCase& c, std::ostream* out)
{
    *out << c.name;
}

class LosslessWrite : public testing::TestWithParam<LosslessCase> { };

TEST_P(LosslessWrite, ReadsBackExactly)
{
    const LosslessCase& c = GetParam();
    TemporaryFolder folder;
    // Named with the format's extension: Targa, which has no signature, is read
    // only under its own.
    const std::string name = std::string("out.") + c.format;
    const std::string path = folder.file(name);
    const Bytes pixels = c.keepsAlpha ? kTranslucentPixels : opaque(kTranslucentPixels);
    MImage image;
    fillImage(image, 3, 2, pixels);

    ASSERT_EQ(image.writeToFile(MString(path), MString(c.format)), MS::kSuccess);
    MImage readBack;
    ASSERT_EQ(readBack.readFromFile(MString(path)), MS::kSuccess);
    EXPECT_EQ(pixelsOf(readBack), pixels);
    EXPECT_EQ(folder.entries(), std::vector<std::string> { name });
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessWrite,
    testing::Values(LosslessCase { "Iff", "iff", true }, LosslessCase { "Png", "png", true },
        LosslessCase { "PngUpperCase", "PNG", true }, LosslessCase { "Tif", "tif", true },
        LosslessCase { "Tiff", "tiff", true }, LosslessCase { "Tga", "tga", true },
        LosslessCase { "Bmp", "bmp", false }, LosslessCase { "Exr", "exr", false }),
    [](const testing::TestParamInfo<LosslessCase>& info) { return std::string(info.param.name); });

struct IffSize {
    const char* name;
    unsigned int width;
    unsigned int height;
};

void PrintTo(const IffSize& c, std::ostream* out)
{
    *out << c.name;
}

class IffWrite : public testing::TestWithParam<IffSize> { };

// The host writes IFF itself; OpenImageIO must read every file back exactly:
// raw tiles (noise) and packed ones (runs), edge tiles cut to odd sizes.
TEST_P(IffWrite, ReadsBackThroughOpenImageIO)
{
    const IffSize& c = GetParam();
    Bytes pixels = variedPixels(std::size_t(c.width) * c.height);
    for (std::size_t i = 0; i < pixels.size() / 2; ++i)
        pixels[i] = static_cast<unsigned char>(i / 4 / 9 % 7 * 30 + i % 4);
    TemporaryFolder folder;
    const std::string path = folder.file("out.iff");
    MImage image;
    fillImage(image, c.width, c.height, pixels);
    ASSERT_EQ(image.writeToFile(MString(path), MString("iff")), MS::kSuccess);

    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::open(path);
    ASSERT_TRUE(input) << OIIO::geterror();
    ASSERT_EQ(input->spec().width, int(c.width));
    ASSERT_EQ(input->spec().height, int(c.height));
    ASSERT_EQ(input->spec().nchannels, 4);
    Bytes read(pixels.size());
    ASSERT_TRUE(input->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, read.data()));
    EXPECT_EQ(read, pixels);
}

INSTANTIATE_TEST_SUITE_P(Sizes, IffWrite,
    testing::Values(IffSize { "OnePixel", 1, 1 }, IffSize { "ThreeByTwo", 3, 2 },
        IffSize { "OneTile", 64, 64 }, IffSize { "EdgeTiles", 70, 65 }, IffSize { "ManyTiles", 200, 130 },
        IffSize { "OneRow", 300, 1 }),
    [](const testing::TestParamInfo<IffSize>& info) { return std::string(info.param.name); });

class JpegWrite : public testing::TestWithParam<const char*> { };

// JPEG keeps no alpha and is lossy: a uniform colour comes back close and opaque.
TEST_P(JpegWrite, DropsAlphaAndKeepsAColourClose)
{
    TemporaryFolder folder;
    const std::string path = folder.file("out.jpg");
    Bytes pixels;
    for (int i = 0; i < 8 * 8; ++i)
        pixels.insert(pixels.end(), { 30, 160, 220, 90 });
    MImage image;
    fillImage(image, 8, 8, pixels);

    ASSERT_EQ(image.writeToFile(MString(path), MString(GetParam())), MS::kSuccess);
    MImage readBack;
    ASSERT_EQ(readBack.readFromFile(MString(path)), MS::kSuccess);
    const Bytes result = pixelsOf(readBack);
    ASSERT_EQ(result.size(), pixels.size());
    for (std::size_t i = 0; i < result.size(); i += 4) {
        EXPECT_NEAR(result[i], 30, 3);
        EXPECT_NEAR(result[i + 1], 160, 3);
        EXPECT_NEAR(result[i + 2], 220, 3);
        EXPECT_EQ(result[i + 3], 255);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, JpegWrite, testing::Values("jpg", "jpeg"));

TEST(ImageWrite, FormatComesFromTheNameNotTheExtension)
{
    TemporaryFolder folder;
    const std::string path = folder.file("looks-like.jpg");
    MImage image;
    fillImage(image, 3, 2, kTranslucentPixels);

    ASSERT_EQ(image.writeToFile(MString(path), MString("png")), MS::kSuccess);
    const Bytes written = readFileBytes(path);
    ASSERT_GE(written.size(), 8u);
    EXPECT_EQ(
        Bytes(written.begin(), written.begin() + 8), (Bytes { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' }));
}

TEST(ImageWrite, ReplacesAnEarlierFile)
{
    TemporaryFolder folder;
    const std::string path = folder.file("out.png");
    writeFileBytes(path, Bytes(50, 'e'));
    MImage image;
    fillImage(image, 3, 2, kTranslucentPixels);

    ASSERT_EQ(image.writeToFile(MString(path), MString("png")), MS::kSuccess);
    MImage readBack;
    ASSERT_EQ(readBack.readFromFile(MString(path)), MS::kSuccess);
    EXPECT_EQ(pixelsOf(readBack), kTranslucentPixels);
    EXPECT_EQ(folder.entries(), std::vector<std::string> { "out.png" });
}

// Replacing a file is not making a new one: its permission bits stay.
TEST(ImageWrite, ReplacingKeepsTheEarlierFilesPermissions)
{
    TemporaryFolder folder;
    const std::string path = folder.file("out.png");
    writeFileBytes(path, Bytes(50, 'e'));
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    MImage image;
    fillImage(image, 3, 2, kTranslucentPixels);

    ASSERT_EQ(image.writeToFile(MString(path), MString("png")), MS::kSuccess);
    struct stat info { };
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0604u);
}

// A new file gets the mode any file the user makes gets.
TEST(ImageWrite, ResultHasTheModeOfANewFile)
{
    TemporaryFolder folder;
    const std::string path = folder.file("out.png");
    const mode_t umaskNow = umask(022);
    umask(umaskNow);
    MImage image;
    fillImage(image, 3, 2, kTranslucentPixels);

    ASSERT_EQ(image.writeToFile(MString(path), MString("png")), MS::kSuccess);
    struct stat info { };
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~umaskNow);
}

enum class Trouble { UnknownFormat, InjectedFault, MissingFolder, PathIsFolder, EmptyImage };

struct FailedWriteCase {
    const char* name;
    Trouble trouble;
    const char* format;
    MStatus::MStatusCode expected;
};

void PrintTo(const FailedWriteCase& c, std::ostream* out)
{
    *out << c.name;
}

class FailedWrite : public testing::TestWithParam<FailedWriteCase> { };

TEST_P(FailedWrite, KeepsTheEarlierFileAndLeavesNoTemporary)
{
    const FailedWriteCase& c = GetParam();
    TemporaryFolder folder;
    const std::string earlierPath = folder.file("out.img");
    const Bytes earlier(100, 'e');
    writeFileBytes(earlierPath, earlier);
    std::filesystem::create_directory(folder.file("sub"));
    const std::vector<std::string> entriesBefore = folder.entries();

    MImage image;
    if (c.trouble != Trouble::EmptyImage)
        fillImage(image, 3, 2, kTranslucentPixels);
    std::string path = earlierPath;
    if (c.trouble == Trouble::MissingFolder)
        path = folder.file("missing/out.img");
    if (c.trouble == Trouble::PathIsFolder)
        path = folder.file("sub");

    MStatus status;
    if (c.trouble == Trouble::InjectedFault) {
        host::ImageWriteFailure failure;
        status = image.writeToFile(MString(path), MString(c.format));
    } else {
        status = image.writeToFile(MString(path), MString(c.format));
    }
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(readFileBytes(earlierPath), earlier);
    EXPECT_EQ(folder.entries(), entriesBefore);
    EXPECT_TRUE(std::filesystem::is_empty(folder.file("sub")));
}

INSTANTIATE_TEST_SUITE_P(Troubles, FailedWrite,
    testing::Values(FailedWriteCase { "UnknownFormat", Trouble::UnknownFormat, "gif87", MS::kNotImplemented },
        FailedWriteCase { "EmptyFormat", Trouble::UnknownFormat, "", MS::kNotImplemented },
        FailedWriteCase { "InjectedFaultPng", Trouble::InjectedFault, "png", MS::kFailure },
        FailedWriteCase { "InjectedFaultIff", Trouble::InjectedFault, "iff", MS::kFailure },
        FailedWriteCase { "InjectedFaultTiff", Trouble::InjectedFault, "tif", MS::kFailure },
        FailedWriteCase { "MissingFolder", Trouble::MissingFolder, "png", MS::kNotFound },
        FailedWriteCase { "PathIsFolder", Trouble::PathIsFolder, "png", MS::kInvalidParameter },
        FailedWriteCase { "EmptyImage", Trouble::EmptyImage, "png", MS::kFailure }),
    [](const testing::TestParamInfo<FailedWriteCase>& info) { return std::string(info.param.name); });

TEST(ImageWrite, WritesAgainOnceTheFaultIsGone)
{
    TemporaryFolder folder;
    const std::string path = folder.file("out.png");
    MImage image;
    fillImage(image, 3, 2, kTranslucentPixels);
    {
        host::ImageWriteFailure outer;
        {
            host::ImageWriteFailure inner;
        }
        EXPECT_EQ(image.writeToFile(MString(path), MString("png")), MS::kFailure);
    }
    EXPECT_EQ(image.writeToFile(MString(path), MString("png")), MS::kSuccess);
    EXPECT_EQ(folder.entries(), std::vector<std::string> { "out.png" });
}

TEST(ImageWrite, UnwritableFolderFails)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    TemporaryFolder folder;
    std::filesystem::permissions(
        folder.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    MImage image;
    fillImage(image, 3, 2, kTranslucentPixels);

    EXPECT_EQ(image.writeToFile(MString(folder.file("out.png")), MString("png")), MS::kFailure);
    EXPECT_TRUE(folder.entries().empty());
}

}  // namespace
