#pragma once

#include <maya/MStatus.h>

#include <memory>
#include <vector>

namespace host {
class ArrayAccess;
}

/// An ordered array of 32-bit integers. Copies share their elements until one
/// of them changes, so that handing an array to the host as a command result
/// copies nothing.
class OPENMAYA_EXPORT MIntArray {
public:
    MIntArray() = default;

    /// Adds `element` at the end. Always succeeds, but in a command run with an
    /// array bound (host::ArrayBoundScope): the host ends the command at the
    /// element that would pass it, before the array grows past it.
    MStatus append(int element);
    unsigned int length() const { return elements_ ? static_cast<unsigned int>(elements_->size()) : 0; }
    /// The element at `index`; `index` must be below `length()`.
    int operator[](unsigned int index) const { return (*elements_)[index]; }
    int& operator[](unsigned int index) { return own()[index]; }
    /// Makes room for `capacity` elements (no more than the array bound in
    /// force) without changing the length.
    void setSizeIncrement(unsigned int capacity);
    void clear()
    {
        if (elements_)
            own().clear();
    }

private:
    friend class host::ArrayAccess;

    // The elements, made this array's own before they change.
    std::vector<int>& own()
    {
        if (!elements_)
            elements_ = std::make_shared<std::vector<int>>();
        else if (elements_.use_count() > 1)
            elements_ = std::make_shared<std::vector<int>>(*elements_);
        return *elements_;
    }

    std::shared_ptr<std::vector<int>> elements_;
};
