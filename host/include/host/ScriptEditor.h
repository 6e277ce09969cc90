#pragma once

#include <maya/MTypes.h>

#include <string>
#include <vector>

namespace host {

/// What kind of line reached the script editor.
enum class LineKind {
    Error,  ///< MGlobal::displayError, and the host's own errors.
    Warning,  ///< MGlobal::displayWarning.
    Info,  ///< MGlobal::displayInfo.
    StatusPrint,  ///< MStatus::perror; also written to standard error at once.
    Output,  ///< What a script printed, as it is (no line end added).
};

struct EditorLine {
    LineKind kind;
    std::string text;

    bool operator==(const EditorLine& other) const { return kind == other.kind && text == other.text; }
};

/// The host's script editor: every message line, in the order shown, kept until
/// taken. One per process, like the host's own window; safe to call from any
/// thread.
class OPENMAYA_EXPORT ScriptEditor {
public:
    static void show(LineKind kind, std::string text);
    /// Every line shown since the last take, oldest first; the editor is then empty.
    static std::vector<EditorLine> take();
    /// The bytes of text held now, read without waiting: how a long run knows
    /// when to take what it printed.
    static std::size_t heldBytes();
    /// The text of the last error line shown, taken or not (getLastError);
    /// empty before the first.
    static std::string lastError();
};

/// "error", "warning", "info", "status" or "output".
OPENMAYA_EXPORT const char* lineKindName(LineKind kind);

}  // namespace host
