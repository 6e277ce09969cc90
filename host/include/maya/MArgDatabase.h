#pragma once

#include <maya/MArgParser.h>

/// The parsed arguments of one command invocation; see `MArgParser`.
class OPENMAYA_EXPORT MArgDatabase : public MArgParser {
public:
    MArgDatabase() = default;
    MArgDatabase(const MSyntax& syntax, const MArgList& args, MStatus* returnStatus = nullptr)
        : MArgParser(syntax, args, returnStatus)
    {
    }
};
