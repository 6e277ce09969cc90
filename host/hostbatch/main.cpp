#include "Session.h"
#include "Transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage
    = R"(Usage: hostbatch [--plugin PATH]... [--json] [--keep-going] [--time] [-c COMMAND | SCRIPT | -]...

Runs command scripts against plug-ins, like the host's script editor.

  --plugin PATH   load the plug-in at PATH before any script runs (repeatable)
  --json          print one JSON object per statement instead of the text transcript
  --keep-going    run every statement, even after one has failed
  --time          add each statement's wall time: '// Time: 12.345 ms //' after
                  its lines, or "ms":12.345 in its JSON object
  -c COMMAND      run COMMAND, a script given on the command line
  SCRIPT          run the script file SCRIPT
  -               run the script on standard input (also when no source is given)
  -h, --help      print this help
  --version       print hostbatch's version
  --              treat every later argument as a script file

Sources run in the order given, in one session. Statements end at ';' or a line
end; '//' and '/* */' are comments; "double-quoted" strings take the escapes
\" \\ \n \t. A statement's first word names the command and the rest are its
arguments. Built-ins: loadPlugin "PATH" and unloadPlugin "NAME". A source with a
syntax error reports it and runs nothing of that source. Paths are relative to
the working directory.

Text transcript, per statement: its script-editor lines ('// Error: ... //',
'// Warning: ... //', info lines as they are), then '// Result: value //' when it
set a result. With --json, per statement:
  {"command":"name","status":0,"result":value or null,"lines":[{"kind":"info","text":"..."}]}
Status prints of the plug-ins go to standard error only. Lines that a --plugin
load shows are printed like those of a loadPlugin statement.

Exit status: 0 when every statement succeeded, 1 when one failed (the run stops
there unless --keep-going), 2 for a usage error, an unreadable script, or a
--plugin that could not be fully loaded.

Example:
  hostbatch --plugin ./pictile.so -c 'queryFunction -f "image.png" -qX'
  // Result: 640 //
)";

constexpr const char* kHelpHint = "\nTry 'hostbatch --help'.";

struct Source {
    std::string name;
    std::string text;
};

struct Options {
    std::vector<std::string> plugins;
    bool json = false;
    bool keepGoing = false;
    bool time = false;
    bool help = false;
    bool version = false;
    std::vector<Source> sources;
};

// Appends everything left in `file`; false on a read error.
bool readWhole(std::FILE* file, std::string& text)
{
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, count);
    return !std::ferror(file);
}

bool readScriptFile(const std::string& path, Source& source, std::string& error)
{
    source.name = path;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read script '" + path + "': " + std::strerror(errno);
        return false;
    }
    const bool read = readWhole(file, source.text);
    const int readErrno = errno;
    std::fclose(file);
    if (!read)
        error = "cannot read script '" + path + "': " + std::strerror(readErrno);
    return read;
}

bool readStandardInput(Source& source, std::string& error)
{
    source.name = "<stdin>";
    if (readWhole(stdin, source.text))
        return true;
    error = std::string("cannot read standard input: ") + std::strerror(errno);
    return false;
}

// Reads every option and source up front, so that a usage error runs nothing.
bool parseArguments(int argc, char** argv, Options& options, std::string& error)
{
    bool sourcesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasValue = i + 1 < argc;
        Source source;
        if (sourcesOnly || argument.empty() || argument.front() != '-') {
            if (!readScriptFile(std::string(argument), source, error))
                return false;
        } else if (argument == "-") {
            if (!readStandardInput(source, error))
                return false;
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
    if (options.sources.empty()) {
        Source source;
        if (!readStandardInput(source, error))
            return false;
        options.sources.push_back(std::move(source));
    }
    return true;
}

// Writes each statement's transcript in one piece and flushes it, so that it
// stays in order with what the plug-ins wrote to standard error meanwhile.
class TranscriptWriter {
public:
    explicit TranscriptWriter(bool json)
        : json_(json)
    {
    }

    void write(const hostbatch::StatementOutcome& outcome)
    {
        buffer_.clear();
        if (json_)
            hostbatch::appendJson(buffer_, outcome);
        else
            hostbatch::appendText(buffer_, outcome);
        std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        std::fflush(stdout);
    }

private:
    bool json_;
    std::string buffer_;
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

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    std::string usageError;
    if (!parseArguments(argc, argv, options, usageError)) {
        std::fprintf(stderr, "hostbatch: %s\n", usageError.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::puts("hostbatch (pictile) " PICTILE_VERSION);
        return 0;
    }

    hostbatch::Session session;
    session.timeStatements(options.time);
    TranscriptWriter writer(options.json);
    if (!loadPlugins(session, options, writer))
        return 2;

    const auto report = [&writer](const hostbatch::StatementOutcome& outcome) { writer.write(outcome); };
    bool allSucceeded = true;
    for (const Source& source : options.sources) {
        if (session.runScript(source.name, source.text, options.keepGoing, report))
            continue;
        allSucceeded = false;
        if (!options.keepGoing)
            break;
    }
    return allSucceeded ? 0 : 1;
}
