#pragma once

#include "Builtin.h"
#include "Code.h"
#include "Syntax.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace mel {

/// Where compiled code runs, which decides how its names are found and what
/// a break, continue or return outside a loop or procedure means.
enum class CodeKind {
    TopLevel,  ///< a top-level statement of a source
    Text,  ///< a statement of eval's or source's text
    Procedure,  ///< a procedure's body
};

/// The global `$name` as it stands, or null.
using GlobalType = std::function<Value*(const std::string& name)>;

/// The type the procedure defined now as `name` returns when it is a number
/// (int or float), or none: a call of it gives its number unboxed (see
/// Code::assumed).
using NumberReturned = std::function<std::optional<Type>(const std::string& name)>;

/// Compiles one statement that runs at the top level: on its own (`TopLevel`)
/// or as a statement of eval's or source's text (`Text`, `what` naming which).
/// Built-ins are resolved from `builtins`, which must outlive the code. A
/// statement that calls nothing has the globals it uses to itself while it
/// runs: those `globalType` knows become registers of their type (see
/// Code::promoted), where the code runs as fast as a procedure's.
/// With `giveValue`, an expression statement's value is the code's result too.
std::shared_ptr<const Code> compileStatement(const Stmt& statement, CodeKind kind, const std::string& what,
    const std::unordered_map<std::string, Builtin>& builtins, const NumberReturned& numberReturned,
    const GlobalType& globalType = nullptr, bool giveValue = false);

/// Compiles a procedure's body, its parameters in the first registers.
std::shared_ptr<const Code> compileProcedure(const Procedure& procedure,
    const std::unordered_map<std::string, Builtin>& builtins, const NumberReturned& numberReturned);

}  // namespace mel
