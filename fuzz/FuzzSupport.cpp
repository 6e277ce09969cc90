#include "FuzzSupport.h"

#include "averageFunction.h"
#include "depthFunction.h"
#include "queryFunction.h"
#include "resizeFunction.h"

#include <maya/MArgList.h>
#include <maya/MImage.h>
#include <maya/MString.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <unistd.h>

namespace fuzzsupport {

namespace fs = std::filesystem;

fs::path enterScratchFolder(const std::string& name)
{
    const fs::path folder = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::current_path(folder);
    return folder;
}

void writeSampleImage(const std::string& path, unsigned int width, unsigned int height, const char* format)
{
    MImage image;
    if (!image.create(width, height))
        std::abort();
    unsigned char* bytes = image.pixels();
    for (std::size_t i = 0; i < std::size_t { width } * height * 4; ++i)
        bytes[i] = static_cast<unsigned char>(i * 37 % 251);
    if (!image.writeToFile(MString(path), MString(format)))
        std::abort();
}

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file)
        std::abort();
}

PictileCommands::PictileCommands()
{
    struct Command {
        const char* name;
        MCreatorFunction creator;
        MCreateSyntaxFunction newSyntax;
    };
    const Command commands[] = {
        { "queryFunction", queryFunction::creator, queryFunction::newSyntax },
        { "depthFunction", depthFunction::creator, depthFunction::newSyntax },
        { "averageFunction", averageFunction::creator, averageFunction::newSyntax },
        { "resizeFunction", resizeFunction::creator, resizeFunction::newSyntax },
    };
    for (const Command& command : commands) {
        if (!registry_.registerCommand(owner_, command.name, command.creator, command.newSyntax))
            std::abort();
    }
}

host::Invocation PictileCommands::run(const std::string& name, const std::vector<std::string>& words)
{
    MArgList args;
    for (const std::string& word : words)
        args.addArg(MString(word));
    host::ScriptEditor::take();
    host::Invocation invocation = registry_.run(name, args);
    const std::vector<host::EditorLine> lines = host::ScriptEditor::take();

    const auto count = [&lines](host::LineKind kind) {
        return std::count_if(
            lines.begin(), lines.end(), [kind](const host::EditorLine& line) { return line.kind == kind; });
    };
    const long expectedErrors = invocation.status ? 0 : 1;
    if (count(host::LineKind::Error) != expectedErrors || count(host::LineKind::StatusPrint) != 0) {
        std::fprintf(stderr, "%s: status %d with %zu lines:\n", name.c_str(),
            static_cast<int>(invocation.status.statusCode()), lines.size());
        for (const host::EditorLine& line : lines)
            std::fprintf(stderr, "  %s: %s\n", host::lineKindName(line.kind), line.text.c_str());
        __builtin_trap();
    }
    return invocation;
}

}  // namespace fuzzsupport
