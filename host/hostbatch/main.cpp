#include "ProgressLine.h"
#include "ScriptFile.h"
#include "Session.h"
#include "Transcript.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage
    = R"(Usage: hostbatch [--plugin PATH]... [--json] [--keep-going] [--time] [--progress | --no-progress]
                 [--pixel-budget PIXELS] [--limit NAME=N]... [-c COMMAND | SCRIPT | -]...

Runs scripts in the host's command language (MEL) against plug-ins, like the
host's script editor.

  --plugin PATH   load the plug-in at PATH before any script runs (repeatable)
  --json          print one JSON object per statement instead of the text transcript
  --keep-going    run every top-level statement, even after one has failed
  --time          add each statement's wall time: '// Time: 12.345 ms //' after
                  its lines, or "ms":12.345 in its JSON object
  --progress, --no-progress
                  show, or not, one live line while a command reads or writes
                  images (files read and written, per second, the last name),
                  erased when it ends; only when standard error is a terminal,
                  and by default only without --json
  --pixel-budget PIXELS
                  the most pixels an image file may hold to be read, 1 to
                  1073741824 (default 268435456, 16384 x 16384, or the
                  environment variable PICTILE_PIXEL_BUDGET)
  --limit NAME=N  bound what one statement may use (0: no bound); NAME is
                    array   elements of an array (default 16777216)
                    string  bytes of a string (default 67108864)
                    script  bytes of a script file, or of one statement on
                            standard input (default 67108864)
                    output  bytes of lines one statement holds with --json,
                            which shows them only once it ends (default 67108864)
                    steps   statements and expressions one top-level statement
                            evaluates (default 0)
                    calls   procedures, eval and source running inside one
                            another (default 1000; however many, the script
                            nests no deeper than 6000 levels)
                  A statement past a bound fails with an error; Ctrl-C stops the
                  running statement the same way (a second one ends hostbatch)
  -c COMMAND      run COMMAND, a script given on the command line
  SCRIPT          run the script file SCRIPT
  -               run the script on standard input (also when no source is given)
  -h, --help      print this help
  --version       print hostbatch's version
  --              treat every later argument as a script file

Sources run in the order given, in one session: top-level variables and
procedures stay for the later sources. The language:
  statements    end at ';' (line ends are spaces; the last may leave it out);
                '//' and '/* */' are comments; "strings" take \" \\ \n \t \r
  commands      name -flag word "string" $variable (expression) `command`;
                (int) $f casts the next argument; an array argument gives
                each element as one argument
  values        int, float, string and arrays: int $a[] = {1, 2}; $a[5] = 7;
  vectors       vector $v = <<1, 2.5, $x>>; $v.x $v.y $v.z (read only); + and -;
                * of two vectors is the dot product, by a number scales; / by
                a number; ^ the cross product; < > <= >= compare lengths;
                mag($v); print $v shows 1 2.5 2; vector $a[] = {$v}; $a[0].x
  expressions   + - * / % (int / int divides whole), + joins strings,
                == != < <= > >= && || ! ?: = += -= *= /= ++ --
  results       string $names[] = `resizeFunction -folder "images/" -size 128 -number 4`;
  control       if/else, while, do/while, for (;;), for ($x in $array), switch
                (case, default, falling through), break, continue, { blocks }
  procedures    global proc int darkest(string $file) { ...; return $i; }
                called as darkest("a.png") or as a command: darkest "a.png";
  built-ins     )";

// After the list of built-ins, which comes from the interpreter's table.
constexpr const char* kUsageEnd = R"(
                (source "x.mel" and a call of a procedure not defined yet look
                for x.mel or the procedure's NAME.mel in the folders of
                MAYA_SCRIPT_PATH)
Any other name runs the registered command of that name. A file or -c source
with a syntax error ('// Error: line L.C: what //') runs nothing of itself;
standard input runs each top-level statement as soon as its ';' is read (an
'if' once the next word shows that no 'else' follows).
Paths are relative to the working directory.

Text transcript, per top-level statement: its script-editor lines ('// Error: ... //',
'// Warning: ... //', info lines as they are) and print output, in order, then
'// Result: value //' when it was a call that gave a value. A failing statement
inside shows '// Error: line L: what //'. With --json, per top-level statement:
  {"command":"name","status":0,"result":value or null,"lines":[{"kind":"info","text":"..."}]}
with print output as kind "output" and "command" the statement's first word.
JSON text is UTF-8: a byte that is not part of valid UTF-8 is written as the
escape \udcXX (XX the byte, 80 to ff), which valid text never holds.
Status prints of the plug-ins go to standard error only. Lines that a --plugin
load shows are printed like those of a loadPlugin statement.

