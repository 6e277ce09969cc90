#pragma once

#include <maya/MStatus.h>
#include <maya/MString.h>

#include <vector>

/// The arguments of one command invocation, as the script gave them.
class OPENMAYA_EXPORT MArgList {
public:
    MArgList() = default;

    /// The number of arguments.
    unsigned int length(MStatus* returnStatus = nullptr) const;
    /// The argument at `index` as text. kInvalidParameter, and the empty string,
    /// when `index` is not below `length()`.
    MString asString(unsigned int index, MStatus* returnStatus = nullptr) const;
    /// Adds an argument at the end. Always succeeds.
    MStatus addArg(const MString& argument);

private:
    std::vector<MString> arguments_;
};
