#include <maya/MArgList.h>

namespace {

void report(MStatus* returnStatus, MStatus status)
{
    if (returnStatus != nullptr)
        *returnStatus = status;
}

}  // namespace

unsigned int MArgList::length(MStatus* returnStatus) const
{
    report(returnStatus, MStatus::kSuccess);
    return static_cast<unsigned int>(arguments_.size());
}

MString MArgList::asString(unsigned int index, MStatus* returnStatus) const
{
    if (index >= arguments_.size()) {
        report(returnStatus, MStatus::kInvalidParameter);
        return MString();
    }
    report(returnStatus, MStatus::kSuccess);
    return arguments_[index];
}

MStatus MArgList::addArg(const MString& argument)
{
    arguments_.push_back(argument);
    return MStatus::kSuccess;
}
