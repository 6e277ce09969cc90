#pragma once

// What the families of the library share: the readers of arguments a
// built-in needs more than once, and the wording of their errors.
#include "Library.h"

#include <mel/Builtin.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mel {

/// Fails the call with "NAME takes NEEDED, not TYPE": the one wording of a
/// built-in's argument of the wrong type.
[[noreturn]] void failType(Call& call, const std::string& needed, Type found);

/// Argument `i` of `call` as an array of strings or of ints, converted element
/// by element; a scalar there is an error.
std::vector<std::string> stringsAt(Call& call, std::size_t i);
std::vector<int> intsAt(Call& call, std::size_t i);

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
/// `\x`) matches the whole of `text`. In time at most the product of their
/// lengths, however many `*` the pattern has.
bool globMatch(std::string_view pattern, std::string_view text);

}  // namespace mel
