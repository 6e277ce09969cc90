#include "Transcript.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace hostbatch {

namespace {

// Room for any int or double in shortest form, with sign and exponent.
constexpr std::size_t kNumberRoom = 32;

template <typename Number> void appendNumber(std::string& out, Number value)
{
    char digits[kNumberRoom];
    const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, written.ptr);
}

template <typename Element, typename AppendElement>
void appendList(std::string& out, const std::vector<Element>& elements, std::string_view separator,
    AppendElement appendElement)
{
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            out += separator;
        appendElement(out, elements[i]);
    }
}

// The digits of 0 to 999, the values image results are made of, padded to four
// bytes so that each is one fixed-size copy.
struct SmallNumber {
    char digits[4];
    std::size_t length;
};

const std::array<SmallNumber, 1000>& smallNumbers()
{
    static const std::array<SmallNumber, 1000> numbers = [] {
        std::array<SmallNumber, 1000> table {};
        for (int value = 0; value < 1000; ++value) {
            SmallNumber& number = table[std::size_t(value)];
            number.length
                = std::size_t(std::to_chars(number.digits, number.digits + 4, value).ptr - number.digits);
        }
        return table;
    }();
    return numbers;
}

// A result of millions of integers is a large part of a command's time when
// printed one append at a time, so the digits go into a block on the stack that
// is appended whole when nearly full.
void appendIntList(std::string& out, const std::vector<int>& elements, char separator)
{
    constexpr std::size_t kWidest = 12;  // "-2147483648" and a separator
    const std::array<SmallNumber, 1000>& numbers = smallNumbers();
    out.reserve(out.size() + elements.size() * 4);
    char block[16384];
    char* cursor = block;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (cursor > block + sizeof block - kWidest) {
            out.append(block, cursor);
            cursor = block;
        }
        if (i > 0)
            *cursor++ = separator;
        const int value = elements[i];
        if (value >= 0 && value < 1000) {
            const SmallNumber& number = numbers[std::size_t(value)];
            std::memcpy(cursor, number.digits, sizeof number.digits);
            cursor += number.length;
        } else {
            cursor = std::to_chars(cursor, cursor + kWidest, value).ptr;
        }
    }
    out.append(block, cursor);
}

void appendResultText(std::string& out, const host::CommandResult& result)
{
    std::visit(
        [&out](const auto& value) {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::monostate>) {
            } else if constexpr (std::is_same_v<Value, bool>) {
                out += value ? '1' : '0';
            } else if constexpr (std::is_same_v<Value, int> || std::is_same_v<Value, double>) {
                appendNumber(out, value);
            } else if constexpr (std::is_same_v<Value, std::string>) {
                out += value;
            } else if constexpr (std::is_same_v<Value, std::vector<int>>) {
                appendIntList(out, value, ' ');
            } else {
                appendList(
                    out, value, " ", [](std::string& to, const std::string& element) { to += element; });
            }
        },
        result);
}

// Milliseconds with three decimals: microseconds are as fine as a wall clock
// around a command is worth reading.
void appendMilliseconds(std::string& out, double milliseconds)
{
    char digits[kNumberRoom + 8];
    const std::to_chars_result written
        = std::to_chars(digits, digits + sizeof digits, milliseconds, std::chars_format::fixed, 3);
    out.append(digits, written.ptr);
}

void appendJsonDouble(std::string& out, double value)
{
    if (std::isfinite(value))
        appendNumber(out, value);
    else
        out += "null";
}

void appendResultJson(std::string& out, const host::CommandResult& result)
{
    std::visit(
        [&out](const auto& value) {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::monostate>) {
                out += "null";
            } else if constexpr (std::is_same_v<Value, bool>) {
                out += value ? "true" : "false";
            } else if constexpr (std::is_same_v<Value, int>) {
                appendNumber(out, value);
            } else if constexpr (std::is_same_v<Value, double>) {
                appendJsonDouble(out, value);
            } else if constexpr (std::is_same_v<Value, std::string>) {
                appendJsonString(out, value);
            } else if constexpr (std::is_same_v<Value, std::vector<int>>) {
                out += '[';
                appendIntList(out, value, ',');
                out += ']';
            } else {
                out += '[';
                appendList(out, value, ",",
                    [](std::string& to, const std::string& element) { appendJsonString(to, element); });
                out += ']';
            }
        },
        result);
}

}  // namespace

void appendText(std::string& out, const StatementOutcome& outcome)
{
    for (const host::EditorLine& line : outcome.lines) {
        switch (line.kind) {
        case host::LineKind::Error:
            out += "// Error: " + line.text + " //\n";
            break;
        case host::LineKind::Warning:
            out += "// Warning: " + line.text + " //\n";
            break;
        case host::LineKind::Info:
            out += line.text + '\n';
            break;
        case host::LineKind::StatusPrint:
            break;  // already written to standard error when it was shown
        }
    }
    if (!std::holds_alternative<std::monostate>(outcome.result)) {
        out += "// Result: ";
        appendResultText(out, outcome.result);
        out += " //\n";
    }
    if (outcome.milliseconds) {
        out += "// Time: ";
        appendMilliseconds(out, *outcome.milliseconds);
        out += " ms //\n";
    }
}

void appendJson(std::string& out, const StatementOutcome& outcome)
{
    out += "{\"command\":";
    appendJsonString(out, outcome.command);
    out += ",\"status\":";
    appendNumber(out, static_cast<int>(outcome.status.statusCode()));
    out += ",\"result\":";
    appendResultJson(out, outcome.result);
    out += ",\"lines\":[";
    bool first = true;
    for (const host::EditorLine& line : outcome.lines) {
        if (line.kind == host::LineKind::StatusPrint)
            continue;  // already written to standard error when it was shown
        if (!first)
            out += ',';
        first = false;
        out += "{\"kind\":";
        appendJsonString(out, host::lineKindName(line.kind));
        out += ",\"text\":";
        appendJsonString(out, line.text);
        out += '}';
    }
    out += ']';
    if (outcome.milliseconds) {
        out += ",\"ms\":";
        appendMilliseconds(out, *outcome.milliseconds);
    }
    out += "}\n";
}

void appendJsonString(std::string& out, std::string_view text)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\u00";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace hostbatch
