// Built-ins on strings.
#include "Support.h"

#include <algorithm>
#include <cctype>
#include <regex>

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

// The pieces of `text` between any of `separators`, empty ones left out.
std::vector<std::string> split(Call& call, const std::string& text, const std::string& separators)
{
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find_first_of(separators, start);
        const std::size_t stop = end == std::string::npos ? text.size() : end;
        if (stop > start) {
            tokens.push_back(text.substr(start, stop - start));
            call.checkSize(tokens.size());
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return tokens;
}

void tokenize(Call& call)
{
    const std::string text = call.text(0);
    const std::string separators = call.count() == 3 ? call.text(1) : std::string(" ");
    std::vector<std::string> tokens = split(call, text, separators);
    const int count = static_cast<int>(tokens.size());
    call.assign(call.count() - 1, std::move(tokens));
    call.give(count);
}

void stringToStringArray(Call& call)
{
    const std::string text = call.text(0);
    call.give(split(call, text, call.text(1)));
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

std::regex expression(Call& call, const std::string& pattern)
{
    // The compiler of std::regex recurses once per character and per group.
    constexpr std::size_t kLongest = 1000;
    if (pattern.size() > kLongest)
        call.fail(
            call.name() + ": a regular expression of more than " + std::to_string(kLongest) + " characters");
    // The polynomial matcher keeps the stack flat however long the text is;
    // the default one recurses once per character.
    try {
        return std::regex(pattern, std::regex::extended | std::regex_constants::__polynomial);
    } catch (const std::regex_error&) {
        call.fail(call.name() + ": '" + pattern + "' is not a regular expression");
    }
}

// The first text that the regular expression matches, or "".
void match(Call& call)
{
    const std::regex pattern = expression(call, call.text(0));
    const std::string text = call.text(1);
    std::smatch found;
    call.give(std::regex_search(text, found, pattern) ? found.str(0) : std::string());
}

// Replaces the first text the regular expression matches.
void substitute(Call& call)
{
    const std::regex pattern = expression(call, call.text(0));
    const std::string text = call.text(1);
    const std::string replacement = call.text(2);
    std::smatch found;
    if (!std::regex_search(text, found, pattern)) {
        call.give(text);
        return;
    }
    call.give(found.prefix().str() + replacement + found.suffix().str());
}

// Replaces every occurrence of plain text, left to right.
void substituteAllString(Call& call)
{
    const std::string text = call.text(0);
    const std::string search = call.text(1);
    const std::string replacement = call.text(2);
    if (search.empty()) {
        call.give(text);
        return;
    }
    std::string result;
    std::size_t start = 0;
    for (std::size_t at = text.find(search); at != std::string::npos; at = text.find(search, start)) {
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
    const std::string text = call.text(0);
    call.give(globMatch(call.text(1), text) ? 1 : 0);
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
        { "substring", 3, 3, substring },
        { "tokenize", 2, 3, tokenize },
        { "stringToStringArray", 2, 2, stringToStringArray },
        { "tolower", 1, 1, changeCase<std::tolower> },
        { "toupper", 1, 1, changeCase<std::toupper> },
        { "strip", 1, 1, strip },
        { "match", 2, 2, match },
        { "substitute", 3, 3, substitute },
        { "substituteAllString", 3, 3, substituteAllString },
        { "gmatch", 2, 2, gmatch },
        { "startsWith", 2, 2, startsWith },
        { "endsWith", 2, 2, endsWith },
        { "strcmp", 2, 2, strcmp },
        { "format", 1, Builtin::kAnyCount, format },
    };
}

}  // namespace mel
