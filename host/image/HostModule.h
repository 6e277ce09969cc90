#pragma once

#include <string>

namespace host {

/// The path of `fileName` in the folder of the library this code is linked
/// into, where the host's modules and programs lie.
std::string hostModulePath(const char* fileName);

/// Opens the host module `fileName` from the folder of the library this code is
/// linked into, and finds `entryName` in it; null when the module is missing,
/// fails to load or lacks the entry (nothing then stays loaded). A module found
/// stays loaded for the life of the process.
void* openHostModuleEntry(const char* fileName, const char* entryName);

/// The Debian package that installs the OpenImageIO module, pictile_oiio.so.
inline constexpr const char* kOpenImageIOPackage = "pictile-openimageio";

/// Notes, for the calling thread, that a read or write needed the OpenImageIO
/// module and it could not be opened: the one failure a user mends by installing
/// a package, so the host names it.
void noteMissingOpenImageIO();

/// Whether noteMissingOpenImageIO was called on this thread since the last take.
bool takeMissingOpenImageIO();

}  // namespace host
