// The host around the kernels: decoding each format through MImage, and running
// a command through the registry with a typical argument list.
#include "averageFunction.h"
#include "queryFunction.h"

#include <host/CommandRegistry.h>
#include <host/ScriptEditor.h>
#include <maya/MArgDatabase.h>
#include <maya/MArgList.h>
#include <maya/MImage.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr unsigned int kSide = 2048;
const char* const kFormats[] = { "png", "jpg", "tif", "iff", "exr", "tga", "bmp" };

// A folder of its own holding the same photo-like image in every format, removed
// when the benchmarks end.
class SampleFiles {
public:
    SampleFiles()
        : folder_(fs::temp_directory_path() / ("pictile_bench_" + std::to_string(getpid())))
    {
        fs::create_directories(folder_);
        MImage image;
        image.create(kSide, kSide);
        std::minstd_rand random(11);
        unsigned char* bytes = image.pixels();
        for (unsigned int y = 0; y < kSide; ++y) {
            for (unsigned int x = 0; x < kSide; ++x, bytes += 4) {
                const unsigned noise = random() % 16;
                bytes[0] = static_cast<unsigned char>(x / 8 + noise);
                bytes[1] = static_cast<unsigned char>(y / 8 + noise);
                bytes[2] = static_cast<unsigned char>((x + y) / 16 + noise);
                bytes[3] = 255;
            }
        }
        for (const char* format : kFormats)
            image.writeToFile(MString(pathFor(format).c_str()), format);
    }
    ~SampleFiles()
    {
        std::error_code error;
        fs::remove_all(folder_, error);
    }

    std::string pathFor(const std::string& format) const { return (folder_ / ("sample." + format)).string(); }

private:
    fs::path folder_;
};

const SampleFiles& sampleFiles()
{
    static const SampleFiles files;
    return files;
}

void readFromFile(benchmark::State& state, const char* format)
{
    const MString path(sampleFiles().pathFor(format).c_str());
    for (auto _ : state) {
        MImage image;
        if (!image.readFromFile(path)) {
            state.SkipWithError("the sample file does not read");
            break;
        }
        benchmark::DoNotOptimize(image.pixels());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * kSide * kSide * 4);
}
BENCHMARK_CAPTURE(readFromFile, png, "png")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(readFromFile, jpg, "jpg")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(readFromFile, tif, "tif")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(readFromFile, iff, "iff")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(readFromFile, exr, "exr")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(readFromFile, tga, "tga")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(readFromFile, bmp, "bmp")->Unit(benchmark::kMillisecond)->UseRealTime();

// The file named by PICTILE_BENCH_FILE (bench/compare gives its 4096 x 4096
// uncompressed TIFF) read into memory with one read, the least any decoder can
// take, and then decoded through readFromFile. The bytes go into memory taken
// as the host takes an image's, 2 MiB pages for large buffers, so that the two
// pay the same page faults.
const char* benchFile()
{
    const char* path = std::getenv("PICTILE_BENCH_FILE");
    return path ? path : "";
}

void fileBytesIntoMemory(benchmark::State& state)
{
    constexpr std::size_t kLargePage = std::size_t { 1 } << 21;
    for (auto _ : state) {
        const int descriptor = open(benchFile(), O_RDONLY | O_CLOEXEC);
        struct stat status { };
        if (descriptor < 0 || fstat(descriptor, &status) != 0) {
            state.SkipWithError("PICTILE_BENCH_FILE does not open");
            break;
        }
        const std::size_t size = std::size_t(status.st_size);
        void* memory = nullptr;
        if (posix_memalign(&memory, kLargePage, (size + kLargePage - 1) / kLargePage * kLargePage) != 0) {
            close(descriptor);
            state.SkipWithError("no memory for PICTILE_BENCH_FILE");
            break;
        }
        const std::unique_ptr<char, void (*)(void*)> bytes(static_cast<char*>(memory), std::free);
        madvise(memory, size, MADV_HUGEPAGE);
        std::size_t done = 0;
        for (ssize_t got = 0; done < size; done += std::size_t(got))
            if ((got = read(descriptor, bytes.get() + done, size - done)) <= 0)
                break;
        close(descriptor);
        benchmark::DoNotOptimize(bytes.get());
    }
}
BENCHMARK(fileBytesIntoMemory)
    ->Name("benchFile/bytesIntoMemory")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void benchFileReadFromFile(benchmark::State& state)
{
    const MString path(benchFile());
    for (auto _ : state) {
        MImage image;
        if (!image.readFromFile(path)) {
            state.SkipWithError("PICTILE_BENCH_FILE does not read");
            break;
        }
        benchmark::DoNotOptimize(image.pixels());
    }
}
BENCHMARK(benchFileReadFromFile)
    ->Name("benchFile/readFromFile")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Parses averageFunction's arguments against its syntax and reads every flag,
// but touches no image: the cost of getting from words to a running command.
class ParseOnly : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        MStatus stat;
        MArgDatabase parser(syntax(), args, &stat);
        MString file;
        unsigned int stepX = 0;
        unsigned int stepY = 0;
        parser.getFlagArgument("-f", 0, file);
        parser.getFlagArgument("-x", 0, stepX);
        parser.getFlagArgument("-y", 0, stepY);
        setResult(parser.isFlagSet("-g") ? int(stepX + stepY + file.length()) : 0);
        return stat;
    }
};

void* createParseOnly()
{
    return std::make_unique<ParseOnly>().release();
}

MArgList argumentsOf(std::initializer_list<const char*> words)
{
    MArgList args;
    for (const char* word : words)
        args.addArg(MString(word));
    return args;
}

void runCommand(benchmark::State& state, const char* name, const MArgList& args)
{
    static const host::PluginRecord owner { "bench" };
    host::CommandRegistry registry;
    registry.registerCommand(owner, "parseOnly", createParseOnly, averageFunction::newSyntax);
    registry.registerCommand(owner, "queryFunction", queryFunction::creator, queryFunction::newSyntax);
    for (auto _ : state) {
        const host::Invocation invocation = registry.run(name, args);
        if (!invocation.status) {
            state.SkipWithError("the command failed");
            break;
        }
        benchmark::DoNotOptimize(invocation.result);
        host::ScriptEditor::take();
    }
}

void dispatchParseOnly(benchmark::State& state)
{
    runCommand(
        state, "parseOnly", argumentsOf({ "-f", "images/sunset.png", "-grey", "-x", "16", "-y", "16" }));
}
BENCHMARK(dispatchParseOnly);

// A real command end to end on a tiny image: dispatch, parsing, decode, result.
void dispatchQueryFunction(benchmark::State& state)
{
    static const std::string path = [] {
        const std::string tiny = sampleFiles().pathFor("tiny.png");
        MImage image;
        image.create(16, 16);
        image.writeToFile(MString(tiny.c_str()), "png");
        return tiny;
    }();
    runCommand(state, "queryFunction", argumentsOf({ "-f", path.c_str(), "-qX" }));
}
BENCHMARK(dispatchQueryFunction)->Unit(benchmark::kMicrosecond);

}  // namespace
