// Every BMP Suite file through MImage::readFromFile. Good files (g/) and
// questionable ones (q/) must be read and match the suite's reference rendering,
// but for the compressions the host does not read (Huffman, RLE24, embedded JPEG
// and PNG) and 64-bit pixels, which are refused; bad ones (b/) may be refused but
// must not crash or leak.
//
// The reference of each file is the rendering the suite shows for it; for the
// run-length files that skip pixels it is the one that gives them palette
// index 0.
#include "RobustnessSupport.h"

#include <maya/MImage.h>
#include <maya/MString.h>

#include <gtest/gtest.h>

#include <png.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace robustness {
namespace {

struct SuiteCase {
    const char* file;
    const char* reference;  ///< the rendering in html/, or null where the suite has none
    bool refused = false;
};

void PrintTo(const SuiteCase& c, std::ostream* out)
{
    *out << c.file;
}

const SuiteCase kSuite[] = {
    { "g/pal1.bmp", "pal1.png" },
    { "g/pal1wb.bmp", "pal1.png" },
    { "g/pal1bg.bmp", "pal1bg.png" },
    { "g/pal4.bmp", "pal4.png" },
    { "g/pal4gs.bmp", "pal4gs.png" },
    { "g/pal4rle.bmp", "pal4.png" },
    { "g/pal8.bmp", "pal8.png" },
    { "g/pal8-0.bmp", "pal8.png" },
    { "g/pal8gs.bmp", "pal8gs.png" },
    { "g/pal8nonsquare.bmp", "pal8nonsquare-e.png" },
    { "g/pal8os2.bmp", "pal8.png" },
    { "g/pal8rle.bmp", "pal8.png" },
    { "g/pal8topdown.bmp", "pal8.png" },
    { "g/pal8v4.bmp", "pal8.png" },
    { "g/pal8v5.bmp", "pal8.png" },
    { "g/pal8w124.bmp", "pal8w124.png" },
    { "g/pal8w125.bmp", "pal8w125.png" },
    { "g/pal8w126.bmp", "pal8w126.png" },
    { "g/rgb16-565.bmp", "rgb16-565.png" },
    { "g/rgb16-565pal.bmp", "rgb16-565.png" },
    { "g/rgb16.bmp", "rgb16.png" },
    { "g/rgb16bfdef.bmp", "rgb16.png" },
    { "g/rgb24.bmp", "rgb24.png" },
    { "g/rgb24pal.bmp", "rgb24.png" },
    { "g/rgb32.bmp", "rgb24.png" },
    { "g/rgb32bf.bmp", "rgb24.png" },
    { "g/rgb32bfdef.bmp", "rgb24.png" },
    { "q/pal1huffmsb.bmp", nullptr, true },
    { "q/pal1p1.bmp", "pal1p1.png" },
    { "q/pal2.bmp", "pal2.png" },
    { "q/pal2color.bmp", "pal2color.png" },
    { "q/pal4rlecut.bmp", "pal4rlecut-0.png" },
    { "q/pal4rletrns.bmp", "pal4rletrns-0.png" },
    { "q/pal8offs.bmp", "pal8.png" },
    { "q/pal8os2-hs.bmp", "pal8.png" },
    { "q/pal8os2-sz.bmp", "pal8.png" },
    { "q/pal8os2sp.bmp", "pal8.png" },
    { "q/pal8os2v2-16.bmp", "pal8.png" },
    { "q/pal8os2v2-40sz.bmp", "pal8.png" },
    { "q/pal8os2v2-sz.bmp", "pal8.png" },
    { "q/pal8os2v2.bmp", "pal8.png" },
    { "q/pal8oversizepal.bmp", "pal8.png" },
    { "q/pal8rlecut.bmp", "pal8rlecut-0.png" },
    { "q/pal8rletrns.bmp", "pal8rletrns-0.png" },
    { "q/rgb16-231.bmp", "rgb16-231.png" },
    { "q/rgb16-3103.bmp", "rgb16-3103.png" },
    { "q/rgb16faketrns.bmp", "rgb16.png" },
    { "q/rgb24jpeg.bmp", nullptr, true },
    { "q/rgb24largepal.bmp", "rgb24.png" },
    { "q/rgb24lprof.bmp", "rgb24.png" },
    { "q/rgb24png.bmp", nullptr, true },
    { "q/rgb24prof.bmp", "rgb24.png" },
    // Its profile swaps red and green: the stored pixels are not the rendering.
    { "q/rgb24prof2.bmp", nullptr },
    { "q/rgb24rle24.bmp", nullptr, true },
    { "q/rgb32-111110.bmp", nullptr },
    { "q/rgb32-7187.bmp", "rgb32-7187.png" },
    { "q/rgb32-xbgr.bmp", "rgb24.png" },
    { "q/rgb32fakealpha.bmp", "rgb24.png" },
    { "q/rgb32h52.bmp", "rgb24.png" },
    { "q/rgba16-1924.bmp", "rgba16-1924.png" },
    { "q/rgba16-4444.bmp", "rgba16-4444.png" },
    { "q/rgba16-5551.bmp", "rgba16-5551.png" },
    { "q/rgba32-1.bmp", "rgba32.png" },
    { "q/rgba32-1010102.bmp", "rgba32-1010102.png" },
    { "q/rgba32-2.bmp", "rgba32.png" },
    { "q/rgba32-61754.bmp", "rgba32-61754.png" },
    { "q/rgba32-81284.bmp", "rgba32-81284.png" },
    { "q/rgba32abf.bmp", "rgba32.png" },
    { "q/rgba32h56.bmp", "rgba32.png" },
    { "q/rgba64.bmp", nullptr, true },
    { "b/badbitcount.bmp", nullptr },
    { "b/badbitssize.bmp", nullptr },
    { "b/baddens1.bmp", nullptr },
    { "b/baddens2.bmp", nullptr },
    { "b/badfilesize.bmp", nullptr },
    { "b/badheadersize.bmp", nullptr },
    { "b/badpalettesize.bmp", nullptr },
    { "b/badplanes.bmp", nullptr },
    { "b/badrle.bmp", nullptr },
    { "b/badrle4.bmp", nullptr },
    { "b/badrle4bis.bmp", nullptr },
    { "b/badrle4ter.bmp", nullptr },
    { "b/badrlebis.bmp", nullptr },
    { "b/badrleter.bmp", nullptr },
    { "b/badwidth.bmp", nullptr },
    { "b/pal8badindex.bmp", nullptr },
    { "b/reallybig.bmp", nullptr },
    { "b/rgb16-880.bmp", nullptr },
    { "b/rletopdown.bmp", nullptr },
    { "b/shortfile.bmp", nullptr },
};

struct Rendering {
    unsigned int width = 0;
    unsigned int height = 0;
    Bytes rgba;
};

// Decodes a reference PNG to 8-bit RGBA, 16-bit samples scaled with rounding.
Rendering readReference(const std::string& path)
{
    Rendering rendering;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return rendering;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return Rendering {};
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    rendering.width = png_get_image_width(png, info);
    rendering.height = png_get_image_height(png, info);
    rendering.rgba.assign(std::size_t(rendering.width) * rendering.height * 4, 0);
    std::vector<png_bytep> rows(rendering.height);
    for (unsigned int y = 0; y < rendering.height; ++y)
        rows[y] = &rendering.rgba[std::size_t(y) * rendering.width * 4];
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return rendering;
}

// Each sample within 1 of the reference (scaling 5- or 10-bit samples to 8 bits
// may round either way); the colour of a pixel transparent in both is not seen.
std::string firstDifference(const unsigned char* pixels, const Rendering& reference)
{
    for (std::size_t i = 0; i < reference.rgba.size(); i += 4) {
        if (pixels[i + 3] == 0 && reference.rgba[i + 3] == 0)
            continue;
        for (std::size_t c = 0; c < 4; ++c) {
            if (std::abs(int(pixels[i + c]) - int(reference.rgba[i + c])) > 1)
                return "pixel " + std::to_string(i / 4) + " sample " + std::to_string(c) + ": "
                    + std::to_string(pixels[i + c]) + " for " + std::to_string(reference.rgba[i + c]);
        }
    }
    return {};
}

class BmpSuite : public testing::TestWithParam<SuiteCase> { };

TEST_P(BmpSuite, ReadsRightOrRefuses)
{
    const SuiteCase& c = GetParam();
    const std::string file = c.file;
    MImage image;
    const MStatus status = image.readFromFile(MString((std::string(BMPSUITE_DIR "/") + file).c_str()));
    if (file.rfind("b/", 0) != 0) {
        ASSERT_EQ(status, c.refused ? MS::kFailure : MS::kSuccess);
    }
    if (!status || !c.reference)
        return;
    const Rendering reference = readReference(std::string(BMPSUITE_DIR "/html/") + c.reference);
    ASSERT_FALSE(reference.rgba.empty()) << c.reference;
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_TRUE(image.getSize(width, height));
    ASSERT_EQ(width, reference.width);
    ASSERT_EQ(height, reference.height);
    EXPECT_EQ(firstDifference(image.pixels(), reference), "");
}

INSTANTIATE_TEST_SUITE_P(
    Files, BmpSuite, testing::ValuesIn(kSuite), [](const testing::TestParamInfo<SuiteCase>& info) {
        std::string name = info.param.file;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

}  // namespace
}  // namespace robustness
