// Runs the built hostbatch on each case under cases/ and compares everything it
// printed with the case's expected.txt, word for word. A case is a folder with
// `args` (hostbatch's arguments, in shell syntax, on one line), any scripts it
// names, an optional `stdin.txt`, an optional `stdout_to` naming where standard
// output goes instead of being kept (/dev/full), and `expected.txt`: standard output, then
// "--- stderr ---" and standard error, then "--- exit N ---". Each case runs in a
// fresh folder of its own that holds its files, `echo_plugin.so`, and a copy of
// it, `echo_copy.so`, whose commands clash with the original's.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> caseNames()
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(CASES_DIR))
        if (entry.is_directory())
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Single quotes keep a path whole in the shell; the paths here hold none.
std::string shellQuoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// A fresh working folder holding the case's files and the echo plug-in twice.
fs::path prepareWorkFolder(const fs::path& caseFolder, const std::string& name)
{
    const fs::path work = fs::path(WORK_DIR) / name;
    fs::remove_all(work);
    fs::create_directories(work);
    for (const fs::directory_entry& entry : fs::directory_iterator(caseFolder))
        if (entry.path().filename() != "expected.txt")
            fs::copy(entry.path(), work / entry.path().filename(), fs::copy_options::recursive);
    fs::create_symlink(ECHO_PLUGIN, work / "echo_plugin.so");
    // A copy, not a link, so that it loads as a library of its own.
    fs::copy_file(ECHO_PLUGIN, work / "echo_copy.so");
    return work;
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// Runs hostbatch in `work` with `arguments` (shell syntax) and standard input
// from `input`, and gives its transcript as a case's expected.txt holds one.
std::string transcriptOf(const fs::path& work, const std::string& arguments, const std::string& input)
{
    const std::string output
        = fs::exists(work / "stdout_to") ? firstLine(readFile(work / "stdout_to")) : "stdout.out";
    const std::string command = "cd " + shellQuoted(work) + " && " + shellQuoted(HOSTBATCH_BINARY) + " "
        + arguments + " <" + input + " >" + output + " 2>stderr.out";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status)) << command;
    const std::string printed = output == "stdout.out" ? readFile(work / "stdout.out") : "";
    return printed + "--- stderr ---\n" + readFile(work / "stderr.out") + "--- exit "
        + std::to_string(WEXITSTATUS(status)) + " ---\n";
}

class EndToEnd : public testing::TestWithParam<std::string> { };

TEST_P(EndToEnd, PrintsTheExpectedTranscript)
{
    const fs::path caseFolder = fs::path(CASES_DIR) / GetParam();
    const fs::path work = prepareWorkFolder(caseFolder, GetParam());
    const std::string input = fs::exists(work / "stdin.txt") ? "stdin.txt" : "/dev/null";
    const std::string arguments = firstLine(readFile(work / "args"));
    EXPECT_EQ(transcriptOf(work, arguments, input), readFile(caseFolder / "expected.txt")) << arguments;
}

// The language_forms script gives the transcript it gives from its file also
// from -c and on standard input, which runs each statement as it completes.
TEST(EndToEndSources, SameTranscriptFromAFileTheCommandLineAndStandardInput)
{
    const fs::path caseFolder = fs::path(CASES_DIR) / "language_forms";
    const fs::path work = prepareWorkFolder(caseFolder, "language_forms_sources");
    const std::string expected = readFile(caseFolder / "expected.txt");
    const std::string options = "--keep-going --plugin ./echo_plugin.so ";
    EXPECT_EQ(transcriptOf(work, options + "-c \"$(cat script.mel)\"", "/dev/null"), expected);
    EXPECT_EQ(transcriptOf(work, options + "-", "script.mel"), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, testing::ValuesIn(caseNames()),
    [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// A script of the library's path, pipe, deferred, option and system built-ins
// prints the same from a file, from -c and on standard input (where each
// statement runs as it is read, and the deferred one once the input ends).
TEST(SameTranscript, FromAFileFromDashCAndOnStandardInput)
{
    const std::string script = R"(string $path = "/data/shots/frame.0042.exr";
print (basename($path, ".exr") + " " + basenameEx($path) + " " + dirname($path) + " " + fileExtension($path) + "\n");
int $p = popen("printf 'x\\ny\\n'; exit 2", "r");
while (!feof($p)) { string $line = fgetline($p); if (size($line)) print ("got " + $line); }
print ("status " + pclose($p) + "\n");
evalDeferred "print \"deferred\\n\"";
optionVar -iv "runs" 1;
print (`optionVar -q "runs"` + " " + `about -batch` + " " + gmatch(`date -format "YYYY-MM-DD"`, "[0-9]*-[0-9]*-[0-9]*") + "\n");
float $start = `timerX`;
print ((`timerX -startTime $start` >= 0) + " " + chdir("."));
if (catchQuiet(`error "quietly"`)) print (" " + getLastError() + "\n");
print (system("echo system") + `pluginInfo -q -loaded "echo_plugin"`);
)";
    const std::string expected
        = "frame.0042 frame.0042 /data/shots exr\ngot x\ngot y\nstatus 2\n1 1 1\n1 0 quietly\n"
          "system\n0deferred\n";
    const fs::path work = fs::path(WORK_DIR) / "same_transcript";
    fs::remove_all(work);
    fs::create_directories(work / "home");
    {
        std::ofstream file(work / "script.mel", std::ios::binary);
        file << script;
    }
    const std::string prefix = "cd " + shellQuoted(work) + " && HOME=" + shellQuoted(work / "home") + " "
        + shellQuoted(HOSTBATCH_BINARY) + " ";
    std::string quotedScript = "'";
    for (const char c : script)
        quotedScript += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quotedScript += "'";
    for (const std::string& source :
        { std::string("script.mel"), "-c " + quotedScript, std::string("- <script.mel") }) {
        const std::string command = prefix + source + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << source;
        EXPECT_EQ(WEXITSTATUS(status), 0) << source;
        EXPECT_EQ(readFile(work / "out.txt"), expected) << source;
        EXPECT_EQ(readFile(work / "err.txt"), "") << source;
    }
}

}  // namespace
