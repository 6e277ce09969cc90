#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostbatch {

/// One command of a script: its name and its arguments, as words.
struct Statement {
    std::vector<std::string> words;  ///< Never empty: the first word is the command name.
    int line = 0;  ///< The line the statement starts on, from 1.
};

/// What reading a whole script gave: its statements, or the first syntax error.
struct ParsedScript {
    std::vector<Statement> statements;  ///< Empty when `error` is set.
    std::string error;  ///< Empty when the script is well formed.
    int errorLine = 0;  ///< The line of the error, from 1; 0 without an error.

    bool ok() const { return error.empty(); }
};

/// Splits script text into statements. Statements end at `;` or a line end;
/// `//` comments run to the line end and `/* */` comments may span lines.
/// Double-quoted strings take the escapes \" \\ \n \t and become one word of
/// their unescaped text; any other run of characters up to whitespace, `;`, a
/// quote or a comment start is one word. Empty statements are dropped. A syntax
/// error (unterminated string or comment, unknown escape) gives no statements.
ParsedScript parseScript(std::string_view text);

}  // namespace hostbatch
