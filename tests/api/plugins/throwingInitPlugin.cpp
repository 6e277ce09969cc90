#include <maya/MFnPlugin.h>
#include <maya/MPxCommand.h>

#include <memory>
#include <stdexcept>

namespace {

class ApiThrowingInitCommand : public MPxCommand {
public:
    MStatus doIt(const MArgList&) override { return MS::kSuccess; }

    static void* creator() { return std::make_unique<ApiThrowingInitCommand>().release(); }
};

}  // namespace

PLUGIN_EXPORT const char MApiVersion[] = "600";

PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    MFnPlugin plugin(obj);
    plugin.registerCommand("apiThrowingInitCommand", ApiThrowingInitCommand::creator);
    throw std::runtime_error("initialization exploded");
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject)
{
    throw std::runtime_error("uninitialization exploded");
}
