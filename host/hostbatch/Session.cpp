#include "Session.h"

#include "Lexer.h"
#include "Parser.h"

#include <host/ScriptEditor.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace hostbatch {

namespace {

std::vector<Line> fromEditor(std::vector<host::EditorLine> lines)
{
    std::vector<Line> converted;
    for (host::EditorLine& line : lines)
        converted.push_back(Line { hostbatch::fromEditor(line.kind), std::move(line.text) });
    return converted;
}

// Finds where the top-level statements of a stream end, reading it piece by
// piece: at a `;` outside strings, comments and brackets.
class StatementSplitter {
public:
    /// Adds what was read.
    void add(std::string_view text) { buffer_.append(text.data(), text.size()); }

    /// The text of the next complete piece, or false while it is incomplete.
    /// At the end of the stream, everything left is the last piece.
    bool next(bool atEnd, std::string& piece, int& firstLine)
    {
        while (true) {
            if (awaitingElse_) {
                if (!decideElse(atEnd))
                    return false;
                if (pendingCut_)
                    return take(piece, firstLine);
            }
            if (scanned_ >= buffer_.size())
                break;
            if (!atEnd && needsNextByte())
                return false;
            if (scan()) {
                awaitingElse_ = startsWithIf();
                if (!awaitingElse_)
                    return take(piece, firstLine);
            }
        }
        if (!atEnd || buffer_.size() == start_)
            return false;
        cut_ = buffer_.size();
        return take(piece, firstLine);
    }

private:
    enum class State { Code, String, Escape, LineComment, BlockComment };

    // A '/' may start a comment and a '*' end one: the byte after tells.
    bool needsNextByte() const
    {
        if (scanned_ + 1 < buffer_.size())
            return false;
        const char c = buffer_[scanned_];
        return (state_ == State::Code && c == '/') || (state_ == State::BlockComment && c == '*');
    }

    // Scans one byte; true when it was a `;` that may end the piece.
    bool scan()
    {
        const char c = buffer_[scanned_];
        const char following = scanned_ + 1 < buffer_.size() ? buffer_[scanned_ + 1] : '\0';
        ++scanned_;
        if (c == '\n')
            ++lines_;
        switch (state_) {
        case State::String:
            state_ = c == '\\' ? State::Escape : c == '"' || c == '\n' ? State::Code : State::String;
            return false;
        case State::Escape:
            state_ = State::String;
            return false;
        case State::LineComment:
            if (c == '\n')
                state_ = State::Code;
            return false;
        case State::BlockComment:
            if (c == '*' && following == '/') {
                ++scanned_;
                state_ = State::Code;
            }
            return false;
        case State::Code:
            break;
        }
        if (c == '"') {
            state_ = State::String;
        } else if (c == '/' && (following == '/' || following == '*')) {
            // A lone '/' at the end of what was read may yet start a comment.
            state_ = following == '/' ? State::LineComment : State::BlockComment;
            ++scanned_;
        } else if (c == '(' || c == '[' || c == '{') {
            ++depth_;
        } else if (c == ')' || c == ']' || c == '}') {
            --depth_;
        } else if (c == ';' && depth_ <= 0) {
            depth_ = 0;
            cut_ = scanned_;
            cutLines_ = lines_;
            return true;
        }
        return false;
    }

    // An `if` may be followed by `else` after its `;`: the piece waits for it.
    bool startsWithIf() const
    {
        try {
            Lexer lexer(std::string_view(buffer_).substr(start_, cut_ - start_), 1);
            return lexer.next().isWord("if");
        } catch (const SyntaxError&) {
            return false;
        }
    }

