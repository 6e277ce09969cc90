#pragma once

#include <maya/MObject.h>
#include <maya/MStatus.h>
#include <maya/MString.h>
#include <maya/MSyntax.h>
#include <maya/MTypes.h>

/// Marks a plug-in's entry points and its `MApiVersion` for export with C
/// linkage, under the names the host's loader looks up:
///
///     PLUGIN_EXPORT const char MApiVersion[] = "600";
///     PLUGIN_EXPORT MStatus initializePlugin(MObject obj);
///     PLUGIN_EXPORT MStatus uninitializePlugin(MObject obj);
#if defined(_WIN32)
#define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using MCreatorFunction = void* (*)();
using MCreateSyntaxFunction = MSyntax (*)();

/// The plug-in function set: what a plug-in registers with the host. Built on the
/// object the host passed to the entry point.
class OPENMAYA_EXPORT MFnPlugin {
public:
    /// `returnStatus` receives kInvalidParameter for an object that names no
    /// plug-in being loaded; every later call then fails the same way.
    MFnPlugin(MObject& object, const char* vendor = "Unknown", const char* version = "Unknown",
        const char* requiredApiVersion = "Any", MStatus* returnStatus = nullptr);
    MFnPlugin(const MFnPlugin&) = delete;
    MFnPlugin& operator=(const MFnPlugin&) = delete;
    ~MFnPlugin();

    /// Registers a command under `commandName` for this plug-in. kFailure when the
    /// name is already registered (by any plug-in), kInvalidParameter for an
    /// empty name or a null creator. A null syntax function gives a command
    /// without flags.
    MStatus registerCommand(const MString& commandName, MCreatorFunction creatorFunction,
        MCreateSyntaxFunction createSyntaxFunction = nullptr);
    /// Removes a command this plug-in registered. kFailure when this plug-in owns
    /// no command of that name.
    MStatus deregisterCommand(const MString& commandName);

    MString vendor() const { return vendor_; }
    MString version() const { return version_; }

private:
    void* plugin_;
    MString vendor_;
    MString version_;
};
