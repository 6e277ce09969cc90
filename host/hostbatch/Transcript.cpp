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
void appendList(TranscriptOut& out, const std::vector<Element>& elements, std::string_view separator,
    AppendElement appendElement)
{
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            out.text += separator;
        appendElement(out.text, elements[i]);
        out.drainIfFull();
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
void appendIntList(TranscriptOut& out, const std::vector<int>& elements, char separator)
{
    constexpr std::size_t kWidest = 12;  // "-2147483648" and a separator
    const std::array<SmallNumber, 1000>& numbers = smallNumbers();
    if (!out.drain)
        out.text.reserve(out.text.size() + elements.size() * 4);
    char block[16384];
    char* cursor = block;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (cursor > block + sizeof block - kWidest) {
            out.text.append(block, cursor);
            cursor = block;
            out.drainIfFull();
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
    out.text.append(block, cursor);
}

void appendResultText(TranscriptOut& out, const host::CommandResult& result)
{
    std::visit(
        [&out](const auto& value) {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::monostate>) {
            } else if constexpr (std::is_same_v<Value, bool>) {
                out.text += value ? '1' : '0';
            } else if constexpr (std::is_same_v<Value, int> || std::is_same_v<Value, double>) {
                appendNumber(out.text, value);
            } else if constexpr (std::is_same_v<Value, std::string>) {
                out.text += value;
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

void appendResultJson(TranscriptOut& out, const host::CommandResult& result)
{
    std::visit(
        [&out](const auto& value) {
            using Value = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Value, std::monostate>) {
                out.text += "null";
            } else if constexpr (std::is_same_v<Value, bool>) {
                out.text += value ? "true" : "false";
            } else if constexpr (std::is_same_v<Value, int>) {
                appendNumber(out.text, value);
            } else if constexpr (std::is_same_v<Value, double>) {
                appendJsonDouble(out.text, value);
            } else if constexpr (std::is_same_v<Value, std::string>) {
                appendJsonString(out.text, value);
            } else if constexpr (std::is_same_v<Value, std::vector<int>>) {
                out.text += '[';
                appendIntList(out, value, ',');
                out.text += ']';
            } else {
                out.text += '[';
                appendList(out, value, ",",
                    [](std::string& to, const std::string& element) { appendJsonString(to, element); });
                out.text += ']';
            }
        },
        result);
}

}  // namespace

void appendText(TranscriptOut& out, const StatementOutcome& outcome)
{
    for (const Line& line : outcome.lines) {
        switch (line.kind) {
        case host::LineKind::Error:
            out.text += "// Error: " + line.text + " //\n";
            break;
        case host::LineKind::Warning:
            out.text += "// Warning: " + line.text + " //\n";
            break;
        case host::LineKind::Info:
            out.text += line.text + '\n';
            break;
        case host::LineKind::Output:
            out.text += line.text;
            break;
        case host::LineKind::StatusPrint:
            break;  // already written to standard error when it was shown
        }
        out.drainIfFull();
    }
    if (!std::holds_alternative<std::monostate>(outcome.result)) {
        out.text += "// Result: ";
        appendResultText(out, outcome.result);
        out.text += " //\n";
    }
    if (outcome.milliseconds) {
        out.text += "// Time: ";
        appendMilliseconds(out.text, *outcome.milliseconds);
        out.text += " ms //\n";
    }
}

void appendText(std::string& out, const StatementOutcome& outcome)
{
    TranscriptOut whole { std::move(out), nullptr };
    appendText(whole, outcome);
    out = std::move(whole.text);
}

void appendJson(TranscriptOut& out, const StatementOutcome& outcome)
{
    out.text += "{\"command\":";
    appendJsonString(out.text, outcome.command);
    out.text += ",\"status\":";
    appendNumber(out.text, static_cast<int>(outcome.status.statusCode()));
    out.text += ",\"result\":";
    appendResultJson(out, outcome.result);
    out.text += ",\"lines\":[";
    bool first = true;
    for (const Line& line : outcome.lines) {
        if (line.kind == host::LineKind::StatusPrint)
            continue;  // already written to standard error when it was shown
        if (!first)
            out.text += ',';
        first = false;
        out.text += "{\"kind\":";
        appendJsonString(out.text, host::lineKindName(line.kind));
        out.text += ",\"text\":";
        appendJsonString(out.text, line.text);
        out.text += '}';
        out.drainIfFull();
    }
    out.text += ']';
    if (outcome.milliseconds) {
        out.text += ",\"ms\":";
        appendMilliseconds(out.text, *outcome.milliseconds);
    }
    out.text += "}\n";
}

void appendJson(std::string& out, const StatementOutcome& outcome)
{
    TranscriptOut whole { std::move(out), nullptr };
    appendJson(whole, outcome);
    out = std::move(whole.text);
}

namespace {

// The length of the valid UTF-8 sequence at the front of `text`, or 0: no
// overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xbf)
            return 0;
    return length;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            const std::size_t length = utf8Length(text.substr(i));
            if (length > 0) {
                out.append(text.data() + i, length);
                i += length - 1;
            } else {
                out += "\\udc";
                out += kHexDigits[byte >> 4];
                out += kHexDigits[byte & 0xf];
            }
        } else if (c == '"' || c == '\\') {
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