Exit status: 0 when every statement succeeded, 1 when one failed (the run stops
there unless --keep-going) or the transcript could not be written, 2 for a usage
error, an unreadable script, or a --plugin that could not be fully loaded.

Example:
  hostbatch --plugin ./pictile.so -c 'queryFunction -f "image.png" -qX'
  // Result: 640 //
)";

volatile std::sig_atomic_t interrupted = 0;

// Ctrl-C asks the running statement to stop; a second one, before a statement
// has seen the first, ends hostbatch as Ctrl-C ends any program.
extern "C" void interrupt(int signal)
{
    if (interrupted != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    interrupted = 1;
}

// The built-in names, filled into lines as wide as the rest of the help.
std::string builtinList()
{
    const hostbatch::Session session;
    std::string list;
    std::size_t width = 16;
    for (const std::string& name : session.builtinNames()) {
        if (width + 1 + name.size() > 79 && width > 16) {
            list += "\n                ";
            width = 16;
        } else if (width > 16) {
            list += ' ';
            ++width;
        }
        list += name;
        width += name.size();
    }
    return list;
}

constexpr const char* kHelpHint = "\nTry 'hostbatch --help'.";

constexpr const char* kBudgetVariable = "PICTILE_PIXEL_BUDGET";
constexpr const char* kBudgetError = "the pixel budget must be a whole number of pixels from 1 to 1073741824";

// 1 to 2^30 in decimal digits: the range the image services accept.
bool isPixelBudget(const char* text)
{
    std::uint64_t value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || value > (std::uint64_t(1) << 30))
            return false;
        value = value * 10 + std::uint64_t(*digit - '0');
    }
    return *text != '\0' && value >= 1 && value <= (std::uint64_t(1) << 30);
}

// Far above what a batch script needs, far below what would exhaust the machine.
hostbatch::Limits defaultLimits()
{
    hostbatch::Limits limits;
    limits.valueSize = std::size_t { 1 } << 24;
    limits.stringSize = std::size_t { 64 } << 20;
    limits.sourceSize = std::size_t { 64 } << 20;
    limits.outputSize = std::size_t { 64 } << 20;
    return limits;
}

// Sets the limit `NAME=N`; false when it is no such setting.
bool setLimit(const std::string& setting, hostbatch::Limits& limits)
{
    const std::size_t equals = setting.find('=');
    if (equals == std::string::npos || equals + 1 == setting.size())
        return false;
    const std::string name = setting.substr(0, equals);
    const std::string number = setting.substr(equals + 1);
    if (number.find_first_not_of("0123456789") != std::string::npos || number.size() > 18)
        return false;
    const unsigned long long value = std::stoull(number);
    if (name == "array")
        limits.valueSize = value;
    else if (name == "string")
        limits.stringSize = value;
    else if (name == "script")
        limits.sourceSize = value;
    else if (name == "output")
        limits.outputSize = value;
    else if (name == "steps")
        limits.steps = value;
    else if (name == "calls")
        limits.callDepth = static_cast<int>(std::min<unsigned long long>(value, INT_MAX));
    else
        return false;
    return true;
}

struct Source {
    std::string name;
    std::string text;
    bool standardInput = false;  ///< Read as it runs, not up front.
    bool file = false;  ///< A script file, named by `name`.
};

enum class Choice { Default, Yes, No };

struct Options {
    std::vector<std::string> plugins;
    hostbatch::Limits limits = defaultLimits();
    bool json = false;
    bool keepGoing = false;
    bool time = false;
    Choice progress = Choice::Default;
    bool help = false;
    bool version = false;
    std::vector<Source> sources;
};

Source standardInput()
{
    Source source;
    source.name = "<stdin>";
    source.standardInput = true;
    return source;
}

