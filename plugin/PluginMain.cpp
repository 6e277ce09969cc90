#include "averageFunction.h"
#include "depthFunction.h"
#include "queryFunction.h"
#include "resizeFunction.h"

#include <maya/MFnPlugin.h>
#include <maya/MObject.h>
#include <maya/MStatus.h>
#include <maya/MString.h>

namespace {

struct CommandRow {
    const char* name;
    MCreatorFunction creator;
    MCreateSyntaxFunction newSyntax;
    const char* registerFailure;
    const char* deregisterFailure;
};

// Both entry points walk this table in order.
constexpr CommandRow kCommands[] = {
    { "averageFunction", averageFunction::creator, averageFunction::newSyntax,
        "could not register the \"averageFunction\" mel command",
        "could not de-register the \"averageFunction\" command" },
    { "depthFunction", depthFunction::creator, depthFunction::newSyntax,
        "could not register the \"depthFunction\" mel command",
        "could not de-register the \"depthFunction\" command" },
    { "queryFunction", queryFunction::creator, queryFunction::newSyntax,
        "could not register the \"queryFunction\" mel command",
        "could not de-register the \"queryFunction\" command" },
    { "resizeFunction", resizeFunction::creator, resizeFunction::newSyntax,
        "could not register the \"resizeFunction\" mel command",
        "could not de-register the \"resizeFunction\" command" },
};

}  // namespace

PLUGIN_EXPORT const char MApiVersion[] = "600";

// A failing row is printed and the next one is still tried; only the last row's
// status reaches the host.
PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    MStatus status;
    MFnPlugin plugin(obj, "Dovrin Maskelle", "1.0", "Any");
    for (const CommandRow& row : kCommands) {
        status = plugin.registerCommand(MString(row.name), row.creator, row.newSyntax);
        if (!status)
            status.perror(row.registerFailure);
    }
    return status;
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject obj)
{
    MStatus status;
    MFnPlugin plugin(obj, "Unknown", "Unknown", "Any");
    for (const CommandRow& row : kCommands) {
        status = plugin.deregisterCommand(MString(row.name));
        if (!status)
            status.perror(row.deregisterFailure);
    }
    return status;
}
