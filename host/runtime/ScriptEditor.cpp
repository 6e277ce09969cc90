#include <host/ScriptEditor.h>

#include <mutex>
#include <utility>

namespace host {

namespace {

// The one script editor of the process, shared by every thread.
struct EditorLines {
    std::mutex mutex;
    std::vector<EditorLine> lines;
};

EditorLines& editorLines()
{
    static EditorLines editor;
    return editor;
}

}  // namespace

void ScriptEditor::show(LineKind kind, std::string text)
{
    EditorLines& editor = editorLines();
    std::lock_guard<std::mutex> lock(editor.mutex);
    editor.lines.push_back(EditorLine { kind, std::move(text) });
}

std::vector<EditorLine> ScriptEditor::take()
{
    EditorLines& editor = editorLines();
    std::lock_guard<std::mutex> lock(editor.mutex);
    return std::exchange(editor.lines, {});
}

const char* lineKindName(LineKind kind)
{
    switch (kind) {
    case LineKind::Error:
        return "error";
    case LineKind::Warning:
        return "warning";
    case LineKind::Info:
        return "info";
    case LineKind::StatusPrint:
        return "status";
    case LineKind::Output:
        return "output";
    }
    return "unknown";
}

}  // namespace host
