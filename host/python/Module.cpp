// maya._host: the stand-in host inside a Python process, as maya.standalone,
// maya.cmds and maya.mel reach it. The session (registry, plug-in loader, MEL
// interpreter) is used under one lock: MEL runs on a script thread with
// hostbatch's large stack, while the calling thread, without the GIL, shows the
// lines the call produces and watches for Ctrl-C; a plug-in command called
// from maya.cmds, which runs no MEL, runs on the calling thread itself.
#include "Arguments.h"
#include "Convert.h"

#include <session/ScriptThread.h>
#include <session/Session.h>

#include <host/ScriptEditor.h>

#include <pybind11/pybind11.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace pymaya {

namespace {

// How often a waiting caller shows the lines that came and looks for Ctrl-C.
constexpr std::chrono::milliseconds kWaitInterval { 20 };

// The host maya.standalone.initialize() started: a session on a thread of its
// own, which never receives SIGINT, so that Ctrl-C reaches Python's handler
// on the calling thread.
class Host {
public:
    Host()
        : thread({ SIGINT })
    {
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
    ~Host()
    {
        thread.run([this] { close(); });
    }

    // On the thread: the session and how an embedding runs it.
    void open()
    {
        session = std::make_unique<host::Session>();
        mel::Interpreter& interpreter = session->interpreter();
        // The caller's own code, not a stranger's script: no bounds on sizes
        // (an image's results reach 64 Mi ints), the call and nesting bounds kept.
        interpreter.setLimits(mel::Limits {});
        interpreter.setInterruptFlag(&interrupted);
        interpreter.streamLines(true);
        interpreter.giveValues(true);
    }

    // On the thread: the session goes, unloading its plug-ins, newest first.
    void close()
    {
        const std::lock_guard<std::mutex> lock(sessionMutex);
        session.reset();
    }

    host::ScriptThread thread;
    // Held while the session is used, so that a name can be looked up from a
    // calling thread while another thread's call runs.
    std::mutex sessionMutex;
    std::unique_ptr<host::Session> session;
    volatile std::sig_atomic_t interrupted = 0;
};

// The running host, touched with the GIL held.
std::shared_ptr<Host>& currentHost()
{
    static std::shared_ptr<Host> host;
    return host;
}

std::shared_ptr<Host> runningHost()
{
    std::shared_ptr<Host> host = currentHost();
    if (!host)
        throw std::runtime_error("maya.standalone.initialize() has not been called");
    return host;
}

// The lines a call running on the script thread hands over for the caller to show.
class LineQueue {
public:
    void add(std::vector<mel::Line>&& lines)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (mel::Line& line : lines)
            lines_.push_back(std::move(line));
    }

    std::vector<mel::Line> take()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<mel::Line> lines_;
};

// Writes script-editor lines where a Python user of the host sees them: what
// scripts print to sys.stdout as it is, the rest to sys.stderr, errors and
// warnings framed as the host frames them for Python; keeps the error lines
// for the exception of a failed call. With the GIL held.
class LineWriter {
public:
    void write(std::vector<mel::Line>&& lines)
    {
        for (const mel::Line& line : lines) {
            switch (line.kind) {
            case host::LineKind::Error:
                errors_ += (errors_.empty() ? "" : "\n") + line.text;
                toStream(Stream::Messages, "# Error: " + line.text + " #\n");
                break;
            case host::LineKind::Warning:
                toStream(Stream::Messages, "# Warning: " + line.text + " #\n");
                break;
            case host::LineKind::Info:
                toStream(Stream::Messages, line.text + "\n");
                break;
            case host::LineKind::Output:
                toStream(Stream::Printed, line.text);
                break;
            case host::LineKind::StatusPrint:
                break;  // written to the process's standard error when it was shown
            }
        }
    }

    const std::string& errors() const { return errors_; }

private:
    enum class Stream { Printed, Messages };

    static PyObject* streamOf(Stream stream)
    {
        PyObject* object = PySys_GetObject(stream == Stream::Printed ? "stdout" : "stderr");
        return object == Py_None ? nullptr : object;
    }

