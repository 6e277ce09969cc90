// hostbatch: runs MEL sources in one session of the host, printing each
// statement's transcript as it runs.
#include "Options.h"
#include "ProgressLine.h"
#include "Transcript.h"

#include <session/ScriptThread.h>
#include <session/Session.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

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

    void write(const mel::StatementOutcome& outcome)
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
bool loadPlugins(host::Session& session, const hostbatch::Options& options, TranscriptWriter& writer)
{
    for (const std::string& path : options.plugins) {
        mel::StatementOutcome load;
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
    hostbatch::Options options;
    std::string usageError;
    if (!hostbatch::parseArguments(argc, argv, options, usageError)
        || !hostbatch::checkBudgetVariable(usageError)) {
        std::fprintf(stderr, "hostbatch: %s\n", usageError.c_str());
        return 2;
    }
    if (options.help) {
        const std::string help = hostbatch::helpText(host::Session().interpreter().builtinNames());
        if (std::fputs(help.c_str(), stdout) < 0 || std::fflush(stdout) != 0 || std::fclose(stdout) != 0) {
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
    const bool progressWanted = options.progress == hostbatch::Choice::Default
        ? !options.json
        : options.progress == hostbatch::Choice::Yes;
    if (progressWanted && isatty(STDERR_FILENO)) {
        progress = std::make_unique<hostbatch::ProgressLine>(STDERR_FILENO);
        host::observeActivity(progress.get());
    }
    const struct StopObserving {
        ~StopObserving() { host::observeActivity(nullptr); }
    } stopObserving;

    host::Session session;
    mel::Interpreter& interpreter = session.interpreter();
    interpreter.timeStatements(options.time);
    interpreter.setLimits(options.limits);
    // The text transcript can show a statement's lines before it ends; a JSON
    // object cannot, so there they are held, to the output limit.
    interpreter.streamLines(!options.json);
    interpreter.setInterruptFlag(&interrupted);
    struct sigaction onInterrupt { };
    onInterrupt.sa_handler = interrupt;
    sigemptyset(&onInterrupt.sa_mask);
    sigaction(SIGINT, &onInterrupt, nullptr);
    TranscriptWriter writer(options.json);
    if (!loadPlugins(session, options, writer))
        return 2;

    const auto report = [&writer, &interpreter](const mel::StatementOutcome& outcome) {
        writer.write(outcome);
        if (writer.failed())
            interpreter.requestStop();  // nothing more can be shown
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
    for (const hostbatch::Source& source : options.sources) {
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
        if (!succeeded)
            allSucceeded = false;
        if (interpreter.runEnded() || (!succeeded && !options.keepGoing))
            break;  // after quit nothing more runs
    }
    if (!writer.finish()) {
        std::fprintf(stderr, "hostbatch: cannot write the transcript: %s\n", std::strerror(writer.error()));
        return 1;
    }
    // quit -exitCode N decides, as the system takes an exit status: its low byte.
    if (interpreter.runEnded() && interpreter.endStatus())
        return *interpreter.endStatus() & 0xff;
    return allSucceeded ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    // Scripts run on a thread whose stack holds the interpreter's deepest nesting.
    host::ScriptThread scriptThread;
    if (!scriptThread.started()) {
        std::fprintf(stderr, "hostbatch: cannot start the script thread: %s\n", scriptThread.error().c_str());
        return 2;
    }
    // Ctrl-C then reaches the script's thread, as it did when scripts ran on
    // this one: its handler runs there, and a read waiting there sees EINTR.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    int status = 1;
    scriptThread.run([&] { status = runHostbatch(argc, argv); });
    return status;
}
