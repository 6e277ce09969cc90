#pragma once

#include <mel/Outcome.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hostbatch {

using mel::Line;
using mel::StatementOutcome;

/// Text being written: `drain`, when set, is handed the text whenever it has
/// grown past a chunk, so that a large result never has to be held whole.
struct TranscriptOut {
    std::string text;
    std::function<void(std::string&)> drain;  ///< Takes the text away (and clears it).

    void drainIfFull()
    {
        if (drain && text.size() >= kChunk)
            drain(text);
    }

    static constexpr std::size_t kChunk = 1 << 20;
};

/// Appends the text transcript of `outcome`: its lines (errors and warnings
/// framed as `// Error: text //` and `// Warning: text //`, info lines as they
/// are, print output as it is with no line end added, status prints left out),
/// then `// Result: value //` when it set a result, then `// Time: 12.345 ms //`
/// when it was timed. Each line but print output ends with a line feed.
void appendText(TranscriptOut& out, const StatementOutcome& outcome);
void appendText(std::string& out, const StatementOutcome& outcome);

/// Appends `outcome` as one JSON object on one line, ending with a line feed:
/// {"command":...,"status":code,"result":value or null,"lines":[{"kind":...,"text":...}]},
/// with ,"ms":12.345 after "lines" when it was timed. Status prints are left out
/// of "lines"; print output is kind "output"; a double that is not finite is null.
void appendJson(TranscriptOut& out, const StatementOutcome& outcome);
void appendJson(std::string& out, const StatementOutcome& outcome);

/// Appends `text` as a quoted JSON string: quotes, backslashes and control
/// characters escaped, valid UTF-8 passed through, and each byte that is not
/// part of valid UTF-8 written as the lone surrogate \udcXX, XX its value (80
/// to ff), which no valid text holds, so that it reads back unambiguously.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace hostbatch
