#pragma once

#include <maya/MFnPlugin.h>
#include <maya/MPxCommand.h>

#include <memory>

// The command every flawed plug-in registers: finding it registered shows that
// the loader called initializePlugin of a library it should have refused.
class ApiFlawedCommand : public MPxCommand {
public:
    static void* creator() { return std::make_unique<ApiFlawedCommand>().release(); }
};

inline MStatus registerFlawedCommand(MObject obj)
{
    MFnPlugin plugin(obj);
    return plugin.registerCommand("apiFlawedCommand", ApiFlawedCommand::creator);
}
