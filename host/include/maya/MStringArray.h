#pragma once

#include <maya/MStatus.h>
#include <maya/MString.h>

#include <cstdint>
#include <string>
#include <vector>

/// An ordered array of host strings. The elements are held packed, each its
/// length and its bytes, in about the memory of their text: ten million short
/// names take tens of megabytes, not hundreds.
class OPENMAYA_EXPORT MStringArray {
public:
    MStringArray() = default;

    /// Adds `element` at the end. Always succeeds, but in a command run with an
    /// array bound (host::ArrayBoundScope): the host ends the command at the
    /// element that would pass it.
    MStatus append(const MString& element);
    unsigned int length() const { return count_; }
    /// A copy of the element at `index`; `index` must be below `length()`.
    MString operator[](unsigned int index) const;
    /// The element at `index`, to change in place; `index` must be below
    /// `length()`. From then on the array holds each element as an MString.
    MString& operator[](unsigned int index);
    void clear();

private:
    // The offset in packed_ of every kMarkEvery-th element: a lookup skips at
    // most that many elements from its mark.
    static constexpr unsigned int kMarkEvery = 16;

    std::string packed_;
    std::vector<std::uint64_t> marks_;
    std::vector<MString> unpacked_;  // every element, once one has been handed out to change
    bool isUnpacked_ = false;
    unsigned int count_ = 0;
};
