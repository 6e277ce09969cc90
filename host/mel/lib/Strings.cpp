// Built-ins on strings.
#include "Support.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace mel {

namespace {

void strlen(Call& call)
{
    call.give(static_cast<int>(std::min<std::size_t>(call.text(0).size(), 2147483647)));
}

void substring(Call& call)
{
    const std::string text = call.text(0);
    const int first = call.integer(1);
    const int last = call.integer(2);
    if (first < 1)
        call.fail("substring: the first character is 1, not " + std::to_string(first));
    // Both ends count, from 1; a range past the end stops at the end.
    const std::size_t end = std::min<std::size_t>(text.size(), std::size_t(std::max(last, 0)));
    call.give(std::size_t(first) <= end ? text.substr(std::size_t(first) - 1, end - std::size_t(first) + 1)
                                        : std::string());
}

// The pieces of `text` between any of `separators`, empty ones left out;
// counted before any is made, so that too many are refused at once.
std::vector<std::string> split(Call& call, std::string_view text, std::string_view separators)
{
    bool separator[256] = {};
    for (const char c : separators)
        separator[static_cast<unsigned char>(c)] = true;
    InterruptPoll poll(call);
    std::size_t count = 0;
    bool inPiece = false;
    for (const char c : text) {
        poll.step();
        const bool between = separator[static_cast<unsigned char>(c)];
        count += !between && !inPiece ? 1 : 0;
        inPiece = !between;
    }
    call.checkSize(count);
    std::vector<std::string> tokens;
    tokens.reserve(count);
    for (std::size_t at = 0; at < text.size();) {
        poll.step();
        const std::size_t start = at;
        while (at < text.size() && !separator[static_cast<unsigned char>(text[at])])
            ++at;
        if (at > start)
            tokens.emplace_back(text.substr(start, at - start));
        else
            ++at;
    }
    return tokens;
}

// Without separators, every whitespace character separates.
constexpr std::string_view kWhitespace = " \t\n\r\v\f";

void tokenize(Call& call)
{
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    const std::string separators = call.count() == 3 ? call.text(1) : std::string(kWhitespace);
    std::vector<std::string> tokens = split(call, text, separators);
    const int count = static_cast<int>(tokens.size());
    call.assign(call.count() - 1, std::move(tokens));
    call.give(count);
}

// tokenizeList("a b, c", $items) puts the items of a list, between spaces or
// commas, in $items; it gives 1, as it has no way to fail.
void tokenizeList(Call& call)
{
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    std::vector<std::string> tokens = split(call, text, std::string(kWhitespace) + ",");
    call.assign(1, std::move(tokens));
    call.give(1);
}

void stringToStringArray(Call& call)
{
    const std::string separators = call.text(1);
    Value scratch;
    call.give(split(call, textAt(call, 0, scratch), separators));
}

template <int (*Convert)(int)> void changeCase(Call& call)
{
    std::string text = call.text(0);
    for (char& c : text)
        c = static_cast<char>(Convert(static_cast<unsigned char>(c)));
    call.give(std::move(text));
}

void strip(Call& call)
{
    const std::string text = call.text(0);
    const char* space = " \t\n\r\v\f";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        call.give(std::string());
        return;
    }
    call.give(text.substr(first, text.find_last_not_of(space) - first + 1));
}

// Where a character of UTF-8 text starts: any byte but a continuation byte,
// and the first byte, whatever it is.
bool startsCharacter(std::string_view text, std::size_t at)
{
    return at == 0 || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
}

std::size_t characterCount(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size(); ++at)
        count += startsCharacter(text, at) ? 1 : 0;
    return count;
}

// The byte where character `count` starts, counting from 0; past the last
// character, the size of the text.
std::size_t characterOffset(std::string_view text, std::size_t count)
{
    for (std::size_t at = 0; at < text.size(); ++at)
        if (startsCharacter(text, at) && count-- == 0)
            return at;
    return text.size();
}

