#pragma once

#include <maya/MTypes.h>

#include <string>
#include <variant>
#include <vector>

namespace host {

/// What a command handed back: nothing, one value, or an array.
using CommandResult = std::variant<std::monostate, int, double, bool, std::string, std::vector<int>,
    std::vector<std::string>>;

/// Makes `result` the target of MPxCommand::setResult and clearResult on this
/// thread for the lifetime of the scope.
class OPENMAYA_EXPORT ResultScope {
public:
    explicit ResultScope(CommandResult& result);
    ResultScope(const ResultScope&) = delete;
    ResultScope& operator=(const ResultScope&) = delete;
    ~ResultScope();

private:
    CommandResult* previous_;
};

}  // namespace host
