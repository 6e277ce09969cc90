// MEL's regular expressions, run by RE2: MEL's syntax written as RE2's, the
// compiled expressions a session keeps, and the bounds on what one may cost.
#include "Support.h"

#include <re2/re2.h>

#include <cctype>
#include <cstdint>
#include <list>
#include <memory>
#include <utility>

namespace mel {

namespace {

// Longer patterns are refused before RE2 parses them, which costs memory in
// proportion; no expression a script writes comes near.
constexpr std::size_t kLongestPattern = std::size_t { 1 } << 16;
// What RE2 may spend on one expression: its program and its DFA's states.
constexpr std::int64_t kPatternMemory = std::int64_t { 8 } << 20;
// RE2 searches with a DFA in one pass over the text; when the DFA's states
// outgrow the memory above (as some expressions make them on some texts) it
// goes on with an NFA, whose steps are the program's size at each byte: about
// 2 s of them at the most, as the search cannot stop halfway for Ctrl-C.
constexpr std::uint64_t kMostSteps = std::uint64_t { 1 } << 25;
// Compiled expressions kept for the session, the most recently used first.
constexpr std::size_t kKeptPatterns = 8;

// `c` as RE2 reads it literally, whatever it is.
void appendLiteral(std::string& out, unsigned char c)
{
    static const char* const kHex = "0123456789ABCDEF";
    if (std::isalnum(c) != 0 || c == '_') {
        out += static_cast<char>(c);
        return;
    }
    out += "\\x{";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    out += '}';
}

// The class names RE2 knows inside brackets, as "[:alpha:]" writes them.
bool isClassName(std::string_view name)
{
    static const char* const kNames[] = { "alnum", "alpha", "ascii", "blank", "cntrl", "digit", "graph",
        "lower", "print", "punct", "space", "upper", "word", "xdigit" };
    for (const char* known : kNames)
        if (name == known)
            return true;
    return false;
}

// The bracket set opening at `pattern[at]` as RE2's, `at` left after its ']';
// false when it is left open or holds a range backwards. A ']' first is a
// member; `\` makes the next character a member whatever it is.
bool appendBracket(std::string_view pattern, std::size_t& at, std::string& out)
{
    ++at;
    out += '[';
    if (at < pattern.size() && pattern[at] == '^') {
        out += '^';
        ++at;
    }
    const auto member = [&pattern, &at]() -> int {
        if (pattern[at] == '\\') {
            if (++at == pattern.size())
                return -1;
        }
        return static_cast<unsigned char>(pattern[at++]);
    };
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        if (pattern.compare(at, 2, "[:") == 0) {
            const std::size_t close = pattern.find(":]", at + 2);
            if (close != std::string_view::npos && isClassName(pattern.substr(at + 2, close - at - 2))) {
                out.append(pattern.substr(at, close + 2 - at));
                at = close + 2;
                continue;
            }
        }
        const int low = member();
        if (low < 0)
            return false;
        appendLiteral(out, static_cast<unsigned char>(low));
        if (at + 1 < pattern.size() && pattern[at] == '-' && pattern[at + 1] != ']') {
            ++at;
            const int high = member();
            if (high < low)
                return false;
            out += '-';
            appendLiteral(out, static_cast<unsigned char>(high));
        }
    }
    if (at >= pattern.size())
        return false;
    ++at;
    out += ']';
    return true;
}

// The expressions a session has compiled, by their text.
class PatternCache {
public:
    std::shared_ptr<const RE2> find(const std::string& pattern)
    {
        for (auto entry = entries_.begin(); entry != entries_.end(); ++entry)
            if (entry->first == pattern) {
                entries_.splice(entries_.begin(), entries_, entry);
                return entry->second;
            }
        return nullptr;
    }
    void keep(const std::string& pattern, std::shared_ptr<const RE2> compiled)
    {
        entries_.emplace_front(pattern, std::move(compiled));
        if (entries_.size() > kKeptPatterns)
            entries_.pop_back();
    }

private:
    std::list<std::pair<std::string, std::shared_ptr<const RE2>>> entries_;
};

std::shared_ptr<const RE2> compiled(Call& call, const std::string& pattern)
{
    PatternCache& cache = call.store().get<PatternCache>();
    if (std::shared_ptr<const RE2> kept = cache.find(pattern))
        return kept;
    if (pattern.size() > kLongestPattern)
        call.fail(call.name() + ": a regular expression of more than " + std::to_string(kLongestPattern)
            + " characters");
    const std::optional<std::string> syntax = re2Syntax(pattern);
    if (!syntax)
        call.fail(call.name() + ": '" + pattern + "' is not a regular expression");
    // Bytes, not UTF-8: an expression may meet any text, and `.` is one byte.
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_longest_match(true);
    options.set_dot_nl(true);
    options.set_log_errors(false);
    options.set_max_mem(kPatternMemory);
    auto expression = std::make_shared<const RE2>(*syntax, options);
    if (expression->error_code() == RE2::ErrorPatternTooLarge)
        call.fail(call.name() + ": a regular expression too large to compile in "
            + std::to_string(kPatternMemory >> 20) + " MiB");
    if (!expression->ok())
        call.fail(call.name() + ": '" + pattern + "' is not a regular expression");
    cache.keep(pattern, expression);
    return expression;
}

}  // namespace

