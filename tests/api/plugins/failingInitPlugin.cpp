#include <maya/MFnPlugin.h>
#include <maya/MGlobal.h>
#include <maya/MPxCommand.h>

#include <memory>

namespace {

class ApiFailingInitCommand : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override
    {
        setResult("still here");
        return MS::kSuccess;
    }

    static void* creator() { return std::make_unique<ApiFailingInitCommand>().release(); }
};

}  // namespace

PLUGIN_EXPORT const char MApiVersion[] = "600";

// Registers its command and then fails, so the host must keep it loaded.
PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    MFnPlugin plugin(obj);
    plugin.registerCommand("apiFailingInitCommand", ApiFailingInitCommand::creator);
    return MS::kInvalidParameter;
}

// Leaves its command registered: unloading must remove it all the same.
PLUGIN_EXPORT MStatus uninitializePlugin(MObject)
{
    MGlobal::displayInfo("api_failing_init_plugin: uninitializePlugin");
    return MS::kSuccess;
}
