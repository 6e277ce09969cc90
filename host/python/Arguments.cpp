// From a call's Python arguments to the values MEL passes: checked against a
// command's syntax, so that a flag the command does not declare or a value of
// the wrong type is refused before the command runs; passed as they are to a
// built-in, which reads its own flags.
#include "Arguments.h"

#include <charconv>
#include <climits>

namespace pymaya {

const char* Given::typeName() const
{
    switch (kind) {
    case Kind::Bool:
        return "bool";
    case Kind::Int:
        return "int";
    case Kind::Float:
        return "float";
    case Kind::String:
        return "str";
    case Kind::Tuple:
        return "tuple";
    case Kind::List:
        return "list";
    }
    return "object";
}

namespace {

// The Python type an argument type asks for, with its article.
const char* wantedName(MSyntax::MArgType type)
{
    switch (type) {
    case MSyntax::kBoolean:
        return "a bool";
    case MSyntax::kLong:
        return "an int";
    case MSyntax::kDouble:
        return "a float";
    case MSyntax::kString:
        return "a str";
    default:
        return "no value";
    }
}

// The shortest text that reads back as the same number, as Python's repr
// writes it: a command gets the value the caller has, to the last digit.
std::string floatText(double value)
{
    char buffer[32];
    const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

// A scalar as the word a command reads: a bool as "true" or "false", as MEL
// writes one.
std::string scalarText(const Given& given)
{
    switch (given.kind) {
    case Given::Kind::Bool:
        return given.boolean ? "true" : "false";
    case Given::Kind::Float:
        return floatText(given.real);
    default:
        return given.text;
    }
}

// The text of `given` as an argument of `type`; false when the type refuses
// it. A bool is a number, as it is in Python; a number is a boolean, true
// unless 0.
bool flagValueText(const Given& given, MSyntax::MArgType type, std::string& text)
{
    const bool isBool = given.kind == Given::Kind::Bool;
    const bool isInt = given.kind == Given::Kind::Int;
    switch (type) {
    case MSyntax::kBoolean:
        if (!isBool && !isInt)
            return false;
        text = (isBool ? given.boolean : given.integer != 0 || !given.fitsInt64) ? "true" : "false";
        return true;
    case MSyntax::kLong:
        if (!isBool && !isInt)
            return false;
        text = isBool ? (given.boolean ? "1" : "0") : given.text;
        return true;
    case MSyntax::kDouble:
        if (!isBool && !isInt && given.kind != Given::Kind::Float)
            return false;
        text = isBool ? (given.boolean ? "1" : "0") : scalarText(given);
        return true;
    case MSyntax::kString:
        if (given.kind != Given::Kind::String)
            return false;
        text = given.text;
        return true;
    default:
        return false;
    }
}

std::string valueCount(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " value" : " values");
}

// Adds "-name" and its values for each use of the flag `given` stands for:
// one, or one per item of a sequence of uses (any sequence for a flag of one
// value, a sequence of sequences for a flag of several).
bool addFlagUses(const std::string& command, const std::string& name,
    const std::vector<MSyntax::MArgType>& types, const Given& given, std::vector<mel::Value>& arguments,
    std::string& error)
{
    const std::string flag = "-" + name;
    const std::string subject = command + ": flag '" + name + "'";
    if (types.empty()) {
        if (given.kind != Given::Kind::Bool && given.kind != Given::Kind::Int) {
            error = subject + " takes no value: give True or False, not " + given.typeName();
            return false;
        }
        if (given.kind == Given::Kind::Bool ? given.boolean : given.integer != 0 || !given.fitsInt64)
            arguments.emplace_back(flag);
        return true;
    }
    const bool severalUses = given.isSequence()
        && (types.size() == 1 || (!given.items.empty() && given.items.front().isSequence()));
    std::vector<const Given*> uses;
    if (severalUses) {
        for (const Given& use : given.items)
            uses.push_back(&use);
    } else {
        uses.push_back(&given);
    }
    for (const Given* use : uses) {
        std::vector<const Given*> values;
        if (use->isSequence()) {
            for (const Given& value : use->items)
                values.push_back(&value);
        } else {
            values.push_back(use);
        }
        if (values.size() != types.size()) {
            error = subject + " takes " + valueCount(types.size()) + ", not " + std::to_string(values.size());
            return false;
        }
        arguments.emplace_back(flag);
        for (std::size_t i = 0; i < types.size(); ++i) {
            std::string text;
            if (!flagValueText(*values[i], types[i], text)) {
                error = subject + " takes " + wantedName(types[i])
                    + (types.size() > 1 ? " as value " + std::to_string(i + 1) : std::string()) + ", not "
                    + values[i]->typeName();
                return false;
            }
            arguments.emplace_back(std::move(text));
        }
    }
    return true;
}

std::string argumentSubject(const std::string& command, std::size_t index)
{
    return command + ": argument " + std::to_string(index + 1);
}

// A scalar as a MEL value of its own type: a bool as 1 or 0, as MEL's true and
// false are.
bool scalarValue(const Given& given, const std::string& subject, mel::Value& value, std::string& error)
{
    switch (given.kind) {
    case Given::Kind::Bool:
        value = given.boolean ? 1 : 0;
        return true;
    case Given::Kind::Int:
        if (!given.fitsInt64 || given.integer < INT_MIN || given.integer > INT_MAX) {
            error = subject + " is " + given.text + ", past the range of MEL's int";
            return false;
        }
        value = static_cast<int>(given.integer);
        return true;
    case Given::Kind::Float:
        value = given.real;
        return true;
    case Given::Kind::String:
        value = given.text;
        return true;
    default:
        error = subject + " holds a " + given.typeName() + " inside a sequence";
        return false;
    }
}

// A value of MEL for `given`: a scalar as itself, a sequence as an array, of
// strings when it holds one, else of floats when it holds one, else of ints.
bool melValue(const Given& given, const std::string& subject, mel::Value& value, std::string& error)
{
    if (!given.isSequence())
        return scalarValue(given, subject, value, error);
    std::vector<mel::Value> items(given.items.size());
    mel::Type type = mel::Type::Int;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!scalarValue(given.items[i], subject, items[i], error))
            return false;
        const mel::Type itemType = items[i].type();
        if (itemType == mel::Type::String || (itemType == mel::Type::Float && type == mel::Type::Int))
            type = itemType;
    }
    value = mel::Value::ofType(mel::arrayType(type));
    for (mel::Value& item : items) {
        mel::Value converted;
        mel::convert(std::move(item), type, converted);
        value.append(std::move(converted));
    }
    return true;
}

