#pragma once

#include "Syntax.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mel {

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

/// Parses the whole of `text` one statement at a time, never holding it as a
/// whole tree, and gives its procedures: how every source that is at hand is
/// checked before any of it runs, so that a syntax error runs nothing and its
/// procedures are known before the statements that call them. False, with
/// `error` saying "line L.C: what", when it does not parse. Throws
/// std::bad_alloc.
bool hoistProcedures(
    std::string_view text, std::vector<std::shared_ptr<const Procedure>>& procedures, std::string& error);

/// Reads up to `size` bytes into `buffer`; 0 at the end, -1 on a read error.
using Read = std::function<long(char* buffer, std::size_t size)>;

/// The top-level statements of one source, one at a time: the one way every
/// source becomes statements, whether its text is at hand (a script file, `-c`,
/// `eval`, `source`) or read as it runs (standard input). On a stream the parser
/// decides when a statement is complete, as it is parsed: a statement is
/// complete once parsing it no longer depends on where the text read so far
/// ends. Reading stops at the end of the source, a read error, or a statement
/// of more than `limit` bytes (0: no limit).
class StatementReader {
public:
    enum class Result { Statement, End, Error };

    /// A source whose whole text is at hand; `text` must outlive the reader.
    StatementReader(std::string_view text, int firstLine = 1);
    /// A source read through `read` as its statements are needed.
    StatementReader(Read read, std::size_t limit);

    /// The next statement, the end, or an error (see `error`).
    Result next(StmtPtr& statement);

    /// After an Error: what it was ("line L.C: what", or what alone), and
    /// whether it came from reading rather than from the text.
    const std::string& error() const { return error_; }
    /// The same in parts: what alone, and its line and column (0 when none).
    const std::string& errorWhat() const { return errorWhat_; }
    int errorLine() const { return errorLine_; }
    int errorColumn() const { return errorColumn_; }
    bool readFailed() const { return readFailed_; }
    /// After an Error: drops the rest of the line the error is on, so that the
    /// statements after it can be read; false when the source cannot go on (a
    /// text at hand, a read error, a statement too large).
    bool skipError();

private:
    bool fill();
    void fail(const std::string& what, int line, int column);

    Read read_;
    std::string buffer_;  // a stream's text read and not yet parsed, from start_
    std::string_view text_;  // the text at hand, or buffer_
    std::size_t start_ = 0;
    std::size_t limit_ = 0;
    int line_ = 1;  // where start_ is in the source
    int column_ = 1;
    bool atEnd_ = true;
    bool stream_ = false;
    std::size_t lastAttempt_ = 0;  // what was pending when the parser last asked for more
    std::string error_;
    std::string errorWhat_;
    int errorLine_ = 0;
    int errorColumn_ = 0;
    bool readFailed_ = false;
    bool fatal_ = false;
    bool skipping_ = false;  // dropping text up to the next line end
    bool lineFeedMayFollow_ = false;  // the last line end dropped was a CR at the end of what was read
};

}  // namespace mel
