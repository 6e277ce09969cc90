// Writes the demo's sample images into the folder given on the command line, so
// that the demo needs no image files in the repository.

#include <maya/MImage.h>
#include <maya/MString.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

struct Rgba {
    unsigned char r, g, b, a;
};

bool writeSample(const std::string& path, unsigned int width, unsigned int height, const char* format,
    const std::function<Rgba(unsigned int, unsigned int)>& pixelAt)
{
    MImage image;
    if (!image.create(width, height))
        return false;
    unsigned char* pixel = image.pixels();
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x, pixel += 4) {
            const Rgba value = pixelAt(x, y);
            pixel[0] = value.r;
            pixel[1] = value.g;
            pixel[2] = value.b;
            pixel[3] = value.a;
        }
    }
    return static_cast<bool>(image.writeToFile(MString(path), MString(format)));
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