// The host's modes are switches whatever the command: q=1 is query mode.
bool isModeFlag(const std::string& name)
{
    return name == "q" || name == "query" || name == "e" || name == "edit";
}

bool addScalar(
    const Given& given, const std::string& subject, std::vector<mel::Value>& arguments, std::string& error)
{
    mel::Value value;
    if (!scalarValue(given, subject, value, error))
        return false;
    arguments.push_back(std::move(value));
    return true;
}

// "-name" and the values of one use: a scalar, or the items of a sequence.
bool addBuiltinUse(const std::string& subject, const std::string& flag, const Given& use,
    std::vector<mel::Value>& arguments, std::string& error)
{
    arguments.emplace_back(flag);
    if (!use.isSequence())
        return addScalar(use, subject, arguments, error);
    for (const Given& value : use.items)
        if (!addScalar(value, subject, arguments, error))
            return false;
    return true;
}

}  // namespace

bool commandArguments(
    const CallRequest& request, const MSyntax& syntax, std::vector<mel::Value>& arguments, std::string& error)
{
    for (const auto& [name, given] : request.flags) {
        const int index = syntax.findFlag("-" + name);
        if (index < 0) {
            error = request.name + ": unknown flag '" + name + "'";
            return false;
        }
        const MSyntax::Flag& flag = syntax.flags()[std::size_t(index)];
        if (!addFlagUses(request.name, name, flag.argumentTypes, given, arguments, error))
            return false;
    }
    // The command's own arguments follow its flags, as MEL writes them.
    for (std::size_t i = 0; i < request.positional.size(); ++i) {
        const Given& given = request.positional[i];
        if (!given.isSequence()) {
            arguments.emplace_back(scalarText(given));
            continue;
        }
        for (const Given& item : given.items) {
            if (item.isSequence()) {
                error
                    = argumentSubject(request.name, i) + " holds a " + item.typeName() + " inside a sequence";
                return false;
            }
            arguments.emplace_back(scalarText(item));
        }
    }
    return true;
}

bool builtinArguments(const CallRequest& request, std::vector<mel::Value>& arguments, std::string& error)
{
    for (const auto& [name, given] : request.flags) {
        const std::string flag = "-" + name;
        const std::string subject = request.name + ": flag '" + name + "'";
        const bool isSwitch
            = given.kind == Given::Kind::Bool || (isModeFlag(name) && given.kind == Given::Kind::Int);
        if (isSwitch) {
            if (given.kind == Given::Kind::Bool ? given.boolean : given.integer != 0)
                arguments.emplace_back(flag);
            continue;
        }
        if (given.kind != Given::Kind::List) {
            if (!addBuiltinUse(subject, flag, given, arguments, error))
                return false;
            continue;
        }
        for (const Given& use : given.items)
            if (!addBuiltinUse(subject, flag, use, arguments, error))
                return false;
    }
    for (std::size_t i = 0; i < request.positional.size(); ++i) {
        mel::Value value;
        if (!melValue(request.positional[i], argumentSubject(request.name, i), value, error))
            return false;
        arguments.push_back(std::move(value));
    }
    return true;
}

}  // namespace pymaya
