#include "Session.h"

#include <mel/lib/Library.h>

#include <host/ScriptEditor.h>

#include <utility>

namespace host {

Session::Session()
    : loader_(registry_)
    , interpreter_(registry_)
{
    ScriptEditor::take();  // lines from before the session belong to no statement
    mel::openStandardLibrary(interpreter_);
    // The loader belongs to the session: the interpreter knows these two only as rows.
    interpreter_.addBuiltin(
        mel::Builtin { "loadPlugin", 1, 1, [this](mel::Call& call) { loadOrUnload(call, true); } });
    interpreter_.addBuiltin(
        mel::Builtin { "unloadPlugin", 1, 1, [this](mel::Call& call) { loadOrUnload(call, false); } });
}

// loadPlugin "PATH or NAME" and unloadPlugin "NAME"; the loader's reason, or the
// status's when it gives none, is the error line.
void Session::loadOrUnload(mel::Call& call, bool load)
{
    const std::string argument = call.text(0);
    MStatus status;
    std::string error;
    if (load) {
        const PluginLoader::LoadOutcome outcome = loader_.load(argument);
        status = outcome.status;
        error = outcome.error;
    } else {
        status = loader_.unload(argument, error);
    }
    if (status)
        return;
    ScriptEditor::show(LineKind::Error, error.empty() ? std::string(status.errorString().asChar()) : error);
    call.failShown(status);
}

PluginLoader::LoadOutcome Session::loadPlugin(const std::string& path, std::vector<mel::Line>& lines)
{
    PluginLoader::LoadOutcome outcome = loader_.load(path);
    lines = ScriptEditor::take();
    return outcome;
}

}  // namespace host
