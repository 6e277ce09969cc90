#include "ScriptPath.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace mel {

namespace {

bool exists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

std::vector<std::string> scriptFolders()
{
    std::vector<std::string> folders;
    const char* path = std::getenv("MAYA_SCRIPT_PATH");
    std::string list = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (end > start)
            folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::string findScript(const std::string& name)
{
    // `source name` may leave out the extension, as the host allows.
    std::vector<std::string> names { name };
    if (name.find('.', name.rfind('/') + 1) == std::string::npos)
        names.push_back(name + ".mel");
    for (const std::string& candidate : names)
        if (exists(candidate))
            return candidate;
    if (!name.empty() && name.front() != '/')
        for (const std::string& folder : scriptFolders())
            for (const std::string& candidate : names)
                if (exists(folder + "/" + candidate))
                    return folder + "/" + candidate;
    return name;
}

std::string autoLoadScript(const std::string& name)
{
    for (const std::string& folder : scriptFolders()) {
        const std::string candidate = folder + "/" + name + ".mel";
        if (exists(candidate))
            return candidate;
    }
    return std::string();
}

}  // namespace mel
