#pragma once

#include "Syntax.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hostbatch {

/// What parsing a source gave: its top-level statements, or the first syntax error.
struct ParsedSource {
    std::vector<StmtPtr> statements;  ///< Empty when `error` is set.
    std::string error;  ///< Empty when the source is well formed.
    int errorLine = 0;
    int errorColumn = 0;

    bool ok() const { return error.empty(); }
};

/// Parses `text`, whose first line is line `firstLine` of its source, into
/// top-level statements. Statements end at `;`; the last may omit it. A name
/// at the start of a statement that is no keyword and is not followed by `(`
/// starts a command in command syntax: its arguments are words, strings,
/// `$variables`, `(expressions)` and `` `commands` `` up to the `;`. Nesting
/// deeper than a fixed limit is a syntax error, so that nothing later recurses
/// without bound.
ParsedSource parseSource(std::string_view text, int firstLine = 1);

/// Parses `text` as parseSource does, but hands each top-level statement to
/// `take` as soon as it is parsed, so that no more than one is held at a time;
/// `take` returns false to stop. Gives `error` and its place for a syntax error
/// (the statements before it were handed over) and leaves them alone otherwise.
void parseEach(std::string_view text, int firstLine, const std::function<bool(StmtPtr)>& take,
    std::string& error, int& errorLine, int& errorColumn);

}  // namespace hostbatch
