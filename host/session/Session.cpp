#include "Session.h"

#include <mel/lib/Library.h>

#include <host/ScriptEditor.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace host {

Session::Session()
    : loader_(registry_)
    , interpreter_(registry_)
{
    ScriptEditor::take();  // lines from before the session belong to no statement
    mel::openStandardLibrary(interpreter_);
    // The loader belongs to the session: the library knows it only through PluginHost.
    for (mel::Builtin& builtin : mel::pluginBuiltins(*this))
        interpreter_.addBuiltin(std::move(builtin));
}

MStatus Session::load(const std::string& pathOrName, std::string& error)
{
    const PluginLoader::LoadOutcome outcome = loader_.load(pathOrName);
    error = outcome.error;
    return outcome.status;
}

MStatus Session::unload(const std::string& name, std::string& error)
{
    return loader_.unload(name, error);
}

std::vector<mel::PluginHost::Plugin> Session::plugins() const
{
    std::vector<Plugin> plugins;
    for (const std::string& name : loader_.loadedPlugins()) {
        const PluginRecord* record = loader_.record(name);
        if (record != nullptr)
            plugins.push_back(Plugin {
                record->name, record->path, record->vendor, record->version, registry_.commandsOf(*record) });
    }
    return plugins;
}

PluginLoader::LoadOutcome Session::loadPlugin(const std::string& path, std::vector<mel::Line>& lines)
{
    PluginLoader::LoadOutcome outcome = loader_.load(path);
    lines = ScriptEditor::take();
    return outcome;
}

}  // namespace host

namespace host {

namespace {

// The smallest limit on memory.max of the control group this process is in
// and those above it; 0 when none is set (or there is no cgroup v2).
std::uint64_t controlGroupLimit()
{
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    std::string path;
    while (std::getline(groups, line))
        if (line.rfind("0::", 0) == 0)
            path = line.substr(3);
    if (path.empty())
        return 0;
    std::uint64_t smallest = 0;
    for (std::filesystem::path group = std::filesystem::path("/sys/fs/cgroup") / path.substr(1);
         group.string().size() >= std::string("/sys/fs/cgroup").size(); group = group.parent_path()) {
        std::ifstream limitFile(group / "memory.max");
        std::string limit;
        if (limitFile >> limit && !limit.empty()
            && limit.find_first_not_of("0123456789") == std::string::npos) {
            const std::uint64_t bytes = std::stoull(limit);
            smallest = smallest == 0 ? bytes : std::min(smallest, bytes);
        }
        if (group == group.parent_path())
            break;
    }
    return smallest;
}

}  // namespace

std::size_t Session::defaultMemoryBound()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    std::uint64_t memory = pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
    const std::uint64_t group = controlGroupLimit();
    if (group != 0 && (memory == 0 || group < memory))
        memory = group;
    return static_cast<std::size_t>(memory / 2);
}

}  // namespace host