// Reads every option and file source up front, so that a usage error runs nothing.
bool parseArguments(int argc, char** argv, Options& options, std::string& error)
{
    bool sourcesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasValue = i + 1 < argc;
        Source source;
        if (sourcesOnly || argument.empty() || argument.front() != '-') {
            source.name = std::string(argument);
            source.file = true;
            if (!hostbatch::readScriptFile(source.name, options.limits.sourceSize, source.text, error))
                return false;
        } else if (argument == "-") {
            source = standardInput();
        } else if (argument == "--") {
            sourcesOnly = true;
            continue;
        } else if (argument == "-h" || argument == "--help") {
            options.help = true;
            return true;
        } else if (argument == "--version") {
            options.version = true;
            return true;
        } else if (argument == "--json") {
            options.json = true;
            continue;
        } else if (argument == "--keep-going") {
            options.keepGoing = true;
            continue;
        } else if (argument == "--time") {
            options.time = true;
            continue;
        } else if (argument == "--progress" || argument == "--no-progress") {
            options.progress = argument == "--progress" ? Choice::Yes : Choice::No;
            continue;
        } else if (argument == "--pixel-budget") {
            if (!hasValue || !isPixelBudget(argv[i + 1])) {
                error = std::string(kBudgetError) + kHelpHint;
                return false;
            }
            // The image services read the budget from the environment.
            setenv(kBudgetVariable, argv[++i], 1);
            continue;
        } else if (argument == "--limit") {
            if (!hasValue || !setLimit(argv[++i], options.limits)) {
                error
                    = "option '--limit' needs NAME=N, NAME one of array, string, script, output, steps, calls"
                    + std::string(kHelpHint);
                return false;
            }
            continue;
        } else if (argument == "--plugin" || argument == "-c") {
            if (!hasValue) {
                error = "option '" + std::string(argument) + "' needs an argument" + kHelpHint;
                return false;
            }
            ++i;
            if (argument == "--plugin") {
                options.plugins.emplace_back(argv[i]);
                continue;
            }
            source = Source { "<command>", argv[i] };
        } else {
            error = "unknown option '" + std::string(argument) + "'" + kHelpHint;
            return false;
        }
        options.sources.push_back(std::move(source));
    }
    if (options.sources.empty())
        options.sources.push_back(standardInput());
    return true;
}

// Writes each statement's transcript and flushes it, so that it stays in order
// with what the plug-ins wrote to standard error meanwhile. A large result goes
// out in chunks as it is formatted. Remembers the first failed write.
class TranscriptWriter {
public:
    explicit TranscriptWriter(bool json)
        : json_(json)
    {
        out_.drain = [this](std::string& text) { put(text); };
    }

    void write(const hostbatch::StatementOutcome& outcome)
    {
        out_.text.clear();
        try {
            if (json_)
                hostbatch::appendJson(out_, outcome);
            else
                hostbatch::appendText(out_, outcome);
        } catch (const std::bad_alloc&) {
            out_.text.clear();
            out_.text.shrink_to_fit();
            out_.text = json_
                ? R"({"command":"","status":1,"result":null,"lines":[{"kind":"error","text":"out of memory"}]})"
                  "\n"
                : "// Error: out of memory //\n";
        }
        put(out_.text);
        if (std::fflush(stdout) != 0)
            fail();
    }

    /// Flushes and closes standard output; false when anything written was lost.
    bool finish()
    {
        if (std::fflush(stdout) != 0)
            fail();
        if (std::fclose(stdout) != 0)
            fail();
        return error_ == 0;
    }