    // After an `if`'s `;`: true once it is known whether `else` follows (then
    // scanning goes on), false while more text is needed.
    bool decideElse(bool atEnd)
    {
        std::size_t at = scanned_;
        while (true) {
            if (at >= buffer_.size())
                return atEnd ? finishIf(false) : false;
            const char c = buffer_[at];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                ++at;
            } else if (c == '/' && at + 1 >= buffer_.size()) {
                return atEnd ? finishIf(false) : false;
            } else if (c == '/' && buffer_[at + 1] == '/') {
                const std::size_t end = buffer_.find('\n', at);
                if (end == std::string::npos)
                    return atEnd ? finishIf(false) : false;
                at = end;
            } else if (c == '/' && buffer_[at + 1] == '*') {
                const std::size_t end = buffer_.find("*/", at + 2);
                if (end == std::string::npos)
                    return atEnd ? finishIf(false) : false;
                at = end + 2;
            } else {
                if (buffer_.size() - at < 5 && !atEnd)
                    return false;
                const std::string_view word = std::string_view(buffer_).substr(at, 5);
                const bool isElse = word.substr(0, 4) == "else"
                    && (word.size() == 4
                        || !(std::isalnum(static_cast<unsigned char>(word[4])) || word[4] == '_'));
                return finishIf(isElse);
            }
        }
    }

    bool finishIf(bool elseFollows)
    {
        awaitingElse_ = false;
        if (elseFollows)
            cut_ = 0;  // the statement goes on; the scan carries on after the `;`
        else
            pendingCut_ = true;
        return true;
    }

    bool take(std::string& piece, int& firstLine)
    {
        piece.assign(buffer_, start_, cut_ - start_);
        firstLine = line_;
        line_ = 1 + cutLines_;
        // Lines counted past the cut belong to the next piece.
        start_ = cut_;
        cut_ = 0;
        pendingCut_ = false;
        if (start_ > (1u << 16) && start_ > buffer_.size() / 2) {
            buffer_.erase(0, start_);
            scanned_ -= start_;
            start_ = 0;
        }
        return true;
    }

    std::string buffer_;
    std::size_t start_ = 0;  // where the next piece starts
    std::size_t scanned_ = 0;
    std::size_t cut_ = 0;  // where the piece ends, after its `;`; 0 when not found yet
    State state_ = State::Code;
    int depth_ = 0;
    int lines_ = 0;  // line ends scanned so far
    int cutLines_ = 0;  // line ends before the cut
    int line_ = 1;  // the line the next piece starts on
    bool awaitingElse_ = false;
    bool pendingCut_ = false;
};

}  // namespace

Session::Session()
    : loader_(registry_)
    , interpreter_(registry_)
{
    host::ScriptEditor::take();  // lines from before the session belong to no statement
    // The loader belongs to the session: the interpreter knows these two only as rows.
    interpreter_.addBuiltin(Builtin { "loadPlugin", 1, 1, [this](Call& call) { loadOrUnload(call, true); } });
    interpreter_.addBuiltin(
        Builtin { "unloadPlugin", 1, 1, [this](Call& call) { loadOrUnload(call, false); } });
}

// loadPlugin "PATH or NAME" and unloadPlugin "NAME"; the loader's reason, or the
// status's when it gives none, is the error line.
void Session::loadOrUnload(Call& call, bool load)
{
    const std::string argument = call.text(0);
    MStatus status;
    std::string error;
    if (load) {
        const host::PluginLoader::LoadOutcome outcome = loader_.load(argument);
        status = outcome.status;
        error = outcome.error;
    } else {
        status = loader_.unload(argument, error);
    }
    if (status)
        return;
    host::ScriptEditor::show(
        host::LineKind::Error, error.empty() ? std::string(status.errorString().asChar()) : error);
    call.failShown(status);
}

host::PluginLoader::LoadOutcome Session::loadPlugin(const std::string& path, std::vector<Line>& lines)
{
    host::PluginLoader::LoadOutcome outcome = loader_.load(path);
    lines = fromEditor(host::ScriptEditor::take());
    return outcome;
}

