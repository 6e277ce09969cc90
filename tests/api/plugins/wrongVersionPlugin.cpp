#include "flawedCommand.h"

PLUGIN_EXPORT const char MApiVersion[] = "6000";

PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    return registerFlawedCommand(obj);
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject)
{
    return MS::kSuccess;
}
