#include <maya/MString.h>

#include <cstring>
#include <ostream>

MString::MString(const char* text)
    : text_(text != nullptr ? text : "")
{
}

MString::MString(const char* text, int length)
{
    if (text != nullptr && length > 0)
        text_.assign(text, static_cast<std::size_t>(length));
}

MString& MString::operator+=(const MString& other)
{
    text_ += other.text_;
    return *this;
}

MString& MString::operator+=(const char* other)
{
    if (other != nullptr)
        text_ += other;
    return *this;
}

bool MString::operator==(const char* other) const
{
    return text_ == (other != nullptr ? other : "");
}

MString MString::substring(int start, int end) const
{
    // Both ends are kept: substring(0, 4) of "photo.jpg" is "photo".
    const int size = static_cast<int>(text_.size());
    if (start < 0)
        start = 0;
    if (end >= size)
        end = size - 1;
    if (start >= size || end < start)
        return MString();
    return MString(text_.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start + 1)));
}

MString operator+(const MString& left, const MString& right)
{
    MString joined(left);
    joined += right;
    return joined;
}

MString operator+(const MString& left, const char* right)
{
    MString joined(left);
    joined += right;
    return joined;
}

MString operator+(const char* left, const MString& right)
{
    MString joined(left);
    joined += right;
    return joined;
}

std::ostream& operator<<(std::ostream& out, const MString& text)
{
    return out << text.asChar();
}