    // To sys.stdout or sys.stderr as they are now, so that a caller that
    // redirected them gets the lines; nowhere when the stream is gone.
    void toStream(Stream stream, const std::string& text)
    {
        // What was printed, by MEL or by the caller, comes out before the
        // message that follows it, as in the host's one window.
        if (stream == Stream::Messages) {
            if (PyObject* printed = streamOf(Stream::Printed))
                py::handle(printed).attr("flush")();
        }
        PyObject* object = streamOf(stream);
        if (object == nullptr)
            return;
        const py::object line = py::reinterpret_steal<py::object>(
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
        if (!line)
            throw py::error_already_set();
        py::handle(object).attr("write")(line);
    }

    std::string errors_;
};

// Runs `work` on the host's thread. The caller, who holds the GIL on entry and
// on return, gives it up meanwhile; every wait interval it shows the lines that
// came and runs Python's signal handlers: one that raises (Ctrl-C's
// KeyboardInterrupt) interrupts the running statement, and is raised here once
// the statement has stopped.
void runOnHost(Host& host, LineQueue& queue, LineWriter& writer, const std::function<void()>& work)
{
    std::exception_ptr raised;
    const std::function<void()> whileWaiting = [&] {
        const py::gil_scoped_acquire gil;
        try {
            writer.write(queue.take());
            if (PyErr_CheckSignals() != 0) {
                host.interrupted = 1;
                throw py::error_already_set();
            }
        } catch (...) {
            // A second Ctrl-C while the statement stops asks for the same.
            if (!raised)
                raised = std::current_exception();
        }
    };
    {
        const py::gil_scoped_release released;
        host.thread.run(work, whileWaiting, kWaitInterval);
    }
    // One the statement did not see is done with: the caller hears of it as
    // the exception, and the next call must not stop for it.
    host.interrupted = 0;
    writer.write(queue.take());
    if (raised)
        std::rethrow_exception(raised);
}

// What a call on the script thread found: whether it ran, and why not.
struct Ran {
    bool initialized = true;
    bool outOfMemory = false;
    std::string typeError;
    mel::StatementOutcome outcome;
};

// Raises what the call's end calls for; otherwise the value it gave.
py::object finish(Ran& ran, LineWriter& writer, const std::string& name)
{
    if (!ran.initialized)
        throw std::runtime_error("maya.standalone.initialize() has not been called");
    if (ran.outOfMemory)
        throw std::bad_alloc();
    if (!ran.typeError.empty())
        throw py::type_error(ran.typeError);
    if (!ran.outcome.status) {
        if (!writer.errors().empty())
            throw std::runtime_error(writer.errors());
        throw std::runtime_error(name + " failed: " + ran.outcome.status.errorString().asChar());
    }
    if (ran.outcome.value)
        return toPython(std::move(*ran.outcome.value));
    return toPython(std::move(ran.outcome.result));
}

CallRequest readRequest(const std::string& name, const py::args& args, const py::kwargs& kwargs)
{
    CallRequest request;
    request.name = name;
    for (std::size_t i = 0; i < args.size(); ++i)
        request.positional.push_back(readGiven(args[i], name + ": argument " + std::to_string(i + 1)));
    for (const auto& [key, value] : kwargs) {
        std::string flag = py::cast<std::string>(key);
        Given given = readGiven(value, name + ": flag '" + flag + "'");
        request.flags.emplace_back(std::move(flag), std::move(given));
    }
    return request;
}

// Calls request.name in the session, whose lock the caller holds.
void callInSession(host::Session& session, const CallRequest& request, LineQueue& queue, Ran& ran)
{
    try {
        mel::Interpreter& interpreter = session.interpreter();
        // Named as the one lookup finds it: a built-in before a command.
        const MSyntax* syntax
            = interpreter.hasBuiltin(request.name) ? nullptr : session.registry().syntaxOf(request.name);
        std::vector<mel::Value> arguments;
        const bool read = syntax != nullptr ? commandArguments(request, *syntax, arguments, ran.typeError)
                                            : builtinArguments(request, arguments, ran.typeError);
        if (!read)
            return;
        ran.outcome = interpreter.call(request.name, std::move(arguments),
            [&queue](mel::StatementOutcome& piece) { queue.add(std::move(piece.lines)); });
        queue.add(std::move(ran.outcome.lines));
    } catch (const std::bad_alloc&) {
        ran.outOfMemory = true;
    }
}

// Calls a registered command on the calling thread, without the GIL, and
// returns true; false, having done nothing, for any other name. A plug-in's
// command runs no MEL, so it needs no deep stack, and calling it here spares
// two thread switches, a third of a small command's time. A Ctrl-C meanwhile
// is Python's KeyboardInterrupt once the call returns, as a command in
// hostbatch ends before the Ctrl-C stops the script.
bool callCommandHere(Host& host, const CallRequest& request, LineQueue& queue, Ran& ran)
{
    const py::gil_scoped_release released;
    const std::lock_guard<std::mutex> lock(host.sessionMutex);
    if (!host.session || host.session->interpreter().lookup(request.name) != mel::NameKind::Command)
        return false;
    callInSession(*host.session, request, queue, ran);
    return true;
}

// A command of the host as a Python function: maya.cmds hands these out.
class Command {
public:
    explicit Command(std::string name)
        : name_(std::move(name))
    {
    }

    const std::string& name() const { return name_; }

