#pragma once

// What the families of the library share: the readers of arguments a
// built-in needs more than once, and the wording of their errors.
#include "Library.h"

#include <mel/Builtin.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mel {

/// The kind of a row for one of the procedures the host ships as scripts.
inline constexpr Builtin::Kind kProcedure = Builtin::Kind::Procedure;

/// Fails the call with "NAME takes NEEDED, not TYPE": the one wording of a
/// built-in's argument of the wrong type.
[[noreturn]] void failType(Call& call, const std::string& needed, Type found);

/// Argument `i` of `call` as an array of strings or of ints, converted element
/// by element; a scalar there is an error.
std::vector<std::string> stringsAt(Call& call, std::size_t i);
std::vector<int> intsAt(Call& call, std::size_t i);

/// Argument `i` as an array of `Element`s (std::string, int or double), read
/// where it lies when it is a variable of that array type, else converted
/// into `scratch`; a scalar there is an error. The variable outlives the call,
/// though a later argument may change what it holds.
template <typename Element> const std::vector<Element>& elementsAt(Call& call, std::size_t i, Value& scratch);

/// Argument `i` as text, read where it lies when it is a string variable,
/// else held in `scratch`; an array there is an error, as Call::text says it.
const std::string& textAt(Call& call, std::size_t i, Value& scratch);

/// Argument `i` as a vector, converted as assignment converts it (a number is
/// a vector of three times itself); a string or an array there is an error.
Vector3 vectorAt(Call& call, std::size_t i);

/// Looks at Ctrl-C once every few thousand steps of a long loop, so that the
/// loop stays interruptible at almost no cost a step.
class InterruptPoll {
public:
    explicit InterruptPoll(Call& call)
        : call_(call)
    {
    }
    void step()
    {
        if (--left_ == 0) {
            left_ = kEvery;
            call_.checkInterrupt();
        }
    }

private:
    static constexpr unsigned kEvery = 1u << 14;
    Call& call_;
    unsigned left_ = kEvery;
};

/// One flag a built-in takes: its long and short name (with the '-') and how
/// many values follow it.
struct FlagSpec {
    std::string_view longName;
    std::string_view shortName;
    int values = 0;
};

/// The index of the row of `table` that `word` names by either name, or
/// `table.size()` when none does.
std::size_t findFlag(const std::vector<FlagSpec>& table, std::string_view word);

/// A call's arguments read as flags of a table and positional arguments,
/// each argument evaluated once.
struct Flags {
    /// One flag as given: its row of the table and the argument index of its first value.
    struct Given {
        std::size_t row;
        std::size_t first;
    };
    std::vector<Value> arguments;  ///< Every argument's value, by argument index.
    std::vector<Given> given;  ///< In the order given.
    std::vector<std::size_t> positional;  ///< The argument indices of the rest, in order.
    bool query = false;  ///< -query (-q) was given, when the table has it.

    /// The last use of row `row`, or null when it was not given.
    const Given* find(std::size_t row) const;
    /// Argument `i` as text; an array there is an error.
    std::string text(Call& call, std::size_t i) const;
    /// Argument `i` as an int, as Call::integer reads one.
    int integer(Call& call, std::size_t i) const;
};

/// Reads every argument of `call`: a word starting with '-' and a letter must
/// be a flag of `table` ("NAME: unknown flag 'WORD'"), followed by its values
/// ("NAME: WORD needs a value"); anything else is positional. A table that has
/// a "-query" taking no value puts the call in query mode once it is given,
/// where flags take no values, as the host's query mode reads them.
Flags readFlags(Call& call, const std::vector<FlagSpec>& table);

/// Whether the shell pattern `pattern` (`*`, `?`, `[abc]`, `[a-z]`, `[!a]`,
/// `\x`) matches the whole of `text`. In time linear in the text (and in the
/// pattern, 256 steps a character at most) while the pieces between `*` are
/// 64 elements or fewer, each piece found at its first place; `poll`, when
/// given, is called every million steps or so.
bool globMatch(std::string_view pattern, std::string_view text, const std::function<void()>& poll = {});

/// MEL's regular expressions, as `match` reads them: `.`, `*`, `+`, `^`, `$`,
/// `\x`, `[...]` (with `\` escaping inside too) and `(...)`; every other
/// character is itself. The same expression in RE2's syntax, or nothing when
/// `pattern` is not one (a `(` left open, a `\` with nothing after it...).
std::optional<std::string> re2Syntax(std::string_view pattern);

/// Where a regular expression matched: bytes [begin, end) of the text.
struct PatternMatch {
    std::size_t begin = 0;
    std::size_t end = 0;
};

/// The leftmost, then longest, match of MEL's regular expression `pattern` in
/// `text` (with `whole`, only one of all of `text`), in time linear in the
/// text. Fails the call when `pattern` is not an expression, is too large, or
/// could take more than a bound of steps on a text this long.
std::optional<PatternMatch> findPattern(
    Call& call, const std::string& pattern, std::string_view text, bool whole);

}  // namespace mel
