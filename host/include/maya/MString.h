#pragma once

#include <maya/MTypes.h>

#include <iosfwd>
#include <string>

/// The host's 8-bit string.
class OPENMAYA_EXPORT MString {
public:
    MString() = default;
    MString(const char* text);
    MString(const char* text, int length);
    MString(const std::string& text)
        : text_(text)
    {
    }

    MString& operator+=(const MString& other);
    MString& operator+=(const char* other);

    bool operator==(const MString& other) const { return text_ == other.text_; }
    bool operator!=(const MString& other) const { return text_ != other.text_; }
    bool operator==(const char* other) const;
    bool operator!=(const char* other) const { return !(*this == other); }

    /// The number of 8-bit characters.
    unsigned int length() const { return static_cast<unsigned int>(text_.size()); }
    unsigned int numChars() const { return length(); }
    /// The characters from index `start` to index `end`, both kept. An `end` below
    /// `start`, or a `start` past the last character, gives the empty string; an
    /// `end` past the last character is taken as the last character.
    MString substring(int start, int end) const;
    /// The text, NUL-terminated; valid while the string is unchanged.
    const char* asChar() const { return text_.c_str(); }

private:
    std::string text_;
};

OPENMAYA_EXPORT MString operator+(const MString& left, const MString& right);
OPENMAYA_EXPORT MString operator+(const MString& left, const char* right);
OPENMAYA_EXPORT MString operator+(const char* left, const MString& right);
OPENMAYA_EXPORT std::ostream& operator<<(std::ostream& out, const MString& text);
