#include <maya/MArgDatabase.h>
#include <maya/MFnPlugin.h>
#include <maya/MGlobal.h>
#include <maya/MPxCommand.h>

#include <memory>

namespace {

// Doubles the whole number given with -v, so a test sees its arguments arrive.
class ApiGoodCommand : public MPxCommand {
public:
    MStatus doIt(const MArgList& args) override
    {
        MStatus status;
        MArgDatabase arguments(syntax(), args, &status);
        if (!status)
            return status;  // error already shown
        int value = 0;
        status = arguments.getFlagArgument("-v", 0, value);
        if (!status)
            return status;
        setResult(value * 2);
        return MS::kSuccess;
    }

    static void* creator() { return std::make_unique<ApiGoodCommand>().release(); }

    static MSyntax newSyntax()
    {
        MSyntax syntax;
        syntax.addFlag("-v", "-value", MSyntax::kLong);
        return syntax;
    }
};

}  // namespace

PLUGIN_EXPORT const char MApiVersion[] = "600";

PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    MFnPlugin plugin(obj, "pictile tests", "1.0");
    return plugin.registerCommand("apiGoodCommand", ApiGoodCommand::creator, ApiGoodCommand::newSyntax);
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject obj)
{
    MFnPlugin plugin(obj);
    MGlobal::displayInfo("api_good_plugin: uninitializePlugin");
    return plugin.deregisterCommand("apiGoodCommand");
}
