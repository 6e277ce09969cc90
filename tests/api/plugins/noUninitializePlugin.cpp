#include "flawedCommand.h"

PLUGIN_EXPORT const char MApiVersion[] = "600";

PLUGIN_EXPORT MStatus initializePlugin(MObject obj)
{
    return registerFlawedCommand(obj);
}
