#pragma once

#include <host/CommandResult.h>
#include <host/ScriptEditor.h>
#include <maya/MStatus.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostbatch {

/// What one statement did, as the transcript shows it.
struct StatementOutcome {
    std::string command;  ///< The statement's first word; empty for a script that did not parse.
    MStatus status;
    host::CommandResult result;
    std::vector<host::EditorLine> lines;  ///< The script-editor lines it produced, oldest first.
    std::optional<double> milliseconds;  ///< Its wall time, when the session times statements.
};

/// Appends the text transcript of `outcome`: its editor lines (errors and
/// warnings framed as `// Error: text //` and `// Warning: text //`, info lines
/// as they are, status prints left out), then `// Result: value //` when it set
/// a result, then `// Time: 12.345 ms //` when it was timed. Each line ends with
/// a line feed.
void appendText(std::string& out, const StatementOutcome& outcome);

/// Appends `outcome` as one JSON object on one line, ending with a line feed:
/// {"command":...,"status":code,"result":value or null,"lines":[{"kind":...,"text":...}]},
/// with ,"ms":12.345 after "lines" when it was timed. Status prints are left out
/// of "lines"; a double that is not finite is null.
void appendJson(std::string& out, const StatementOutcome& outcome);

/// Appends `text` as a quoted JSON string: quotes, backslashes and control
/// characters escaped, bytes from 0x80 passed through unchanged.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace hostbatch