    bool failed() const { return error_ != 0; }
    int error() const { return error_; }

private:
    void put(std::string& text)
    {
        if (error_ == 0 && !text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
            fail();
        text.clear();
    }

    void fail()
    {
        if (error_ == 0)
            error_ = errno != 0 ? errno : EIO;
    }

    bool json_;
    hostbatch::TranscriptOut out_;
    int error_ = 0;
};

// Loads the --plugin plug-ins; false after telling standard error which one failed.
bool loadPlugins(hostbatch::Session& session, const Options& options, TranscriptWriter& writer)
{
    for (const std::string& path : options.plugins) {
        hostbatch::StatementOutcome load;
        load.command = "loadPlugin";
        const host::PluginLoader::LoadOutcome outcome = session.loadPlugin(path, load.lines);
        load.status = outcome.status;
        if (!load.lines.empty())
            writer.write(load);
        if (!outcome.status) {
            const std::string reason
                = outcome.error.empty() ? std::string(outcome.status.errorString().asChar()) : outcome.error;
            std::fprintf(stderr, "hostbatch: cannot load plug-in '%s': %s\n", path.c_str(), reason.c_str());
            return false;
        }
    }
    return true;
}

int runHostbatch(int argc, char** argv)
{
    Options options;
    std::string usageError;
    if (!parseArguments(argc, argv, options, usageError)) {
        std::fprintf(stderr, "hostbatch: %s\n", usageError.c_str());
        return 2;
    }
    const char* budget = std::getenv(kBudgetVariable);
    if (budget != nullptr && !isPixelBudget(budget)) {
        std::fprintf(stderr, "hostbatch: %s: %s\n", kBudgetVariable, kBudgetError);
        return 2;
    }
    if (options.help) {
        const bool written = std::fputs(kUsage, stdout) >= 0 && std::fputs(builtinList().c_str(), stdout) >= 0
            && std::fputs(kUsageEnd, stdout) >= 0;
        if (!written || std::fflush(stdout) != 0 || std::fclose(stdout) != 0) {
            std::fprintf(stderr, "hostbatch: cannot write the help: %s\n", std::strerror(errno));
            return 1;
        }
        return 0;
    }
    if (options.version) {
        std::puts("hostbatch (pictile) " PICTILE_VERSION);
        return 0;
    }

    // The progress line goes to a terminal only: in a pipe or a file its
    // redrawing would be noise.
    std::unique_ptr<hostbatch::ProgressLine> progress;
    const bool progressWanted
        = options.progress == Choice::Default ? !options.json : options.progress == Choice::Yes;
    if (progressWanted && isatty(STDERR_FILENO)) {
        progress = std::make_unique<hostbatch::ProgressLine>(STDERR_FILENO);
        host::observeActivity(progress.get());
    }
    const struct StopObserving {
        ~StopObserving() { host::observeActivity(nullptr); }
    } stopObserving;

    hostbatch::Session session;
    session.timeStatements(options.time);
    session.setLimits(options.limits);
    // The text transcript can show a statement's lines before it ends; a JSON
    // object cannot, so there they are held, to the output limit.
    session.streamLines(!options.json);
    session.setInterruptFlag(&interrupted);
    struct sigaction onInterrupt { };
    onInterrupt.sa_handler = interrupt;
    sigemptyset(&onInterrupt.sa_mask);
    sigaction(SIGINT, &onInterrupt, nullptr);
    TranscriptWriter writer(options.json);
    if (!loadPlugins(session, options, writer))
        return 2;

    const auto report = [&writer, &session](const hostbatch::StatementOutcome& outcome) {
        writer.write(outcome);
        if (writer.failed())
            session.requestStop();  // nothing more can be shown
    };
    // read, not fread: it returns what has arrived, so that a statement typed at
    // a terminal runs when its line is entered.
    const auto readInput = [](char* buffer, std::size_t size) -> long {
        while (true) {
            const ssize_t count = ::read(STDIN_FILENO, buffer, size);
            if (count >= 0 || errno != EINTR)
                return static_cast<long>(count);
        }
    };
    bool allSucceeded = true;
    for (const Source& source : options.sources) {
        bool succeeded = false;
        if (source.standardInput) {
            bool readFailed = false;
            succeeded = session.runStream(readInput, options.keepGoing, report, readFailed);
            if (readFailed) {
                std::fprintf(stderr, "hostbatch: cannot read standard input: %s\n", std::strerror(errno));
                return 2;
            }
        } else {
            succeeded = session.runScript(
                source.text, options.keepGoing, report, source.file ? source.name : std::string());
        }
        if (writer.failed())
            break;
        if (succeeded)
            continue;
        allSucceeded = false;
        if (!options.keepGoing)
            break;
    }
    if (!writer.finish()) {
        std::fprintf(stderr, "hostbatch: cannot write the transcript: %s\n", std::strerror(writer.error()));
        return 1;
    }
    return allSucceeded ? 0 : 1;
}

// Scripts run on a thread of their own, whose stack is sized for the
// interpreter's deepest nesting (6000 levels), so that a deep recursion ends
// with the interpreter's error line rather than a stack overflow. The costliest
// levels measured, a script that sources itself, take 21 MiB for 6000 levels in
// the AddressSanitizer build (3.6 KiB a level) and 8.4 MiB in the release
// build, more than the main thread's usual 8 MiB; the stack is reserved
// address space, used only as deep as a script goes.
constexpr std::size_t kScriptStack = std::size_t { 256 } << 20;

struct Run {
    int argc;
    char** argv;
    int status;
};

extern "C" void* runOnScriptThread(void* data)
{
    Run& run = *static_cast<Run*>(data);
    run.status = runHostbatch(run.argc, run.argv);
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    Run run { argc, argv, 1 };
    pthread_attr_t attributes;
    pthread_t thread;
    int error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstacksize(&attributes, kScriptStack);
        if (error == 0)
            error = pthread_create(&thread, &attributes, runOnScriptThread, &run);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        std::fprintf(stderr, "hostbatch: cannot start the script thread: %s\n", std::strerror(error));
        return 2;
    }
    // Ctrl-C then reaches the script's thread, as it did when scripts ran on
    // this one: its handler runs there, and a read waiting there sees EINTR.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    pthread_join(thread, nullptr);
    return run.status;
}
