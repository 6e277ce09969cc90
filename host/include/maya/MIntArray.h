#pragma once

#include <maya/MStatus.h>

#include <vector>

/// An ordered array of 32-bit integers.
class OPENMAYA_EXPORT MIntArray {
public:
    MIntArray() = default;

    /// Adds `element` at the end. Always succeeds.
    MStatus append(int element)
    {
        elements_.push_back(element);
        return MStatus::kSuccess;
    }
    unsigned int length() const { return static_cast<unsigned int>(elements_.size()); }
    /// The element at `index`; `index` must be below `length()`.
    int operator[](unsigned int index) const { return elements_[index]; }
    int& operator[](unsigned int index) { return elements_[index]; }
    /// Makes room for `capacity` elements without changing the length.
    void setSizeIncrement(unsigned int capacity) { elements_.reserve(capacity); }
    void clear() { elements_.clear(); }

private:
    std::vector<int> elements_;
};
