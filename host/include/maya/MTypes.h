#pragma once

/// The plug-in API level this host offers; a plug-in exports the same value as
/// `MApiVersion` to be loaded.
#define MAYA_API_VERSION 600

#if defined(_WIN32)
#define OPENMAYA_EXPORT __declspec(dllimport)
#else
#define OPENMAYA_EXPORT __attribute__((visibility("default")))
#endif
