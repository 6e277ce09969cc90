#include <maya/MSyntax.h>

#include <array>

namespace {

bool isFlagName(const char* name)
{
    return name != nullptr && name[0] == '-' && name[1] != '\0';
}

bool isKnownType(MSyntax::MArgType type)
{
    return type >= MSyntax::kNoArg && type <= MSyntax::kString;
}

}  // namespace

MStatus MSyntax::addFlag(const char* shortName, const char* longName, MArgType argType1, MArgType argType2,
    MArgType argType3, MArgType argType4, MArgType argType5, MArgType argType6)
{
    if (!isFlagName(shortName) || !isFlagName(longName))
        return MStatus::kInvalidParameter;
    const std::array<MArgType, 6> slots { argType1, argType2, argType3, argType4, argType5, argType6 };
    for (MArgType type : slots) {
        if (!isKnownType(type))
            return MStatus::kInvalidParameter;
    }

    Flag flag;
    for (MArgType type : slots) {
        if (type == kNoArg)
            break;
        flag.argumentTypes.push_back(type);
    }
    // A name already taken keeps selecting the earlier flag; the new flag is
    // still reachable under whichever of its names is free.
    const bool shortTaken = findFlag(shortName) >= 0;
    const bool longTaken = findFlag(longName) >= 0;
    if (!shortTaken)
        flag.shortName = shortName;
    if (!longTaken && flag.shortName != longName)
        flag.longName = longName;
    const bool allNamesFree = !shortTaken && !longTaken && std::string(shortName) != longName;
    flags_.push_back(std::move(flag));
    return allNamesFree ? MStatus::kSuccess : MStatus::kInvalidParameter;
}

int MSyntax::findFlag(const std::string& name) const
{
    if (name.empty())
        return -1;
    for (std::size_t index = 0; index < flags_.size(); ++index) {
        if (flags_[index].shortName == name || flags_[index].longName == name)
            return static_cast<int>(index);
    }
    return -1;
}
