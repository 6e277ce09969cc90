#pragma once

namespace host {

/// Opens the host module `fileName` from the folder of the library this code is
/// linked into, and finds `entryName` in it; null when the module is missing,
/// fails to load or lacks the entry (nothing then stays loaded). A module found
/// stays loaded for the life of the process.
void* openHostModuleEntry(const char* fileName, const char* entryName);

}  // namespace host
