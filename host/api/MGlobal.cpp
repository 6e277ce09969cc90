#include <maya/MGlobal.h>

#include <host/ScriptEditor.h>

void MGlobal::displayError(const MString& message)
{
    host::ScriptEditor::show(host::LineKind::Error, message.asChar());
}

void MGlobal::displayWarning(const MString& message)
{
    host::ScriptEditor::show(host::LineKind::Warning, message.asChar());
}

void MGlobal::displayInfo(const MString& message)
{
    host::ScriptEditor::show(host::LineKind::Info, message.asChar());
}
