// The work of the commands without decoding: block averaging and sampling, the
// host's fitted resize, building the result array and printing it.
#include "Transcript.h"
#include "pixelBlocks.h"

#include <maya/MImage.h>
#include <maya/MIntArray.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// A photo-like RGBA image: smooth gradients with noise, alpha mostly opaque.
std::vector<unsigned char> makePhoto(unsigned int width, unsigned int height)
{
    std::vector<unsigned char> pixels(std::size_t { width } * height * 4);
    std::minstd_rand random(7);
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x) {
            unsigned char* pixel = &pixels[(std::size_t { y } * width + x) * 4];
            const unsigned noise = random() % 16;
            pixel[0] = static_cast<unsigned char>((x * 255 / width + noise) & 0xff);
            pixel[1] = static_cast<unsigned char>((y * 255 / height + noise) & 0xff);
            pixel[2] = static_cast<unsigned char>(((x + y) / 16 + noise) & 0xff);
            pixel[3] = static_cast<unsigned char>(x % 97 == 0 ? 128 : 255);
        }
    }
    return pixels;
}

const std::vector<unsigned char>& photo4096()
{
    static const std::vector<unsigned char> pixels = makePhoto(4096, 4096);
    return pixels;
}

MImage imageFrom(const std::vector<unsigned char>& pixels, unsigned int width, unsigned int height)
{
    MImage image;
    image.create(width, height);
    std::copy(pixels.begin(), pixels.end(), image.pixels());
    return image;
}

// Arguments: step (square blocks), grey (0 or 1). 4096 is a whole number of
// blocks for every step here but 10, which is cut to 4090. The kernel alone,
// writing into values allocated once.
void averageBlocksInto(benchmark::State& state)
{
    const auto step = static_cast<std::uint32_t>(state.range(0));
    const bool grey = state.range(1) != 0;
    const std::uint32_t side = pictile::fittedLength(4096, step);
    const pictile::BlockGrid grid { side, side, step, step };
    const unsigned char* pixels = photo4096().data();
    std::vector<int> values(pictile::blockValueCount(grid));
    for (auto _ : state) {
        pictile::averageBlocksInto(values.data(), pixels, grid, grey);
        benchmark::DoNotOptimize(values.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * side * side * 4);
}
BENCHMARK(averageBlocksInto)
    ->ArgsProduct({ { 1, 2, 10, 16, 64 }, { 0, 1 } })
    ->ArgNames({ "step", "grey" })
    ->Unit(benchmark::kMillisecond);

// As the commands call it: a new array of values each time, whose pages the
// system maps in as they are first written.
void averageBlocks(benchmark::State& state)
{
    const auto step = static_cast<std::uint32_t>(state.range(0));
    const pictile::BlockGrid grid { 4096, 4096, step, step };
    const unsigned char* pixels = photo4096().data();
    for (auto _ : state)
        benchmark::DoNotOptimize(pictile::averageBlocks(pixels, grid, false));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 4096 * 4096 * 4);
}
BENCHMARK(averageBlocks)->Arg(1)->Arg(2)->Arg(16)->ArgName("step")->Unit(benchmark::kMillisecond);

void sampleBlocks(benchmark::State& state)
{
    const auto step = static_cast<std::uint32_t>(state.range(0));
    const pictile::BlockGrid grid { 4096, 4096, step, step };
    const unsigned char* pixels = photo4096().data();
    for (auto _ : state)
        benchmark::DoNotOptimize(pictile::sampleBlocks(pixels, grid));
    state.SetItemsProcessed(std::int64_t(state.iterations()) * grid.columns() * grid.rows());
}
BENCHMARK(sampleBlocks)->Arg(1)->Arg(16)->ArgName("step")->Unit(benchmark::kMillisecond);

// Arguments: source width and height, target width and height, and whether the
// image is opaque (resampled in 8 bits) or has translucent columns (weighted by
// alpha in 16 bits). The source is copied back for every round, since a resize
// replaces it.
void fittedResize(benchmark::State& state)
{
    const auto width = static_cast<unsigned int>(state.range(0));
    const auto height = static_cast<unsigned int>(state.range(1));
    std::vector<unsigned char> pixels = makePhoto(width, height);
    if (state.range(4) != 0) {
        for (std::size_t i = 3; i < pixels.size(); i += 4)
            pixels[i] = 255;
    }
    for (auto _ : state) {
        state.PauseTiming();
        MImage image = imageFrom(pixels, width, height);
        state.ResumeTiming();
        image.resize(int(state.range(2)), int(state.range(3)), false);
        benchmark::DoNotOptimize(image.pixels());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * width * height * 4);
}
BENCHMARK(fittedResize)
    ->Args({ 4100, 4090, 4096, 4080, 0 })
    ->Args({ 4100, 4090, 4096, 4080, 1 })
    ->Args({ 1920, 1080, 128, 128, 0 })
    ->Args({ 1920, 1080, 128, 128, 1 })
    ->Args({ 4096, 4096, 2048, 2048, 1 })
    ->Args({ 4096, 4096, 4090, 4090, 1 })
    ->ArgNames({ "", "", "", "", "opaque" })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The commands copy the kernel's values into an MIntArray one by one.
void resultIntoIntArray(benchmark::State& state)
{
    const std::vector<int> values(std::size_t(state.range(0)), 200);
    for (auto _ : state) {
        MIntArray result;
        for (int value : values)
            result.append(value);
        benchmark::DoNotOptimize(result[0]);
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(resultIntoIntArray)->Arg(4194304)->Unit(benchmark::kMillisecond);

// The text transcript of a 4,194,304-integer result (steps 1 x 1 on 1024 x 1024).
void printIntegerResult(benchmark::State& state)
{
    const std::vector<unsigned char> pixels = makePhoto(1024, 1024);
    mel::StatementOutcome outcome;
    outcome.command = "averageFunction";
    outcome.result = pictile::averageBlocks(pixels.data(), pictile::BlockGrid { 1024, 1024, 1, 1 }, false);
    std::string out;
    for (auto _ : state) {
        out.clear();
        if (state.range(0) != 0)
            hostbatch::appendJson(out, outcome);
        else
            hostbatch::appendText(out, outcome);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(out.size()));
}
BENCHMARK(printIntegerResult)->Arg(0)->Arg(1)->ArgName("json")->Unit(benchmark::kMillisecond);

}  // namespace
