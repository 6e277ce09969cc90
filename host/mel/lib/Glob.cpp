// Shell patterns, as gmatch and getFileList match names.
#include "Support.h"

#include <array>
#include <cstdint>

namespace mel {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The ']' closing the bracket set that opens at `p`, or kNone when it is left
// open (a plain '[' then). A ']' right after the '[' (or "[!") is a member.
std::size_t bracketClose(std::string_view pattern, std::size_t p)
{
    std::size_t at = p + 1;
    if (at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^'))
        ++at;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false)
        at += at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']' ? 3 : 1;
    return at < pattern.size() ? at : kNone;
}

// Where the element at `p` (a byte, `?`, `\x`, a bracket set or `*`) ends.
std::size_t elementEnd(std::string_view pattern, std::size_t p)
{
    if (pattern[p] == '\\' && p + 1 < pattern.size())
        return p + 2;
    if (pattern[p] != '[')
        return p + 1;
    const std::size_t close = bracketClose(pattern, p);
    return close == kNone ? p + 1 : close + 1;
}

bool elementMatches(std::string_view pattern, std::size_t p, unsigned char c)
{
    if (pattern[p] == '?')
        return true;
    if (pattern[p] == '\\' && p + 1 < pattern.size())
        return static_cast<unsigned char>(pattern[p + 1]) == c;
    const std::size_t close = pattern[p] == '[' ? bracketClose(pattern, p) : kNone;
    if (close == kNone)
        return static_cast<unsigned char>(pattern[p]) == c;
    std::size_t at = p + 1;
    const bool negated = pattern[at] == '!' || pattern[at] == '^';
    if (negated)
        ++at;
    bool found = false;
    while (at < close) {
        const auto low = static_cast<unsigned char>(pattern[at]);
        if (at + 2 < close && pattern[at + 1] == '-') {
            found = found || (low <= c && c <= static_cast<unsigned char>(pattern[at + 2]));
            at += 3;
        } else {
            found = found || low == c;
            ++at;
        }
    }
    return found != negated;
}

// Counts work, calling the poll every so often.
class Work {
public:
    explicit Work(const std::function<void()>& poll)
        : poll_(poll)
    {
    }
    void add(std::size_t steps)
    {
        done_ += steps;
        if (done_ >= kEvery) {
            done_ = 0;
            if (poll_)
                poll_();
        }
    }

private:
    static constexpr std::size_t kEvery = std::size_t { 1 } << 20;
    const std::function<void()>& poll_;
    std::size_t done_ = 0;
};

// The elements of the piece [first, last) of the pattern, which holds no `*`.
std::size_t elementCount(std::string_view pattern, std::size_t first, std::size_t last)
{
    std::size_t count = 0;
    for (std::size_t p = first; p < last; p = elementEnd(pattern, p))
        ++count;
    return count;
}

// Whether the piece [first, last) matches the text from `at` on, element by element.
bool pieceMatchesAt(std::string_view pattern, std::size_t first, std::size_t last, std::string_view text,
    std::size_t at, Work& work)
{
    for (std::size_t p = first; p < last; p = elementEnd(pattern, p), ++at)
        if (at >= text.size() || !elementMatches(pattern, p, static_cast<unsigned char>(text[at])))
            return false;
    work.add(last - first);
    return true;
}

// The first place in text [from, limit) where the piece [first, last) of
// `count` elements matches whole, or kNone. Shift-and over the piece's first
// 64 elements: one step a byte of text; the rest, if any, checked where those match.
std::size_t findPiece(std::string_view pattern, std::size_t first, std::size_t last, std::size_t count,
    std::string_view text, std::size_t from, std::size_t limit, Work& work)
{
    const std::size_t head = std::min<std::size_t>(count, 64);
    std::array<std::uint64_t, 256> masks {};
    std::size_t rest = first;
    for (std::size_t i = 0; i < head; ++i, rest = elementEnd(pattern, rest)) {
        const std::uint64_t bit = std::uint64_t { 1 } << i;
        if (pattern[rest] != '?' && pattern[rest] != '[') {
            masks[static_cast<unsigned char>(pattern[elementEnd(pattern, rest) - 1])] |= bit;
            continue;
        }
        for (unsigned c = 0; c < 256; ++c)
            if (elementMatches(pattern, rest, static_cast<unsigned char>(c)))
                masks[c] |= bit;
        work.add(256);
    }
    const std::uint64_t whole = std::uint64_t { 1 } << (head - 1);
    std::uint64_t state = 0;
    for (std::size_t at = from; at < limit; ++at) {
        state = ((state << 1) | 1) & masks[static_cast<unsigned char>(text[at])];
        if ((state & whole) == 0)
            continue;
        const std::size_t start = at + 1 - head;
        if (count == head)
            return start;
        if (start + count <= limit && pieceMatchesAt(pattern, rest, last, text, at + 1, work))
            return start;
        work.add(1);
    }
    work.add(limit - from);
    return kNone;
}

}  // namespace

// The piece before the first `*` is held to the start of the text and the piece
// after the last to its end; each piece between goes at its first place after
// the one before, which leaves the most room for those after it.
bool globMatch(std::string_view pattern, std::string_view text, const std::function<void()>& poll)
{
    Work work(poll);
    std::size_t p = 0;
    std::size_t t = 0;
    for (; p < pattern.size() && pattern[p] != '*'; p = elementEnd(pattern, p), ++t)
        if (t == text.size() || !elementMatches(pattern, p, static_cast<unsigned char>(text[t])))
            return false;
    if (p == pattern.size())
        return t == text.size();
    std::size_t lastStar = p;
    for (std::size_t q = p; q < pattern.size(); q = elementEnd(pattern, q))
        if (pattern[q] == '*')
            lastStar = q;
    const std::size_t lastCount = elementCount(pattern, lastStar + 1, pattern.size());
    if (text.size() - t < lastCount)
        return false;
    const std::size_t limit = text.size() - lastCount;
    if (!pieceMatchesAt(pattern, lastStar + 1, pattern.size(), text, limit, work))
        return false;
    for (std::size_t q = p + 1; q < lastStar;) {
        std::size_t end = q;
        while (end < lastStar && pattern[end] != '*')
            end = elementEnd(pattern, end);
        const std::size_t count = elementCount(pattern, q, end);
        if (count > 0) {
            const std::size_t at = findPiece(pattern, q, end, count, text, t, limit, work);
            if (at == kNone)
                return false;
            t = at + count;
        }
        q = end + 1;
    }
    return true;
}

}  // namespace mel
