#pragma once

#include <maya/MTypes.h>

namespace host {
class ObjectAccess;
}

/// A handle to an object the host owns. The host passes one to a plug-in's entry
/// points; the plug-in hands it on unchanged to `MFnPlugin`.
class OPENMAYA_EXPORT MObject {
public:
    MObject() = default;

    /// True for a handle that names nothing.
    bool isNull() const { return object_ == nullptr; }

private:
    friend class host::ObjectAccess;
    void* object_ = nullptr;
};
