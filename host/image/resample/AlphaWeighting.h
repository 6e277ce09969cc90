#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The alpha weighting of the resampler module: colour is resampled times
// alpha, so that transparent pixels lend no colour, and divided back afterwards.

namespace pictile::resample {

constexpr int kChannels = 4;
constexpr int kAlpha = 3;

// Whole pixels at a time, which the compiler vectorises; alpha is the top byte
// of each little-endian word.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

inline bool isOpaque(const unsigned char* pixels, std::size_t count)
{
    std::uint32_t all = 0xffffffffu;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, pixels + i * kChannels, sizeof pixel);
        all &= pixel;
    }
    return all >> 24 == 255;
}

// Colour weighted by alpha: colour times alpha (at most 255 x 255) and alpha
// times kAlphaScale, exact in both sample types, so a uniform colour divides
// back to itself exactly. Area averaging has only positive weights and cannot
// leave 16 bits, so its source is 16-bit; the cubic overshoots and undershoots,
// which float keeps and integers would clip, skewing colour over alpha at hard
// alpha edges. Both resample into float, divided back without rounding between.
template <typename Sample> constexpr float kAlphaScale = std::is_same_v<Sample, float> ? 1.0f : 257.0f;

template <typename Sample> void premultiply(const unsigned char* source, Sample* target, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned int alpha = source[i * 4 + kAlpha];
        for (int c = 0; c < kAlpha; ++c)
            target[i * 4 + c] = static_cast<Sample>(source[i * 4 + c] * alpha);
        target[i * 4 + kAlpha] = static_cast<Sample>(alpha * kAlphaScale<Sample>);
    }
}

// Divides the colour back out of the resampled weighted pixels. Returns false
// when some pixel came out transparent: its colour has to come from elsewhere.
template <typename Sample> bool unpremultiply(const float* source, unsigned char* target, std::size_t count)
{
    constexpr float scale = kAlphaScale<Sample>;
    bool everyPixelWeighted = true;
    for (std::size_t i = 0; i < count; ++i) {
        const float weight = float(source[i * 4 + kAlpha]);
        target[i * 4 + kAlpha] = static_cast<unsigned char>(std::clamp(weight / scale + 0.5f, 0.0f, 255.0f));
        // Alpha that rounds to 0 carries no colour worth dividing out.
        if (weight < 0.5f * scale) {
            everyPixelWeighted = false;
            continue;
        }
        const float inverse = scale / weight;
        for (int c = 0; c < kAlpha; ++c) {
            const float colour = float(source[i * 4 + c]) * inverse + 0.5f;
            target[i * 4 + c] = static_cast<unsigned char>(std::clamp(colour, 0.0f, 255.0f));
        }
    }
    return everyPixelWeighted;
}

// Transparent target pixels take the colour of `plain`, the unweighted
// resample, so that a fully transparent image keeps its colour too.
inline void takeColourOfTransparent(const unsigned char* plain, unsigned char* target, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (target[i * 4 + kAlpha] != 0)
            continue;
        for (int c = 0; c < kAlpha; ++c)
            target[i * 4 + c] = plain[i * 4 + c];
    }
}

}  // namespace pictile::resample
