// Every PngSuite file against tests/image/png_reference.py, a decoder written
// from the PNG rules alone that shares no code with libpng: the same size and
// bytes, or, for the corrupt x* files, a refusal with nothing on standard error.
// A program of its own, without OpenImageIO, so that each of its 175 cases
// starts in milliseconds.
#include <maya/MImage.h>
#include <maya/MString.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

struct Reference {
    bool refused = true;
    unsigned int width = 0;
    unsigned int height = 0;
    Bytes pixels;
};

Reference referenceRead(const std::string& path)
{
    const std::string command = std::string(PICTILE_PYTHON " " PICTILE_PNG_REFERENCE " '") + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    Reference reference;
    if (!pipe || std::fscanf(pipe.get(), "%u %u", &reference.width, &reference.height) != 2
        || std::fgetc(pipe.get()) != '\n')
        return reference;
    reference.pixels.resize(std::size_t(reference.width) * reference.height * 4);
    reference.refused = std::fread(reference.pixels.data(), 1, reference.pixels.size(), pipe.get())
        != reference.pixels.size();
    return reference;
}

// What the calls made while it lives write to standard error.
class StandardErrorCapture {
public:
    StandardErrorCapture()
        : file_(std::tmpfile(), std::fclose)
        , saved_(dup(2))
    {
        std::fflush(stderr);
        dup2(fileno(file_.get()), 2);
    }
    ~StandardErrorCapture() { restore(); }

    std::string text()
    {
        restore();
        std::string written;
        std::rewind(file_.get());
        for (int c; (c = std::fgetc(file_.get())) != EOF;)
            written += char(c);
        return written;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }

    std::unique_ptr<FILE, int (*)(FILE*)> file_;
    int saved_;
};

std::vector<std::string> pngSuiteFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(PICTILE_PNGSUITE_DIR))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class PngSuiteRead : public testing::TestWithParam<std::string> { };

TEST_P(PngSuiteRead, ReadsAsTheReferenceDecoderDoes)
{
    const std::string path = std::string(PICTILE_PNGSUITE_DIR "/") + GetParam();
    const Reference reference = referenceRead(path);
    ASSERT_EQ(reference.refused, GetParam()[0] == 'x') << "only the x* files are corrupt";

    MImage image;
    StandardErrorCapture standardError;
    const MStatus status = image.readFromFile(MString(path.c_str()));
    EXPECT_EQ(standardError.text(), "");
    unsigned int width = 7;
    unsigned int height = 7;
    if (reference.refused) {
        EXPECT_EQ(status, MS::kFailure);
        EXPECT_EQ(image.getSize(width, height), MS::kFailure);
        EXPECT_EQ(image.pixels(), nullptr);
        return;
    }
    ASSERT_EQ(status, MS::kSuccess);
    ASSERT_EQ(image.getSize(width, height), MS::kSuccess);
    EXPECT_EQ(width, reference.width);
    EXPECT_EQ(height, reference.height);
    EXPECT_TRUE(Bytes(image.pixels(), image.pixels() + std::size_t(width) * height * 4) == reference.pixels);
}

INSTANTIATE_TEST_SUITE_P(PngSuite, PngSuiteRead, testing::ValuesIn(pngSuiteFiles()),
    [](const testing::TestParamInfo<std::string>& info) {
        return info.param.substr(0, info.param.find('.'));
    });

}  // namespace
