#include "flawedCommand.h"

// Four characters and no NUL: the loader must not read past them.
PLUGIN_EXPORT const char MApiVersion[4] = { '6', '0', '0', '0' };

PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    return registerFlawedCommand(obj);
}

PLUGIN_EXPORT MStatus uninitializePlugin(MObject)
{
    return MS::kSuccess;
}
