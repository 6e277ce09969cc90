// Reading a built-in's arguments: arrays, flags, and the wording of a wrong type.
#include "Support.h"

#include <cctype>
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
