#pragma once

#include <maya/MStatus.h>
#include <maya/MString.h>

#include <vector>

/// An ordered array of host strings.
class OPENMAYA_EXPORT MStringArray {
public:
    MStringArray() = default;

    /// Adds `element` at the end. Always succeeds.
    MStatus append(const MString& element);
    unsigned int length() const { return static_cast<unsigned int>(elements_.size()); }
    /// The element at `index`; `index` must be below `length()`.
    const MString& operator[](unsigned int index) const { return elements_[index]; }
    MString& operator[](unsigned int index) { return elements_[index]; }
    void clear() { elements_.clear(); }

private:
    std::vector<MString> elements_;
};