// startString("abc", 2) is "ab": the first characters (UTF-8 ones, not bytes),
// none for a count of 0 or less, the whole text for a count past its end.
void startString(Call& call)
{
    const int count = call.integer(1);
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    call.give(text.substr(0, count <= 0 ? 0 : characterOffset(text, std::size_t(count))));
}

// endString("abc", 2) is "bc": startString counted from the end.
void endString(Call& call)
{
    const int count = call.integer(1);
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    const std::size_t characters = characterCount(text);
    const std::size_t kept = count <= 0 ? 0 : std::min(characters, std::size_t(count));
    call.give(text.substr(characterOffset(text, characters - kept)));
}

void sizeBytes(Call& call)
{
    Value scratch;
    call.give(static_cast<int>(std::min<std::size_t>(textAt(call, 0, scratch).size(), 2147483647)));
}

void containsMultibyte(Call& call)
{
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    const bool multibyte
        = std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    call.give(multibyte ? 1 : 0);
}

// The first character upper case, the rest as it was.
void capitalizeString(Call& call)
{
    std::string text = call.text(0);
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    call.give(std::move(text));
}

// interToUI("graphEditor") is "Graph Editor": capitalized, with a space before
// each capital that follows a character other than a capital or a space, so
// that a run of capitals ("someUVSet": "Some UVSet") stays one word.
void interToUI(Call& call)
{
    const std::string name = call.text(0);
    std::string shown;
    for (std::size_t at = 0; at < name.size(); ++at) {
        const auto c = static_cast<unsigned char>(name[at]);
        const auto before = static_cast<unsigned char>(at == 0 ? ' ' : name[at - 1]);
        if (std::isupper(c) != 0 && std::isupper(before) == 0 && before != ' ')
            shown += ' ';
        shown += static_cast<char>(at == 0 ? std::toupper(c) : c);
    }
    call.give(std::move(shown));
}

// The text with what a string literal needs escaped escaped: quotes,
// backslashes, line feeds, carriage returns and tabs.
void encodeString(Call& call)
{
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '"':
            encoded += "\\\"";
            break;
        case '\\':
            encoded += "\\\\";
            break;
        case '\n':
            encoded += "\\n";
            break;
        case '\r':
            encoded += "\\r";
            break;
        case '\t':
            encoded += "\\t";
            break;
        default:
            encoded += c;
        }
    }
    call.give(std::move(encoded));
}

// The host's paths have '/' between folders on every system; on this one
// they are the native paths already.
void nativePath(Call& call)
{
    call.give(call.text(0));
}

// The first text that the regular expression matches, or "".
void match(Call& call)
{
    const std::string pattern = call.text(0);
    Value scratch;
    const std::string& text = textAt(call, 1, scratch);
    const std::optional<PatternMatch> found = findPattern(call, pattern, text, false);
    call.give(found ? text.substr(found->begin, found->end - found->begin) : std::string());
}

// Replaces the first text the regular expression matches.
void substitute(Call& call)
{
    const std::string pattern = call.text(0);
    const std::string replacement = call.text(2);
    Value scratch;
    const std::string& text = textAt(call, 1, scratch);
    const std::optional<PatternMatch> found = findPattern(call, pattern, text, false);
    if (!found) {
        call.give(text);
        return;
    }
    call.checkText(text.size() - (found->end - found->begin) + replacement.size());
    call.give(text.substr(0, found->begin) + replacement + text.substr(found->end));
}

// Whether the regular expression matches the whole text, as if it began with
// ^ and ended with $.
void isValidString(Call& call)
{
    const std::string pattern = call.text(1);
    Value scratch;
    call.give(findPattern(call, pattern, textAt(call, 0, scratch), true) ? 1 : 0);
}

// Replaces every occurrence of plain text, left to right.
void substituteAllString(Call& call)
{
    const std::string search = call.text(1);
    const std::string replacement = call.text(2);
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    if (search.empty()) {
        call.give(text);
        return;
    }
    InterruptPoll poll(call);
    std::string result;
    std::size_t start = 0;
    for (std::size_t at = text.find(search); at != std::string::npos; at = text.find(search, start)) {
        poll.step();
        result.append(text, start, at - start);
        result += replacement;
        call.checkText(result.size());
        start = at + search.size();
    }
    result.append(text, start, std::string::npos);
    call.give(std::move(result));
}

