#include <host/ScriptEditor.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace host {

namespace {

// The one script editor of the process, shared by every thread.
struct EditorLines {
    std::mutex mutex;
    std::vector<EditorLine> lines;
    std::atomic<std::size_t> bytes { 0 };
    std::string lastError;
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
    const std::size_t size = text.size();
    if (kind == LineKind::Error)
        editor.lastError = text;
    editor.lines.push_back(EditorLine { kind, std::move(text) });
    editor.bytes.fetch_add(size, std::memory_order_relaxed);
}

std::vector<EditorLine> ScriptEditor::take()
{
    EditorLines& editor = editorLines();
    std::lock_guard<std::mutex> lock(editor.mutex);
    editor.bytes.store(0, std::memory_order_relaxed);
    return std::exchange(editor.lines, {});
}

std::size_t ScriptEditor::heldBytes()
{
    return editorLines().bytes.load(std::memory_order_relaxed);
}

std::string ScriptEditor::lastError()
{
    EditorLines& editor = editorLines();
    std::lock_guard<std::mutex> lock(editor.mutex);
    return editor.lastError;
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
