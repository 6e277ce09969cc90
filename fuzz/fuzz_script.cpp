// The hostbatch statement parser on arbitrary text. Besides the sanitizers, two
// properties must hold: a failed parse gives no statements and a line number, and
// the statements of a good parse, written back as quoted words, parse to the same
// words again.
#include "Script.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

std::string quoted(const std::string& word)
{
    std::string text = "\"";
    for (const char c : word) {
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\t':
            text += "\\t";
            break;
        default:
            text += c;
        }
    }
    return text + "\"";
}

std::string writtenBack(const hostbatch::ParsedScript& script)
{
    std::string text;
    for (const hostbatch::Statement& statement : script.statements) {
        for (const std::string& word : statement.words)
            text += quoted(word) + " ";
        text += ";\n";
    }
    return text;
}

bool sameWords(const hostbatch::ParsedScript& left, const hostbatch::ParsedScript& right)
{
    if (left.statements.size() != right.statements.size())
        return false;
    for (std::size_t i = 0; i < left.statements.size(); ++i) {
        if (left.statements[i].words != right.statements[i].words)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const hostbatch::ParsedScript script = hostbatch::parseScript(text);
    if (!script.ok()) {
        if (!script.statements.empty() || script.errorLine < 1)
            __builtin_trap();
        return 0;
    }
    int previousLine = 1;
    for (const hostbatch::Statement& statement : script.statements) {
        if (statement.words.empty() || statement.line < previousLine)
            __builtin_trap();
        previousLine = statement.line;
    }
    const hostbatch::ParsedScript again = hostbatch::parseScript(writtenBack(script));
    if (!again.ok() || !sameWords(script, again))
        __builtin_trap();
    return 0;
}