StatementOutcome Session::runStatement(const Stmt& statement)
{
    const auto start = std::chrono::steady_clock::now();
    StatementOutcome outcome;
    outcome.command = statement.firstWord;
    try {
        interpreter_.runTopLevel(statement, outcome);
        outcome.lines = interpreter_.takeLines();
    } catch (const std::bad_alloc&) {
        outcome = StatementOutcome();
        outcome.command = statement.firstWord;
        outcome.status = MS::kFailure;
        outcome.lines = interpreter_.takeLines();
        outcome.lines.push_back(Line { LineKind::Error, "out of memory" });
    } catch (const std::length_error&) {
        outcome = StatementOutcome();
        outcome.command = statement.firstWord;
        outcome.status = MS::kFailure;
        outcome.lines = interpreter_.takeLines();
        outcome.lines.push_back(Line { LineKind::Error, "out of memory" });
    }
    if (timeStatements_) {
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        outcome.milliseconds = elapsed.count();
    }
    return outcome;
}

bool Session::runPiece(std::string_view text, int firstLine, bool keepGoing, const Report& report, bool& stop)
{
    StatementOutcome failure;
    failure.status = MS::kFailure;
    std::string error;
    int errorLine = 0;
    int errorColumn = 0;
    // Checked whole first, one statement at a time, so that a large source is
    // never held as a whole tree; its procedures are known before any of it runs.
    std::vector<std::shared_ptr<const Procedure>> procedures;
    try {
        parseEach(
            text, firstLine,
            [&procedures](StmtPtr statement) {
                if (statement->kind == Stmt::Kind::Procedure)
                    procedures.push_back(statement->procedure);
                return true;
            },
            error, errorLine, errorColumn);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    if (!error.empty()) {
        const std::string place = errorLine > 0
            ? "line " + std::to_string(errorLine) + "." + std::to_string(errorColumn) + ": "
            : std::string();
        failure.lines.push_back(Line { LineKind::Error, place + error });
        report(failure);
        stop = !keepGoing;
        return false;
    }
    for (auto& procedure : procedures)
        interpreter_.define(std::move(procedure));
    procedures.clear();

    bool allSucceeded = true;
    try {
        parseEach(
            text, firstLine,
            [&](StmtPtr statement) {
                const StatementOutcome outcome = runStatement(*statement);
                report(outcome);
                if (stopRequested_) {
                    stop = true;
                    allSucceeded = allSucceeded && outcome.status;
                    return false;
                }
                if (outcome.status)
                    return true;
                allSucceeded = false;
                stop = !keepGoing;
                return !stop;
            },
            error, errorLine, errorColumn);
    } catch (const std::bad_alloc&) {
        failure.lines.push_back(Line { LineKind::Error, "out of memory" });
        report(failure);
        stop = !keepGoing;
        return false;
    }
    return allSucceeded;
}

bool Session::runScript(std::string_view text, bool keepGoing, const Report& report)
{
    bool stop = false;
    return runPiece(text, 1, keepGoing, report, stop);
}

bool Session::runStream(const Read& read, bool keepGoing, const Report& report, bool& readFailed)
{
    readFailed = false;
    StatementSplitter splitter;
    std::vector<char> chunk(1 << 16);
    std::string piece;
    bool allSucceeded = true;
    bool atEnd = false;
    while (true) {
        int firstLine = 1;
        while (splitter.next(atEnd, piece, firstLine)) {
            bool stop = false;
            if (!runPiece(piece, firstLine, keepGoing, report, stop))
                allSucceeded = false;
            if (stop || stopRequested_)
                return false;
        }
        if (atEnd)
            return allSucceeded;
        const long count = read(chunk.data(), chunk.size());
        if (count < 0) {
            readFailed = true;
            return false;
        }
        if (count == 0)
            atEnd = true;
        else
            splitter.add(std::string_view(chunk.data(), std::size_t(count)));
    }
}

}  // namespace hostbatch
