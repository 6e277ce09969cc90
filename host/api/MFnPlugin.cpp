#include <maya/MFnPlugin.h>

#include <host/CommandRegistry.h>

namespace {

using LoadingPlugin = host::ObjectAccess::LoadingPlugin;

LoadingPlugin* loadingPluginOf(void* plugin)
{
    auto* loading = static_cast<LoadingPlugin*>(plugin);
    if (loading == nullptr || loading->registry == nullptr || loading->record == nullptr)
        return nullptr;
    return loading;
}

}  // namespace

MFnPlugin::MFnPlugin(
    MObject& object, const char* vendor, const char* version, const char*, MStatus* returnStatus)
    : plugin_(loadingPluginOf(host::ObjectAccess::pluginOf(object)))
    , vendor_(vendor)
    , version_(version)
{
    // The first function set made for a plug-in, initializePlugin's, names its
    // vendor and version; uninitializePlugin's usually names neither.
    LoadingPlugin* loading = loadingPluginOf(plugin_);
    if (loading != nullptr && loading->record->vendor.empty() && loading->record->version.empty()) {
        loading->record->vendor = vendor != nullptr ? vendor : "";
        loading->record->version = version != nullptr ? version : "";
    }
    if (returnStatus != nullptr)
        *returnStatus = plugin_ != nullptr ? MStatus::kSuccess : MStatus::kInvalidParameter;
}

MFnPlugin::~MFnPlugin() = default;

MStatus MFnPlugin::registerCommand(
    const MString& commandName, MCreatorFunction creatorFunction, MCreateSyntaxFunction createSyntaxFunction)
{
    LoadingPlugin* loading = loadingPluginOf(plugin_);
    if (loading == nullptr)
        return MStatus::kInvalidParameter;
    return loading->registry->registerCommand(
        *loading->record, commandName.asChar(), creatorFunction, createSyntaxFunction);
}

MStatus MFnPlugin::deregisterCommand(const MString& commandName)
{
    LoadingPlugin* loading = loadingPluginOf(plugin_);
    if (loading == nullptr)
        return MStatus::kInvalidParameter;
    return loading->registry->deregisterCommand(*loading->record, commandName.asChar());
}
