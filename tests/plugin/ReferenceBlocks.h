#pragma once

#include <cstddef>
#include <vector>

// The block walks written the plain way, pixel by pixel with real-number sums,
// as a yardstick for the commands and their kernels.

namespace pictile::test {

inline std::vector<int> referenceSample(const std::vector<int>& channels, unsigned int width,
    unsigned int height, unsigned int stepX, unsigned int stepY)
{
    std::vector<int> values;
    for (unsigned int y = 0; y != height; y += stepY)
        for (unsigned int x = 0; x != width; x += stepX)
            for (unsigned int k = 0; k < 4; ++k)
                values.push_back(channels[(std::size_t { y } * width + x) * 4 + k]);
    return values;
}

inline std::vector<int> referenceAverage(const unsigned char* pixels, unsigned int width, unsigned int height,
    unsigned int stepX, unsigned int stepY, bool grey)
{
    std::vector<int> values;
    for (unsigned int top = 0; top != height; top += stepY) {
        for (unsigned int left = 0; left != width; left += stepX) {
            double sums[4] = { 0.0, 0.0, 0.0, 0.0 };
            for (unsigned int i = 0; i < stepY; ++i)
                for (unsigned int j = 0; j < stepX; ++j)
                    for (unsigned int k = 0; k < 4; ++k)
                        sums[k] += pixels[((std::size_t { top } + i) * width + left + j) * 4 + k];
            const double count = static_cast<double>(stepX * stepY);
            for (double& sum : sums)
                sum /= count;
            if (grey) {
                const int value = static_cast<int>((sums[0] + sums[1] + sums[2]) / 3.0);
                values.insert(values.end(), { value, value, value, static_cast<int>(sums[3]) });
            } else {
                for (double average : sums)
                    values.push_back(static_cast<int>(average));
            }
        }
    }
    return values;
}

}  // namespace pictile::test
