// hostbatch's language on arbitrary text: parse it and, when it parses, run it
// against the echo test plug-in with a small step budget and small values.
// Besides the sanitizers, these must hold: a failed parse gives a line and a
// column and no statements; a run ends (the limits bound loops, recursion and
// growth); every outcome of a failing statement shows at least one error line
// or comes from a command; nothing is left in the script editor afterwards.
#include "Parser.h"
#include "Session.h"

#include <host/ScriptEditor.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Keeps the plug-in mapped between inputs, so that each session's load of it
// is quick.
void* keepPluginMapped()
{
    static void* const handle = dlopen(ECHO_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

void enterScratchFolder()
{
    static const bool entered = [] {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "fuzz_script";
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        return true;
    }();
    (void)entered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (keepPluginMapped() == nullptr)
        __builtin_trap();
    enterScratchFolder();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const hostbatch::ParsedSource parsed = hostbatch::parseSource(text);
    if (!parsed.ok() && (!parsed.statements.empty() || parsed.errorLine < 1 || parsed.errorColumn < 1))
        __builtin_trap();

    hostbatch::Session session;
    std::vector<hostbatch::Line> lines;
    if (!session.loadPlugin(ECHO_PLUGIN, lines).status)
        __builtin_trap();
    hostbatch::Limits limits;
    limits.steps = 2000;
    limits.callDepth = 50;
    limits.valueSize = 1 << 16;
    limits.stringSize = 1 << 16;
    session.setLimits(limits);
    std::size_t outcomes = 0;
    session.runScript(text, true, [&outcomes](const hostbatch::StatementOutcome& outcome) {
        ++outcomes;
        if (outcome.command.empty() && outcome.lines.empty())
            __builtin_trap();  // a syntax error always says where
    });
    if (!parsed.ok() && outcomes != 1)
        __builtin_trap();
    if (!host::ScriptEditor::take().empty())
        __builtin_trap();
    return 0;
}
