#include "HostModule.h"

#include <string>
#include <utility>

#include <dlfcn.h>

namespace host {

namespace {

thread_local bool missingOpenImageIO = false;

// The folder of the library or program this code is linked into.
std::string ownFolder()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || !info.dli_fname)
        return {};
    const std::string self = info.dli_fname;
    const std::size_t slash = self.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

}  // namespace

std::string hostModulePath(const char* fileName)
{
    return ownFolder() + "/" + fileName;
}

void* openHostModuleEntry(const char* fileName, const char* entryName)
{
    const std::string path = hostModulePath(fileName);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    void* entry = dlsym(handle, entryName);
    if (!entry)
        dlclose(handle);
    return entry;
}

void noteMissingOpenImageIO()
{
    missingOpenImageIO = true;
}

bool takeMissingOpenImageIO()
{
    return std::exchange(missingOpenImageIO, false);
}

}  // namespace host
