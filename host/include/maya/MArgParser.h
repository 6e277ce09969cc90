#pragma once

#include <maya/MArgList.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MSyntax.h>

#include <string>
#include <vector>

/// Arguments parsed against a command's syntax.
///
/// Parsing reads the whole list: a token that names a declared flag (short or
/// long) is that flag, and the tokens after it are its arguments, whatever they
/// look like (so `-x -5` and `-f "-name"` parse). Parse failures, each shown as
/// one error line on the script editor: an unknown flag, a missing argument, a
/// token that is not a whole number (kLong), not a number (kDouble) or not a
/// boolean (kBoolean), a flag given twice, and a token that belongs to no flag.
class OPENMAYA_EXPORT MArgParser {
public:
    MArgParser() = default;
    /// Parses `args`; `returnStatus` receives kSuccess, or kFailure after the
    /// error line has been shown.
    MArgParser(const MSyntax& syntax, const MArgList& args, MStatus* returnStatus = nullptr);

    /// True when the flag, by short or long name, was given. kInvalidParameter
    /// in `returnStatus` for a name the syntax does not declare.
    bool isFlagSet(const char* flag, MStatus* returnStatus = nullptr) const;

    /// Argument `index` of `flag`. Each form returns kInvalidParameter and leaves
    /// `result` unchanged when the flag was not given, has no such argument, or
    /// its value does not fit: a number that is not finite; below INT_MIN or above
    /// INT_MAX into `int`; negative or above 4294967295 into `unsigned int`. A real
    /// number read into an integer is truncated toward zero. Text is returned as
    /// given, whatever the argument type.
    MStatus getFlagArgument(const char* flag, unsigned int index, MString& result) const;
    MStatus getFlagArgument(const char* flag, unsigned int index, int& result) const;
    MStatus getFlagArgument(const char* flag, unsigned int index, unsigned int& result) const;
    MStatus getFlagArgument(const char* flag, unsigned int index, double& result) const;
    MStatus getFlagArgument(const char* flag, unsigned int index, bool& result) const;

private:
    struct GivenFlag {
        int flagIndex;
        std::vector<std::string> arguments;
    };

    const GivenFlag* findGiven(const char* flag) const;
    MStatus readNumber(const char* flag, unsigned int index, double& result) const;

    MSyntax syntax_;
    std::vector<GivenFlag> given_;
};
