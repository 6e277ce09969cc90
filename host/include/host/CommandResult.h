#pragma once

#include <maya/MTypes.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace host {

/// What a command handed back: nothing, one value, or an array.
using CommandResult = std::variant<std::monostate, int, double, bool, std::string, std::vector<int>,
    std::vector<std::string>>;

/// Makes `result` the target of MPxCommand::setResult and clearResult on this
/// thread for the lifetime of the scope. An MIntArray result is kept shared
/// with the command's array until `settle`: the elements are then moved into
/// `result` when the command's array is gone, and copied only when it is not.
class OPENMAYA_EXPORT ResultScope {
public:
    explicit ResultScope(CommandResult& result);
    ResultScope(const ResultScope&) = delete;
    ResultScope& operator=(const ResultScope&) = delete;
    /// Settles and gives the previous scope back its place.
    ~ResultScope();

    /// Puts a shared integer-array result into `result`. Call it after the
    /// command object (and so its arrays) is gone.
    void settle();

    /// The slot of the scope running on this thread, for MPxCommand.
    struct Slot {
        CommandResult* result = nullptr;
        std::shared_ptr<std::vector<int>> sharedInts;
    };

private:
    Slot slot_;
    Slot* previous_;
};

}  // namespace host
