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

// The smallest memory limit of the control group this process is in and of
// those above it (cgroup v2's memory.max, or v1's memory.limit_in_bytes); 0
// when none is set.
std::uint64_t controlGroupLimit()
{
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    std::uint64_t smallest = 0;
    while (std::getline(groups, line)) {
        const bool unified = line.rfind("0::", 0) == 0;
        const std::size_t memory = line.find(":memory:");
        if (!unified && memory == std::string::npos)
            continue;
        const std::filesystem::path base = unified ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
        const char* const file = unified ? "memory.max" : "memory.limit_in_bytes";
        const std::string path = line.substr(unified ? 3 : memory + 8);
        for (std::filesystem::path group = base / std::filesystem::path(path).relative_path();;
             group = group.parent_path()) {
            std::ifstream limitFile(group / file);
            std::string limit;
            if (limitFile >> limit && !limit.empty() && limit.size() < 20
                && limit.find_first_not_of("0123456789") == std::string::npos) {
                const std::uint64_t bytes = std::stoull(limit);
                smallest = smallest == 0 ? bytes : std::min(smallest, bytes);
            }
            if (group == base || group == group.parent_path())
                break;
        }
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
