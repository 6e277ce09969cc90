// Writes that cannot complete: resizeFunction must show "cant write to file!",
// fail, leave no partial or temporary file and keep every earlier file as it
// was. A write writes only the file it created, whatever happens to names in
// the folder meanwhile, and a signal during it leaves no temporary file. Two
// hosts writing the same outputs at once must each leave whole files.
#include "RobustnessSupport.h"

#include <host/CommandRegistry.h>
#include <host/ImageFaults.h>
#include <host/PluginLoader.h>
#include <host/ScriptEditor.h>
#include <maya/MArgList.h>
#include <maya/MImage.h>
#include <maya/MString.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace robustness {
namespace {

namespace fs = std::filesystem;

const std::string kCantWrite = "// Error: cant write to file! //\n";

std::vector<std::string> entriesOf(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void prepareImages(const Workspace& folder, const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names) {
        writeGradient(folder.file("images/" + name), 24, 18, "png");
        list += name + "\n";
    }
    writeBytes(folder.file(kListFile), Bytes(list.begin(), list.end()));
}

std::string resizeStatement(std::size_t names)
{
    return "resizeFunction -folder \"images/\" -size 64 -number " + std::to_string(names + 1) + ";\n";
}

void expectWholeIff(const std::string& path)
{
    MImage image;
    ASSERT_TRUE(image.readFromFile(MString(path))) << path;
    unsigned int width = 0;
    unsigned int height = 0;
    image.getSize(width, height);
    EXPECT_EQ(width, 32u) << path;
    EXPECT_EQ(height, 32u) << path;
}

struct FaultRow {
    const char* name;
    std::function<void(const Workspace&)> breakOutput;
    std::vector<std::string> outputEntries;  // what the output folder holds afterwards
};

class WriteFault : public testing::TestWithParam<FaultRow> { };

TEST_P(WriteFault, ShowsOneErrorAndKeepsEarlierOutputs)
{
    Workspace folder;
    prepareImages(folder, { "a.png", "b.png" });
    GetParam().breakOutput(folder);
    const HostbatchRun run = folder.hostbatch(resizeStatement(2));
    EXPECT_EQ(run.out, kCantWrite);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    const fs::path output = folder.file(kOutputFolder);
    if (GetParam().outputEntries.empty()) {
        EXPECT_EQ(entriesOf(output.parent_path().parent_path()), std::vector<std::string> { "DIRlist.txt" });
        return;
    }
    EXPECT_EQ(entriesOf(output), GetParam().outputEntries);
    if (fs::is_regular_file(output / "a.iff"))
        expectWholeIff((output / "a.iff").string());
}

INSTANTIATE_TEST_SUITE_P(Robustness, WriteFault,
    testing::Values(FaultRow { "output_folder_missing",
                        [](const Workspace& f) { fs::remove_all(f.file(kOutputFolder)); }, {} },
        FaultRow { "output_path_is_directory",
            [](const Workspace& f) { fs::create_directory(f.file(std::string(kOutputFolder) + "a.iff")); },
            { "a.iff" } },
        FaultRow { "second_output_path_is_directory",
            [](const Workspace& f) { fs::create_directory(f.file(std::string(kOutputFolder) + "b.iff")); },
            { "a.iff", "b.iff" } }),
    [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

// The real plug-in in this process, so that the host's write hooks can stand in
// for a disk that fills up during the write, or hold a write at one moment.
class InProcessHost : public testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        fs::current_path(folder_.path());
        loader_ = std::make_unique<host::PluginLoader>(registry_);
        ASSERT_TRUE(loader_->load(PICTILE_PLUGIN).status);
        host::ScriptEditor::take();
    }
    void TearDown() override
    {
        loader_.reset();
        fs::current_path(previous_);
    }

    host::Invocation resize(unsigned int count)
    {
        MArgList args;
        for (const char* word : { "-folder", "images/", "-size", "64", "-number" })
            args.addArg(MString(word));
        args.addArg(MString(std::to_string(count)));
        return registry_.run("resizeFunction", args);
    }

    Workspace folder_;
    host::CommandRegistry registry_;
    std::unique_ptr<host::PluginLoader> loader_;
    fs::path previous_;
};

class FullDisk : public InProcessHost, public testing::WithParamInterface<bool> { };

TEST_P(FullDisk, FailsAndKeepsTheEarlierFileByteForByte)
{
    const bool earlierFile = GetParam();
    prepareImages(folder_, { "a.png" });
    const std::string target = std::string(kOutputFolder) + "a.iff";
    const Bytes earlier = { 'e', 'a', 'r', 'l', 'i', 'e', 'r', 0, 1, 2 };
    if (earlierFile)
        writeBytes(target, earlier);

    host::Invocation invocation;
    {
        host::ImageWriteFailure diskFull;
        invocation = resize(2);
    }
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(host::ScriptEditor::take(),
        std::vector<host::EditorLine>({ { host::LineKind::Error, "cant write to file!" } }));
    if (earlierFile) {
        EXPECT_EQ(entriesOf(kOutputFolder), std::vector<std::string> { "a.iff" });
        EXPECT_EQ(readBytes(target), earlier);
    } else {
        EXPECT_TRUE(entriesOf(kOutputFolder).empty());
    }

    // The same batch once the disk has room again replaces the file whole.
    EXPECT_TRUE(resize(2).status);
    expectWholeIff(target);
}

INSTANTIATE_TEST_SUITE_P(Robustness, FullDisk, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return info.param ? "over_earlier_file" : "no_earlier_file";
});