    py::object call(const py::args& args, const py::kwargs& kwargs) const
    {
        const std::shared_ptr<Host> host = runningHost();
        const CallRequest request = readRequest(name_, args, kwargs);
        LineQueue queue;
        LineWriter writer;
        Ran ran;
        if (callCommandHere(*host, request, queue, ran)) {
            writer.write(queue.take());
        } else {
            runOnHost(*host, queue, writer, [&] {
                const std::lock_guard<std::mutex> lock(host->sessionMutex);
                if (host->session)
                    callInSession(*host->session, request, queue, ran);
                else
                    ran.initialized = false;
            });
        }
        return finish(ran, writer, name_);
    }

private:
    std::string name_;
};

py::object evaluate(py::str text)
{
    const std::shared_ptr<Host> host = runningHost();
    const std::string script = bytesOf(text);
    LineQueue queue;
    LineWriter writer;
    Ran ran;
    const std::function<void()> work = [&] {
        try {
            const std::lock_guard<std::mutex> lock(host->sessionMutex);
            if (!host->session) {
                ran.initialized = false;
                return;
            }
            // The last statement's outcome is the value; each one's lines are
            // shown as it ends (or as they pile up, in pieces that come first).
            ran.outcome.status = MS::kSuccess;
            host->session->runScript(script, false, [&](mel::StatementOutcome& outcome) {
                queue.add(std::move(outcome.lines));
                ran.outcome.status = outcome.status;
                ran.outcome.result = std::move(outcome.result);
                ran.outcome.value = std::move(outcome.value);
            });
        } catch (const std::bad_alloc&) {
            ran.outOfMemory = true;
        }
    };
    runOnHost(*host, queue, writer, work);
    return finish(ran, writer, "eval");
}

void initialize()
{
    std::shared_ptr<Host>& current = currentHost();
    if (current)
        throw std::runtime_error("maya.standalone is already initialized");
    auto host = std::make_shared<Host>();
    if (!host->thread.started())
        throw std::runtime_error("cannot start the script thread: " + host->thread.error());
    bool opened = false;
    {
        const py::gil_scoped_release released;
        host->thread.run([&] {
            try {
                host->open();
                opened = true;
            } catch (const std::bad_alloc&) {
            }
        });
    }
    if (!opened)
        throw std::bad_alloc();
    current = std::move(host);
}

void uninitialize()
{
    std::shared_ptr<Host> host = std::move(currentHost());
    if (!host)
        return;
    std::vector<mel::Line> lines;
    {
        const py::gil_scoped_release released;
        host->thread.run([&] {
            host->close();
            lines = host::ScriptEditor::take();
        });
    }
    LineWriter().write(std::move(lines));
}

// Whether maya.cmds offers `name` as a function now: a built-in or a registered
// command. The GIL is given up while a call of another thread holds the session,
// so that the thread waiting for that call still sees Ctrl-C.
bool offers(const std::string& name)
{
    const std::shared_ptr<Host> host = currentHost();
    if (!host)
        return false;
    std::unique_lock<std::mutex> lock(host->sessionMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        const py::gil_scoped_release released;
        lock.lock();
    }
    return host->session
        && (host->session->interpreter().hasBuiltin(name) || host->session->registry().contains(name));
}

py::list offeredNames()
{
    py::list names;
    const std::shared_ptr<Host> host = currentHost();
    if (!host)
        return names;
    std::vector<std::string> found;
    {
        const py::gil_scoped_release released;
        const std::lock_guard<std::mutex> lock(host->sessionMutex);
        if (host->session) {
            found = host->session->interpreter().builtinNames();
            const std::vector<std::string> commands = host->session->registry().commandNames();
            found.insert(found.end(), commands.begin(), commands.end());
        }
    }
    for (const std::string& name : found)
        names.append(textOf(name));
    return names;
}

}  // namespace

}  // namespace pymaya

PYBIND11_MODULE(_host, module)
{
    using namespace pymaya;
    module.doc() = "The stand-in host in this process: what maya.standalone, maya.cmds and maya.mel call.";
    module.def("initialize", &initialize,
        "Starts the host: its session on a script thread, with the plug-in and script paths of the "
        "environment.");
    module.def(
        "uninitialize", &uninitialize, "Unloads the plug-ins and ends the host; nothing when none runs.");
    module.def(
        "initialized", [] { return static_cast<bool>(currentHost()); }, "Whether the host runs.");
    module.def("offers", &offers, py::arg("name"), "Whether maya.cmds has a function of this name now.");
    module.def("names", &offeredNames, "The built-ins and registered commands, for dir(maya.cmds).");
    module.def("eval", &evaluate, py::arg("text"), "Runs MEL in the session; the last statement's value.");
    py::class_<Command>(module, "Command")
        .def(py::init<std::string>(), py::arg("name"))
        .def_property_readonly("name", &Command::name)
        .def("__call__", &Command::call)
        .def("__repr__", [](const Command& command) { return "<maya.cmds." + command.name() + ">"; });
    // The session ends before the interpreter does, so that plug-ins unload in order.
    py::module_::import("atexit").attr("register")(py::cpp_function(&uninitialize));
}
