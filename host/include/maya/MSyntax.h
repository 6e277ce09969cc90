#pragma once

#include <maya/MStatus.h>

#include <string>
#include <vector>

/// The flags a command accepts. Each flag has a short and a long name and up to
/// six argument slots; the slots after the first kNoArg are unused.
class OPENMAYA_EXPORT MSyntax {
public:
    enum MArgType {
        kInvalidArgType = 0,
        kNoArg = 1,  ///< The slot takes no argument.
        kBoolean = 2,  ///< on/off, true/false, yes/no, 1/0.
        kLong = 3,  ///< A whole number.
        kDouble = 4,  ///< A real number.
        kString = 5,  ///< Any text.
    };

    struct Flag {
        std::string shortName;  ///< Empty when the name was already in use.
        std::string longName;  ///< Empty when the name was already in use.
        std::vector<MArgType> argumentTypes;
    };

    MSyntax() = default;

    /// Declares a flag. Both names must start with '-'. A name already used by an
    /// earlier flag stays with that flag: the new flag is still added under its
    /// free names and kInvalidParameter is returned. Also kInvalidParameter for
    /// a name without '-' or an argument type the host does not know (the flag
    /// is then not added).
    MStatus addFlag(const char* shortName, const char* longName, MArgType argType1 = kNoArg,
        MArgType argType2 = kNoArg, MArgType argType3 = kNoArg, MArgType argType4 = kNoArg,
        MArgType argType5 = kNoArg, MArgType argType6 = kNoArg);

    /// The declared flags, in declaration order.
    const std::vector<Flag>& flags() const { return flags_; }
    /// The index in `flags()` of the flag that `name` (short or long, with '-')
    /// selects, or -1.
    int findFlag(const std::string& name) const;

private:
    std::vector<Flag> flags_;
};