// A write held just before its file is put in place, while something else acts
// in the output folder.
struct PauseRow {
    const char* name;
    bool namedTemporary;
    bool swapsTemporaryForSymlink;  // else it checks that no temporary name exists
    bool succeeds;
};

void PrintTo(const PauseRow& row, std::ostream* out)
{
    *out << row.name;
}

class PausedWrite : public InProcessHost, public testing::WithParamInterface<PauseRow> { };

std::vector<std::string> temporaryNames()
{
    std::vector<std::string> names;
    for (const std::string& name : entriesOf(kOutputFolder))
        if (name != "a.iff")
            names.push_back(name);
    return names;
}

TEST_P(PausedWrite, WritesOnlyTheFileItMade)
{
    const PauseRow& row = GetParam();
    prepareImages(folder_, { "a.png" });
    const std::string outside = folder_.file("outside.txt");
    const Bytes untouched = { 'k', 'e', 'e', 'p' };
    writeBytes(outside, untouched);
    std::vector<std::string> seen;
    host::Invocation invocation;
    {
        const host::ImageWritePause pause(
            [&] {
                seen = temporaryNames();
                if (row.swapsTemporaryForSymlink && seen.size() == 1) {
                    const fs::path temporary = fs::path(kOutputFolder) / seen.front();
                    fs::remove(temporary);
                    fs::create_symlink(outside, temporary);
                }
            },
            row.namedTemporary);
        invocation = resize(2);
    }
    EXPECT_EQ(seen.size(), row.namedTemporary ? 1u : 0u);
    EXPECT_EQ(readBytes(outside), untouched);
    if (row.succeeds) {
        EXPECT_TRUE(invocation.status);
        EXPECT_TRUE(host::ScriptEditor::take().empty());
        EXPECT_EQ(entriesOf(kOutputFolder), std::vector<std::string> { "a.iff" });
        expectWholeIff(std::string(kOutputFolder) + "a.iff");
        return;
    }
    EXPECT_EQ(invocation.status, MS::kFailure);
    EXPECT_EQ(host::ScriptEditor::take(),
        std::vector<host::EditorLine>({ { host::LineKind::Error, "cant write to file!" } }));
    EXPECT_TRUE(entriesOf(kOutputFolder).empty());
}

