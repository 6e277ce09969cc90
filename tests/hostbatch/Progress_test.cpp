// hostbatch's progress line, seen as a user sees it: through a pseudo-terminal,
// and through a pipe, where it must never appear.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A 12 x 10 BMP of 24-bit pixels, which the host reads itself.
void writeBmp(const fs::path& path)
{
    constexpr int kWidth = 12;
    constexpr int kHeight = 10;
    constexpr int kRowBytes = kWidth * 3;  // a multiple of 4: no padding
    std::vector<unsigned char> file = { 'B', 'M' };
    const auto put = [&file](unsigned value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    put(54 + kRowBytes * kHeight, 4);
    put(0, 4);
    put(54, 4);
    put(40, 4);
    put(kWidth, 4);
    put(kHeight, 4);
    put(1, 2);
    put(24, 2);
    put(0, 4);
    put(kRowBytes * kHeight, 4);
    put(2835, 4);
    put(2835, 4);
    put(0, 4);
    put(0, 4);
    file.resize(file.size() + kRowBytes * kHeight, 128);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), long(file.size()));
}

// A folder of the case's own: ctest runs the cases in parallel processes.
fs::path workFolder(const std::string& caseName)
{
    const fs::path work = fs::path(WORK_DIR) / ("progress-" + caseName);
    fs::remove_all(work);
    fs::create_directories(work);
    writeBmp(work / "grey.bmp");
    return work;
}

std::vector<std::string> hostbatchArguments(const std::vector<std::string>& options)
{
    std::vector<std::string> arguments = { HOSTBATCH_BINARY, "--plugin", PICTILE_PLUGIN };
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), { "-c", "queryFunction -f \"grey.bmp\" -qX" });
    return arguments;
}

[[noreturn]] void runHostbatch(const fs::path& work, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (chdir(work.c_str()) == 0)
        execv(argv[0], argv.data());
    _exit(127);
}

// Everything hostbatch wrote, standard output and error both, when both are a
// pseudo-terminal (`terminal`) or both a pipe.
std::string runThrough(const std::string& caseName, bool terminal, const std::vector<std::string>& options)
{
    const fs::path work = workFolder(caseName);
    const std::vector<std::string> arguments = hostbatchArguments(options);
    int reading = -1;
    pid_t child = -1;
    if (terminal) {
        child = forkpty(&reading, nullptr, nullptr, nullptr);
    } else {
        int ends[2];
        if (pipe(ends) != 0)
            return "pipe failed";
        child = fork();
        if (child == 0) {
            dup2(ends[1], STDOUT_FILENO);
            dup2(ends[1], STDERR_FILENO);
        }
        close(ends[1]);
        reading = ends[0];
    }
    if (child < 0)
        return "fork failed";
    if (child == 0)
        runHostbatch(work, arguments);
    std::string printed;
    char buffer[4096];
    while (true) {
        const ssize_t count = read(reading, buffer, sizeof buffer);
        if (count > 0)
            printed.append(buffer, std::size_t(count));
        else if (count == 0 || errno != EINTR)
            break;  // a terminal whose other side has closed reads EIO
    }
    close(reading);
    int status = 0;
    waitpid(child, &status, 0);
    return printed;
}

struct ProgressCase {
    const char* name;
    bool terminal;
    std::vector<std::string> options;
    bool shown;
};

void PrintTo(const ProgressCase& c, std::ostream* out)
{
    *out << c.name;
}

class Progress : public testing::TestWithParam<ProgressCase> { };

// Shown: the line with the counts, erased before the result is printed.
// Not shown: no trace of it, not even the erasing.
TEST_P(Progress, ShowsOneLineOnlyOnATerminal)
{
    const ProgressCase& c = GetParam();
    const std::string printed = runThrough(c.name, c.terminal, c.options);
    const std::string line = "\r\033[KqueryFunction: 1 read, 0 written, ";
    const std::size_t drawn = printed.find(line);
    const std::size_t erased = printed.find("\r\033[K", drawn == std::string::npos ? 0 : drawn + 1);
    const std::size_t result
        = printed.find(c.options.empty() || c.options[0] != "--json" ? "// Result: 12 //" : "\"result\":12");
    ASSERT_NE(result, std::string::npos) << printed;
    if (!c.shown) {
        EXPECT_EQ(printed.find('\033'), std::string::npos) << printed;
        return;
    }
    ASSERT_NE(drawn, std::string::npos) << printed;
    EXPECT_NE(printed.find("grey.bmp", drawn), std::string::npos) << printed;
    EXPECT_LT(erased, result) << printed;
}

INSTANTIATE_TEST_SUITE_P(Outputs, Progress,
    testing::Values(ProgressCase { "Terminal", true, {}, true },
        ProgressCase { "TerminalNoProgress", true, { "--no-progress" }, false },
        ProgressCase { "TerminalJson", true, { "--json" }, false },
        ProgressCase { "TerminalJsonProgress", true, { "--json", "--progress" }, true },
        ProgressCase { "Pipe", false, {}, false },
        ProgressCase { "PipeProgress", false, { "--progress" }, false }),
    [](const testing::TestParamInfo<ProgressCase>& info) { return std::string(info.param.name); });

}  // namespace
