// Writes the demo's sample images into the folder given on the command line, so
// that the demo needs no image files in the repository. PNG and JPEG are written
// with libpng and libjpeg directly: the host writes only IFF without its
// OpenImageIO module, and the demo runs without it.

#include <cstddef>  // jpeglib.h needs FILE and size_t declared first
#include <cstdio>

#include <jpeglib.h>
#include <png.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Rgba {
    unsigned char r, g, b, a;
};

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// RGBA rows, top first, as PNG with alpha; libpng's defaults otherwise.
bool writePng(std::FILE* file, unsigned int width, unsigned int height, std::vector<unsigned char>& rgba)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (unsigned int y = 0; y < height; ++y)
        png_write_row(png, rgba.data() + std::size_t(y) * width * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// RGB at quality 98 with 4:2:0 chroma, as the samples have always been written.
bool writeJpeg(
    std::FILE* file, unsigned int width, unsigned int height, const std::vector<unsigned char>& rgba)
{
    jpeg_compress_struct jpeg {};
    jpeg_error_mgr errors {};
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_compress(&jpeg);
    jpeg_stdio_dest(&jpeg, file);
    jpeg.image_width = width;
    jpeg.image_height = height;
    jpeg.input_components = 3;
    jpeg.in_color_space = JCS_RGB;
    jpeg_set_defaults(&jpeg);
    jpeg_set_quality(&jpeg, 98, TRUE);
    jpeg_start_compress(&jpeg, TRUE);
    std::vector<unsigned char> row(std::size_t(width) * 3);
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = rgba[(std::size_t(y) * width + x) * 4 + c];
        JSAMPROW rows[] = { row.data() };
        jpeg_write_scanlines(&jpeg, rows, 1);
    }
    jpeg_finish_compress(&jpeg);
    jpeg_destroy_compress(&jpeg);
    return true;
}

bool writeSample(const std::string& path, unsigned int width, unsigned int height, const char* format,
    const std::function<Rgba(unsigned int, unsigned int)>& pixelAt)
{
    std::vector<unsigned char> rgba;
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x) {
            const Rgba value = pixelAt(x, y);
            rgba.insert(rgba.end(), { value.r, value.g, value.b, value.a });
        }
    }
    File file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file)
        return false;
    const bool written = std::string(format) == "png" ? writePng(file.get(), width, height, rgba)
                                                      : writeJpeg(file.get(), width, height, rgba);
    return written && std::fclose(file.release()) == 0;
}

unsigned char scaled(unsigned int value, unsigned int range)
{
    return static_cast<unsigned char>(255 * value / range);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";

    // An evening sky: blue at the top, orange towards the horizon.
    const bool sunset
        = writeSample(folder + "sunset.png", 640, 480, "png", [](unsigned int x, unsigned int y) {
              return Rgba { scaled(y, 480), static_cast<unsigned char>(60 + scaled(y, 480) / 3),
                  static_cast<unsigned char>(200 - scaled(y, 480) * 3 / 4),
                  static_cast<unsigned char>(255 - x % 2) };
          });
    // Tiles of 25 x 10 pixels, each a colour of its own.
    const bool tiles = writeSample(folder + "tiles.png", 100, 50, "png", [](unsigned int x, unsigned int y) {
        const unsigned int tile = (y / 10) * 4 + x / 25;
        return Rgba { static_cast<unsigned char>(tile * 12), static_cast<unsigned char>(255 - tile * 12),
            static_cast<unsigned char>((tile % 3) * 120), 255 };
    });
    // A round badge on a transparent ground, of an awkward size.
    const bool badge = writeSample(folder + "badge.png", 25, 23, "png", [](unsigned int x, unsigned int y) {
        const int dx = static_cast<int>(x) - 12;
        const int dy = static_cast<int>(y) - 11;
        const bool inside = dx * dx + dy * dy <= 100;
        return Rgba { 220, 40, 60, static_cast<unsigned char>(inside ? 255 : 0) };
    });
    const bool photo
        = writeSample(folder + "meadow.jpg", 200, 100, "jpg", [](unsigned int x, unsigned int y) {
              return Rgba { static_cast<unsigned char>(40 + x / 4), static_cast<unsigned char>(120 + y), 30,
                  255 };
          });
    if (!(sunset && tiles && badge && photo)) {
        std::fprintf(stderr, "%s: could not write the sample images into %s\n", argv[0], folder.c_str());
        return 1;
    }
    return 0;
}
