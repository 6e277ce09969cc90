#pragma once

#include <maya/MTypes.h>

#include <cstddef>
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

/// Thrown by MIntArray::append and MStringArray::append when an array would
/// pass the bound of the command running on this thread; the command runner
/// ends the command with it. No std::exception, so that a plug-in's handler of
/// those lets it through.
struct ArrayBoundPassed {
    std::size_t bound;
};

/// While it lives, no MIntArray or MStringArray on this thread may grow past
/// `bound` elements (0: no bound): the append that would throws
/// ArrayBoundPassed, before the array grows. Scopes nest; the innermost is in
/// force.
class OPENMAYA_EXPORT ArrayBoundScope {
public:
    explicit ArrayBoundScope(std::size_t bound);
    ArrayBoundScope(const ArrayBoundScope&) = delete;
    ArrayBoundScope& operator=(const ArrayBoundScope&) = delete;
    ~ArrayBoundScope();

    /// Whether an array passed the bound in this scope, caught or not.
    bool passed() const { return passed_; }

    /// The bound in force on this thread; 0 for none.
    static std::size_t bound();
    /// Marks the scope in force as passed and throws ArrayBoundPassed.
    [[noreturn]] static void refuse();

private:
    std::size_t bound_;
    bool passed_ = false;
    ArrayBoundScope* outer_;
};

}  // namespace host
