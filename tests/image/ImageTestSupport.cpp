#include "ImageTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace fs = std::filesystem;

namespace imagetest {

TemporaryFolder::TemporaryFolder()
{
    static std::atomic<int> made { 0 };
    path_ = fs::temp_directory_path()
        / ("pictile-image-" + std::to_string(getpid()) + "-" + std::to_string(made++));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TemporaryFolder::entries() const
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void fillImage(MImage& image, unsigned int width, unsigned int height, const Bytes& rgba)
{
    ASSERT_EQ(rgba.size(), std::size_t(width) * height * 4);
    ASSERT_EQ(image.create(width, height), MS::kSuccess);
    std::memcpy(image.pixels(), rgba.data(), rgba.size());
}

Bytes pixelsOf(const MImage& image)
{
    unsigned int width = 0;
    unsigned int height = 0;
    if (!image.getSize(width, height))
        return {};
    return Bytes(image.pixels(), image.pixels() + std::size_t(width) * height * 4);
}

void writeFixture(const std::string& path, const char* format, int width, int height, int channels,
    OIIO::TypeDesc type, const void* samples)
{
    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(format);
    ASSERT_TRUE(output) << OIIO::geterror();
    OIIO::ImageSpec layout(width, height, channels, type);
    layout.attribute("oiio:UnassociatedAlpha", 1);
    ASSERT_TRUE(output->open(path, layout)) << output->geterror();
    ASSERT_TRUE(output->write_image(type, samples)) << output->geterror();
    ASSERT_TRUE(output->close()) << output->geterror();
}

Bytes readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes variedPixels(std::size_t count)
{
    Bytes bytes(count * 4);
    std::uint32_t state = 12345;
    for (unsigned char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

}  // namespace imagetest