// A shell pattern (* ? [...]) against the whole text.
void gmatch(Call& call)
{
    const std::string pattern = call.text(1);
    Value scratch;
    const std::string& text = textAt(call, 0, scratch);
    call.give(globMatch(pattern, text, [&call] { call.checkInterrupt(); }) ? 1 : 0);
}

void startsWith(Call& call)
{
    const std::string text = call.text(0);
    const std::string start = call.text(1);
    call.give(text.compare(0, start.size(), start) == 0 ? 1 : 0);
}

void endsWith(Call& call)
{
    const std::string text = call.text(0);
    const std::string end = call.text(1);
    call.give(
        text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0 ? 1 : 0);
}

void strcmp(Call& call)
{
    const int order = call.text(0).compare(call.text(1));
    call.give(order < 0 ? -1 : order > 0 ? 1 : 0);
}

// format -s ARG ... "text with ^1s ^2s": ^Ns is the N-th argument, ^^ a caret.
void format(Call& call)
{
    static const std::vector<FlagSpec> table = { { "-stringArg", "-s", 1 } };
    const Flags flags = readFlags(call, table);
    std::vector<std::string> arguments;
    for (const Flags::Given& flag : flags.given)
        arguments.push_back(flags.text(call, flag.first));
    const std::string pattern
        = flags.positional.empty() ? std::string() : flags.text(call, flags.positional.back());
    std::string result;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '^' && i + 1 < pattern.size() && pattern[i + 1] == '^') {
            result += '^';
            ++i;
            continue;
        }
        std::size_t digits = i + 1;
        while (digits < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[digits])))
            ++digits;
        if (pattern[i] == '^' && digits > i + 1 && digits - i < 8 && digits < pattern.size()
            && pattern[digits] == 's') {
            const std::size_t index = std::stoul(pattern.substr(i + 1, digits - i - 1));
            if (index >= 1 && index <= arguments.size())
                result += arguments[index - 1];
            call.checkText(result.size());
            i = digits;
            continue;
        }
        result += pattern[i];
    }
    call.give(std::move(result));
}

}  // namespace

std::vector<Builtin> stringBuiltins()
{
    return {
        { "strlen", 1, 1, strlen },
        { "sizeBytes", 1, 1, sizeBytes },
        { "containsMultibyte", 1, 1, containsMultibyte },
        { "substring", 3, 3, substring },
        { "startString", 2, 2, startString, kProcedure },
        { "endString", 2, 2, endString, kProcedure },
        { "tokenize", 2, 3, tokenize },
        { "tokenizeList", 2, 2, tokenizeList, kProcedure },
        { "stringToStringArray", 2, 2, stringToStringArray, kProcedure },
        { "tolower", 1, 1, changeCase<std::tolower> },
        { "toupper", 1, 1, changeCase<std::toupper> },
        { "capitalizeString", 1, 1, capitalizeString, kProcedure },
        { "interToUI", 1, 1, interToUI, kProcedure },
        { "strip", 1, 1, strip },
        { "encodeString", 1, 1, encodeString },
        { "match", 2, 2, match },
        { "substitute", 3, 3, substitute },
        { "isValidString", 2, 2, isValidString, kProcedure },
        { "substituteAllString", 3, 3, substituteAllString, kProcedure },
        { "gmatch", 2, 2, gmatch },
        { "startsWith", 2, 2, startsWith, kProcedure },
        { "endsWith", 2, 2, endsWith, kProcedure },
        { "strcmp", 2, 2, strcmp },
        { "format", 1, Builtin::kAnyCount, format },
        { "toNativePath", 1, 1, nativePath, kProcedure },
        { "fromNativePath", 1, 1, nativePath, kProcedure },
    };
}

}  // namespace mel
