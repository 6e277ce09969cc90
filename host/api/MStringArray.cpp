#include <maya/MStringArray.h>

#include <host/CommandResult.h>

namespace {

// Each element is its length, seven bits a byte with the high bit telling that
// another byte follows, then its bytes.
void appendLength(std::string& packed, std::size_t length)
{
    while (length >= 0x80) {
        packed.push_back(static_cast<char>(0x80 | (length & 0x7f)));
        length >>= 7;
    }
    packed.push_back(static_cast<char>(length));
}

std::size_t readLength(const std::string& packed, std::size_t& at)
{
    std::size_t length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(packed[at++]);
        length |= std::size_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0)
            return length;
    }
}

}  // namespace

MStatus MStringArray::append(const MString& element)
{
    const std::size_t bound = host::ArrayBoundScope::bound();
    if (bound != 0 && count_ >= bound)
        host::ArrayBoundScope::refuse();
    if (isUnpacked_) {
        unpacked_.push_back(element);
    } else {
        if (count_ % kMarkEvery == 0)
            marks_.push_back(packed_.size());
        appendLength(packed_, element.length());
        packed_.append(element.asChar(), element.length());
    }
    ++count_;
    return MStatus::kSuccess;
}

MString MStringArray::operator[](unsigned int index) const
{
    if (isUnpacked_)
        return unpacked_[index];
    std::size_t at = static_cast<std::size_t>(marks_[index / kMarkEvery]);
    for (unsigned int skipped = index % kMarkEvery; skipped > 0; --skipped)
        at += readLength(packed_, at);
    const std::size_t length = readLength(packed_, at);
    return MString(std::string(packed_, at, length));
}

MString& MStringArray::operator[](unsigned int index)
{
    if (!isUnpacked_) {
        const MStringArray& packed = *this;
        std::vector<MString> elements;
        elements.reserve(count_);
        for (unsigned int i = 0; i < count_; ++i)
            elements.push_back(packed[i]);
        unpacked_ = std::move(elements);
        packed_.clear();
        packed_.shrink_to_fit();
        marks_.clear();
        marks_.shrink_to_fit();
        isUnpacked_ = true;
    }
    return unpacked_[index];
}

void MStringArray::clear()
{
    packed_.clear();
    marks_.clear();
    unpacked_.clear();
    isUnpacked_ = false;
    count_ = 0;
}
