#pragma once

#include <mel/Value.h>

#include <maya/MSyntax.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pymaya {

/// A Python argument or flag value as the binding read it on the calling
/// thread, before it knows what the name it goes to takes: a scalar, or a
/// tuple or list of them (a list may hold tuples and lists in turn).
struct Given {
    enum class Kind { Bool, Int, Float, String, Tuple, List };

    Kind kind = Kind::Bool;
    bool boolean = false;
    /// Int: its value when `fitsInt64`; `text` holds its digits either way.
    std::int64_t integer = 0;
    bool fitsInt64 = true;
    double real = 0;
    /// String: the text; Int: the digits.
    std::string text;
    std::vector<Given> items;

    bool isSequence() const { return kind == Kind::Tuple || kind == Kind::List; }
    /// "bool", "int", "float", "str", "tuple" or "list", as Python names them.
    const char* typeName() const;
};

/// A call as the binding read it: the positional arguments, then the flags in
/// the order given (their names without the '-').
struct CallRequest {
    std::string name;
    std::vector<Given> positional;
    std::vector<std::pair<std::string, Given>> flags;
};

/// The argument values of `request` for a command registered with `syntax`:
/// each flag, by either name, must be one the syntax declares and get values
/// of its argument types (True or False for a flag without arguments, which
/// False leaves out; a tuple or list of the values for a flag of several; a
/// list of those for a flag used several times); every value goes as text,
/// as the command reads its arguments. False with the wording of the
/// TypeError in `error` otherwise, before anything runs.
bool commandArguments(const CallRequest& request, const MSyntax& syntax, std::vector<mel::Value>& arguments,
    std::string& error);

/// The argument values of `request` for a built-in or a procedure, whose flags
/// the binding does not know: each flag as "-name" and its values as they are
/// (True alone, False left out, a tuple for several values, a list for several
/// uses), every value keeping its type (a bool as 1 or 0, a sequence as an
/// array). False with the wording of the TypeError in `error` for a value MEL
/// cannot hold.
bool builtinArguments(const CallRequest& request, std::vector<mel::Value>& arguments, std::string& error);

}  // namespace pymaya
