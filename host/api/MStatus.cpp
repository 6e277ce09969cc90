#include <maya/MStatus.h>
#include <maya/MString.h>

#include <host/ScriptEditor.h>

#include <cstdio>
#include <string>

namespace {

const char* descriptionOf(MStatus::MStatusCode code)
{
    switch (code) {
    case MStatus::kSuccess:
        return "Success";
    case MStatus::kFailure:
        return "Unexpected Internal Failure";
    case MStatus::kInsufficientMemory:
        return "Insufficient Memory";
    case MStatus::kInvalidParameter:
        return "Invalid Parameter";
    case MStatus::kUnknownParameter:
        return "Unknown Parameter";
    case MStatus::kNotImplemented:
        return "Not Implemented";
    case MStatus::kNotFound:
        return "Not Found";
    case MStatus::kEndOfFile:
        return "End of File";
    }
    return "Unknown Status";
}

}  // namespace

MString MStatus::errorString() const
{
    return MString(descriptionOf(code_));
}

void MStatus::perror(const char* text) const
{
    std::string line = descriptionOf(code_);
    if (text != nullptr && *text != '\0')
        line = std::string(text) + ": " + line;
    std::fprintf(stderr, "%s\n", line.c_str());
    host::ScriptEditor::show(host::LineKind::StatusPrint, line);
}

void MStatus::perror(const MString& text) const
{
    perror(text.asChar());
}
