#include <maya/MGlobal.h>

#include <host/ScriptEditor.h>

#include <string>

namespace {

// The whole message, also past a NUL that a name read from a file may hold.
std::string lineOf(const MString& message)
{
    return std::string(message.asChar(), message.length());
}

}  // namespace

void MGlobal::displayError(const MString& message)
{
    host::ScriptEditor::show(host::LineKind::Error, lineOf(message));
}

void MGlobal::displayWarning(const MString& message)
{
    host::ScriptEditor::show(host::LineKind::Warning, lineOf(message));
}

void MGlobal::displayInfo(const MString& message)
{
    host::ScriptEditor::show(host::LineKind::Info, lineOf(message));
}
