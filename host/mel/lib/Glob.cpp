// Shell patterns, as gmatch and getFileList match names.
#include "Support.h"

namespace mel {

namespace {

// Matches one pattern element at `p` against `c`; `next` is where the element ends.
bool elementMatches(std::string_view pattern, std::size_t p, char c, std::size_t& next)
{
    if (pattern[p] == '?') {
        next = p + 1;
        return true;
    }
    if (pattern[p] == '\\' && p + 1 < pattern.size()) {
        next = p + 2;
        return pattern[p + 1] == c;
    }
    if (pattern[p] != '[') {
        next = p + 1;
        return pattern[p] == c;
    }
    // A bracket set; one left open is a plain '['.
    std::size_t at = p + 1;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated)
        ++at;
    bool found = false;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        const char low = pattern[at];
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            found = found || (low <= c && c <= pattern[at + 2]);
            at += 3;
        } else {
            found = found || low == c;
            ++at;
        }
    }
    if (at >= pattern.size()) {
        next = p + 1;
        return c == '[';
    }
    next = at + 1;
    return found != negated;
}

}  // namespace

// Greedy with one way back, to just after the last `*`: each `*` only ever
// moves forward, so nothing is tried twice.
bool globMatch(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        std::size_t next = 0;
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
        } else if (p < pattern.size() && elementMatches(pattern, p, text[t], next)) {
            p = next;
            ++t;
        } else if (starP != std::string_view::npos) {
            p = starP;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace mel
