// hostbatch's language on arbitrary text: parse it and, when it parses, run it
// against the echo test plug-in with a small step budget and small values.
// Besides the sanitizers, these must hold: a failed parse gives a line and a
// column and no statements; a run ends (the limits bound loops, recursion and
// growth); every outcome of a failing statement shows at least one error line
// or comes from a command; nothing is left in the script editor afterwards.
// The built-ins run too, those on files confined to the scratch folder: a path
// argument that is absolute or climbs out with ".." fails the call; `system`,
// `popen`, `putenv`, `chdir` and `trace` are replaced by ones that touch
// nothing, and optionVar keeps its variables in memory, as without a home
// folder.
#include <mel/Parser.h>
#include <mel/lib/Library.h>
#include <session/Session.h>

#include <host/ScriptEditor.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// Keeps the plug-in mapped between inputs, so that each session's load of it
// is quick.
void* keepPluginMapped()
{
    static void* const handle = dlopen(ECHO_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

// Each input starts in an empty folder: what one wrote must neither pile up
// nor change how the next runs.
void enterEmptyScratchFolder()
{
    static const bool entered = [] {
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "fuzz_script";
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        ::unsetenv("HOME");  // optionVar then saves nothing
        return true;
    }();
    (void)entered;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(".", error))
        std::filesystem::remove_all(entry.path(), error);
}

// Hands every call on to the built-in's own context, but refuses a text
// argument that could name a file outside the working folder.
class ConfinedCall final : public mel::Call {
public:
    explicit ConfinedCall(mel::Call& call)
        : call_(call)
    {
    }

    const std::string& name() const override { return call_.name(); }
    int line() const override { return call_.line(); }
    std::size_t count() const override { return call_.count(); }
    mel::Value value(std::size_t i) override { return call_.value(i); }
    const mel::Value& valueOf(std::size_t i, mel::Value& scratch) override
    {
        return call_.valueOf(i, scratch);
    }
    std::string text(std::size_t i) override
    {
        std::string text = call_.text(i);
        if (!text.empty() && (text.front() == '/' || text.find("..") != std::string::npos))
            call_.fail(call_.name() + ": outside the scratch folder");
        return text;
    }
    double number(std::size_t i) override { return call_.number(i); }
    void assign(std::size_t i, mel::Value value) override { call_.assign(i, std::move(value)); }
    bool attempt(std::size_t i, bool quiet) override { return call_.attempt(i, quiet); }
    void give(mel::Value value) override { call_.give(std::move(value)); }
    void checkSize(std::size_t size) override { call_.checkSize(size); }
    void checkText(std::size_t size) override { call_.checkText(size); }
    void runText(const std::string& text, const char* what, bool giveValue) override
    {
        call_.runText(text, what, giveValue);
    }
    void runFile(const std::string& path) override { call_.runFile(path); }
    mel::NameKind lookup(const std::string& name) override { return call_.lookup(name); }
    std::string procedureFile(const std::string& name) override { return call_.procedureFile(name); }
    std::optional<mel::Type> variableType(const std::string& name) override
    {
        return call_.variableType(name);
    }
    void checkInterrupt() override { call_.checkInterrupt(); }
    [[noreturn]] void endRun(std::optional<int> status) override { call_.endRun(status); }
    mel::SessionStore& store() override { return call_.store(); }

protected:
    void raise(const std::string* what, MStatus status) override
    {
        if (what != nullptr)
            call_.fail(*what);
        call_.failShown(status);
    }

private:
    mel::Call& call_;
};

void confineBuiltins(host::Session& session)
{
    std::vector<mel::Builtin> rows = mel::fileBuiltins();
    for (mel::Builtin& row : mel::languageBuiltins())
        if (row.name == "source")
            rows.push_back(std::move(row));
    for (mel::Builtin& row : rows) {
        mel::BuiltinFunction run = std::move(row.run);
        row.run = [run](mel::Call& call) {
            ConfinedCall confined(call);
            run(confined);
        };
        session.interpreter().addBuiltin(std::move(row));
    }
    session.interpreter().addBuiltin({ "system", 1, 1, [](mel::Call& call) { call.give(call.text(0)); } });
    // A command that cannot be started, as popen gives it.
    session.interpreter().addBuiltin({ "popen", 2, 2, [](mel::Call& call) {
                                          (void)call.text(0);
                                          (void)call.text(1);
                                          call.give(0);
                                      } });
    // The working folder stays the scratch folder the next input is cleared in.
    session.interpreter().addBuiltin({ "chdir", 1, 1, [](mel::Call& call) {
                                          (void)call.text(0);
                                          call.give(0);
                                      } });
    session.interpreter().addBuiltin({ "trace", 1, 2, [](mel::Call& call) {
                                          for (std::size_t i = 0; i < call.count(); ++i)
                                              (void)call.text(i);
                                      } });
    session.interpreter().addBuiltin({ "putenv", 2, 2, [](mel::Call& call) {
                                          (void)call.text(0);
                                          (void)call.text(1);
                                      } });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (keepPluginMapped() == nullptr)
        __builtin_trap();
    enterEmptyScratchFolder();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mel::ParsedSource parsed = mel::parseSource(text);
    if (!parsed.ok() && (!parsed.statements.empty() || parsed.errorLine < 1 || parsed.errorColumn < 1))
        __builtin_trap();

    host::Session session;
    confineBuiltins(session);
    std::vector<mel::Line> lines;
    if (!session.loadPlugin(ECHO_PLUGIN, lines).status)
        __builtin_trap();
    mel::Limits limits;
    limits.steps = 2000;
    limits.callDepth = 50;
    limits.valueSize = 1 << 16;
    limits.stringSize = 1 << 16;
    session.interpreter().setLimits(limits);
    std::size_t outcomes = 0;
    session.runScript(text, true, [&outcomes](const mel::StatementOutcome& outcome) {
        ++outcomes;
        // A syntax error always says where. (A statement that is a string
        // alone, "";, has an empty first word too, and succeeds silently.)
        if (!outcome.status && outcome.command.empty() && outcome.lines.empty())
            __builtin_trap();
    });
    if (!parsed.ok() && outcomes != 1)
        __builtin_trap();
    if (!host::ScriptEditor::take().empty())
        __builtin_trap();
    return 0;
}