INSTANTIATE_TEST_SUITE_P(Robustness, PausedWrite,
    testing::Values(PauseRow { "unnamed_temporary_has_no_name_to_swap", false, false, true },
        PauseRow { "named_temporary_written", true, false, true },
        PauseRow { "named_temporary_swapped_for_symlink", true, true, false }),
    [](const testing::TestParamInfo<PauseRow>& info) { return std::string(info.param.name); });

// SIGINT or SIGTERM in the middle of a write, in a child process: the process
// ends by the signal as usual and leaves no temporary file, and an earlier
// output stays whole. A signal the process ignores stays ignored: the write
// goes on and replaces the earlier output.
struct SignalRow {
    const char* name;
    int signal;
    bool namedTemporary;
    bool ignored = false;
};

void PrintTo(const SignalRow& row, std::ostream* out)
{
    *out << row.name;
}

class SignalDuringWrite : public InProcessHost, public testing::WithParamInterface<SignalRow> { };

TEST_P(SignalDuringWrite, LeavesNoTemporaryFile)
{
    const SignalRow& row = GetParam();
    prepareImages(folder_, { "a.png" });
    const std::string target = std::string(kOutputFolder) + "a.iff";
    const Bytes earlier = { 'e', 'a', 'r', 'l', 'i', 'e', 'r' };
    writeBytes(target, earlier);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The image already has the size asked for (24 x 18 = 432), so the child
        // only reads and writes.
        if (row.ignored)
            std::signal(row.signal, SIG_IGN);
        const host::ImageWritePause pause([&row] { raise(row.signal); }, row.namedTemporary);
        MArgList args;
        for (const char* word : { "-folder", "images/", "-size", "432", "-number", "2" })
            args.addArg(MString(word));
        registry_.run("resizeFunction", args);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (row.ignored) {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(entriesOf(kOutputFolder), std::vector<std::string> { "a.iff" });
        MImage written;
        ASSERT_TRUE(written.readFromFile(MString(target.c_str())));
        unsigned int width = 0;
        unsigned int height = 0;
        written.getSize(width, height);
        EXPECT_EQ(std::make_pair(width, height), std::make_pair(24u, 18u));
        return;
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child exited with " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), row.signal);
    EXPECT_EQ(entriesOf(kOutputFolder), std::vector<std::string> { "a.iff" });
    EXPECT_EQ(readBytes(target), earlier);
}

INSTANTIATE_TEST_SUITE_P(Robustness, SignalDuringWrite,
    testing::Values(SignalRow { "sigterm_named_temporary", SIGTERM, true },
        SignalRow { "sigint_named_temporary", SIGINT, true },
        SignalRow { "sigterm_unnamed_temporary", SIGTERM, false },
        SignalRow { "sigint_ignored_named_temporary", SIGINT, true, true },
        SignalRow { "sigterm_ignored_named_temporary", SIGTERM, true, true }),
    [](const testing::TestParamInfo<SignalRow>& info) { return std::string(info.param.name); });

TEST(ConcurrentHosts, BothLeaveWholeOutputs)
{
    Workspace folder;
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i)
        names.push_back("p" + std::to_string(i) + ".png");
    prepareImages(folder, names);
    std::string script;
    for (int round = 0; round < 4; ++round)
        script += resizeStatement(names.size());

    const std::vector<HostbatchRun> runs = folder.hostbatchTogether({ script, script });
    for (const HostbatchRun& run : runs) {
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(run.err, "");
    }
    std::vector<std::string> expected;
    for (const std::string& name : names)
        expected.push_back(name.substr(0, name.size() - 4) + ".iff");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entriesOf(folder.file(kOutputFolder)), expected);
    for (const std::string& output : expected)
        expectWholeIff(folder.file(std::string(kOutputFolder) + output));
}

}  // namespace
}  // namespace robustness
