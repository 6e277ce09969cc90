// Reading a built-in's arguments: arrays, flags, and the wording of a wrong type.
#include "Support.h"

#include <cctype>
#include <type_traits>
#include <utility>

namespace mel {

void failType(Call& call, const std::string& needed, Type found)
{
    call.fail(call.name() + " takes " + needed + ", not " + typeName(found));
}

namespace {

template <typename Array> Array arrayAt(Call& call, std::size_t i, Type type)
{
    Value value = call.value(i);
    if (!value.isArray())
        failType(call, "an array", value.type());
    Value converted;
    convert(std::move(value), type, converted);
    return std::get<Array>(std::move(converted));
}

// "-name", not "-5" or "-": a negative number is a value.
bool looksLikeFlag(const std::string& word)
{
    return word.size() > 1 && word[0] == '-' && std::isalpha(static_cast<unsigned char>(word[1]));
}

}  // namespace

std::vector<std::string> stringsAt(Call& call, std::size_t i)
{
    return arrayAt<std::vector<std::string>>(call, i, Type::StringArray);
}

std::vector<int> intsAt(Call& call, std::size_t i)
{
    return arrayAt<std::vector<int>>(call, i, Type::IntArray);
}

template <typename Element> const std::vector<Element>& elementsAt(Call& call, std::size_t i, Value& scratch)
{
    const Value& value = call.valueOf(i, scratch);
    if (!value.isArray())
        failType(call, "an array", value.type());
    if (const auto* held = std::get_if<std::vector<Element>>(&value))
        return *held;
    constexpr Type type = std::is_same_v<Element, std::string> ? Type::StringArray
        : std::is_same_v<Element, int>                         ? Type::IntArray
                                                               : Type::FloatArray;
    Value converted;
    if (!convert(value, type, converted))
        failType(call, withArticle(type), value.type());
    scratch = std::move(converted);
    return std::get<std::vector<Element>>(scratch);
}

template const std::vector<std::string>& elementsAt(Call&, std::size_t, Value&);
template const std::vector<int>& elementsAt(Call&, std::size_t, Value&);
template const std::vector<double>& elementsAt(Call&, std::size_t, Value&);

const std::string& textAt(Call& call, std::size_t i, Value& scratch)
{
    const Value& value = call.valueOf(i, scratch);
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (value.isArray())
        failType(call, "a string", value.type());
    scratch = value.text();
    return std::get<std::string>(scratch);
}

Vector3 vectorAt(Call& call, std::size_t i)
{
    const Value value = call.value(i);
    Value vector;
    if (value.type() == Type::String || !convert(value, Type::Vector, vector))
        failType(call, "a vector", value.type());
    return std::get<Vector3>(vector);
}

std::size_t findFlag(const std::vector<FlagSpec>& table, std::string_view word)
{
    for (std::size_t row = 0; row < table.size(); ++row)
        if (word == table[row].longName || word == table[row].shortName)
            return row;
    return table.size();
}

const Flags::Given* Flags::find(std::size_t row) const
{
    for (auto flag = given.rbegin(); flag != given.rend(); ++flag)
        if (flag->row == row)
            return &*flag;
    return nullptr;
}

std::string Flags::text(Call& call, std::size_t i) const
{
    if (arguments[i].isArray())
        failType(call, "a string", arguments[i].type());
    return arguments[i].text();
}

int Flags::integer(Call& call, std::size_t i) const
{
    const Value& value = arguments[i];
    switch (value.type()) {
    case Type::Int:
        return std::get<int>(value);
    case Type::Float:
        return truncatedInt(std::get<double>(value));
    case Type::String:
        return truncatedInt(leadingNumber(std::get<std::string>(value)));
    default:
        call.fail(std::string(value.type() == Type::Vector ? "a vector" : "an array")
            + " where a number is needed (" + call.name() + ")");
    }
}

Flags readFlags(Call& call, const std::vector<FlagSpec>& table)
{
    Flags flags;
    for (std::size_t i = 0; i < call.count(); ++i)
        flags.arguments.push_back(call.value(i));
    // A -query that takes a value (optionVar -query NAME) is a flag like the others.
    const std::size_t queryRow = findFlag(table, "-query");
    const bool queryMode = queryRow < table.size() && table[queryRow].values == 0;
    for (std::size_t i = 0; i < call.count(); ++i) {
        const Value& argument = flags.arguments[i];
        const std::string word
            = argument.type() == Type::String ? std::get<std::string>(argument) : std::string();
        if (!looksLikeFlag(word)) {
            flags.positional.push_back(i);
            continue;
        }
        const std::size_t row = findFlag(table, word);
        if (row == table.size())
            call.fail(call.name() + ": unknown flag '" + word + "'");
        if (row == queryRow && queryMode)
            flags.query = true;
        flags.given.push_back(Flags::Given { row, i + 1 });
        const std::size_t values = flags.query ? 0 : std::size_t(table[row].values);
        if (i + values >= call.count())
            call.fail(call.name() + ": " + word + " needs a value");
        i += values;
    }
    return flags;
}

}  // namespace mel
