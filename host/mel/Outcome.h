#pragma once

#include "Value.h"

#include <host/CommandResult.h>
#include <host/ScriptEditor.h>
#include <maya/MStatus.h>

#include <optional>
#include <string>
#include <vector>

namespace mel {

/// A line a statement produced: a script-editor line, `print` output among them.
using Line = host::EditorLine;

/// What one top-level statement did.
struct StatementOutcome {
    std::string command;  ///< The statement's first word; empty for a source that did not parse.
    MStatus status;
    host::CommandResult result;
    /// The value of a statement that is no command call, when the interpreter
    /// gives values (`result` then holds nothing).
    std::optional<Value> value;
    std::vector<Line> lines;  ///< The lines it produced, oldest first.
    std::optional<double> milliseconds;  ///< Its wall time, when the interpreter times statements.
};

}  // namespace mel