std::optional<std::string> re2Syntax(std::string_view pattern)
{
    std::string out;
    int open = 0;
    bool repeatable = false;  // whether `*` or `+` here repeats what came before
    bool repeated = false;  // whether the last thing written is `*` or `+`
    for (std::size_t at = 0; at < pattern.size();) {
        const char c = pattern[at];
        if ((c == '*' || c == '+') && repeated) {
            // a** is a*, a*+ and a+* are a*, a++ is a+.
            if (c == '*')
                out.back() = '*';
            ++at;
            continue;
        }
        repeated = false;
        if ((c == '*' || c == '+') && repeatable) {
            out += c;
            repeated = true;
            ++at;
            continue;
        }
        repeatable = true;
        switch (c) {
        case '\\':
            if (at + 1 == pattern.size())
                return std::nullopt;
            appendLiteral(out, static_cast<unsigned char>(pattern[at + 1]));
            at += 2;
            continue;
        case '.':
            out += '.';
            break;
        case '^':
        case '$':
            out += c;
            repeatable = false;
            break;
        case '(':
            out += "(?:";
            ++open;
            repeatable = false;
            break;
        case ')':
            if (open-- == 0)
                return std::nullopt;
            out += ')';
            break;
        case '[':
            if (!appendBracket(pattern, at, out))
                return std::nullopt;
            continue;
        default:
            // `*` or `+` with nothing to repeat, `?`, `|`, `{`... are themselves.
            appendLiteral(out, static_cast<unsigned char>(c));
        }
        ++at;
    }
    if (open != 0)
        return std::nullopt;
    return out;
}

std::optional<PatternMatch> findPattern(
    Call& call, const std::string& pattern, std::string_view text, bool whole)
{
    const std::shared_ptr<const RE2> expression = compiled(call, pattern);
    const std::uint64_t steps = std::uint64_t(expression->ProgramSize()) * (text.size() + 1);
    if (steps > kMostSteps)
        call.fail(call.name() + ": the regular expression could take more than " + std::to_string(kMostSteps)
            + " steps on " + std::to_string(text.size()) + " bytes");
    re2::StringPiece found;
    if (!expression->Match(re2::StringPiece(text.data(), text.size()), 0, text.size(),
            whole ? RE2::ANCHOR_BOTH : RE2::UNANCHORED, &found, 1))
        return std::nullopt;
    const auto begin = static_cast<std::size_t>(found.data() - text.data());
    return PatternMatch { begin, begin + found.size() };
}

}  // namespace mel
