// Built-ins on arrays.
#include "Support.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <unordered_set>

namespace mel {

namespace {

// Strings sort by their bytes, numbers by their value.
void sort(Call& call)
{
    Value value = call.value(0);
    if (!value.isArray())
        failType(call, "an array", value.type());
    // Vectors have no order of their own.
    if (value.type() == Type::VectorArray)
        call.fail("sort cannot order vectors");
    std::visit(
        [](auto& held) {
            using Held = std::decay_t<decltype(held)>;
            // NaN goes last: it is not ordered against anything.
            if constexpr (std::is_same_v<Held, std::vector<double>>)
                std::sort(held.begin(), held.end(),
                    [](double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); });
            else if constexpr (kIsArrayHeld<Held> && !std::is_same_v<Held, std::vector<Vector3>>)
                std::sort(held.begin(), held.end());
        },
        value);
    call.give(std::move(value));
}

template <typename Element>
std::string joined(Call& call, const std::vector<Element>& elements, const std::string& separator)
{
    std::string text;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            text += separator;
        text += (Value(elements[i])).text();
        call.checkText(text.size());
    }
    return text;
}

void stringArrayToString(Call& call)
{
    const std::vector<std::string> strings = stringsAt(call, 0);
    call.give(joined(call, strings, call.text(1)));
}

void intArrayToString(Call& call)
{
    const std::vector<int> ints = intsAt(call, 0);
    call.give(joined(call, ints, call.text(1)));
}

void stringArrayCount(Call& call)
{
    const std::string item = call.text(0);
    const std::vector<std::string> strings = stringsAt(call, 1);
    call.give(static_cast<int>(std::count(strings.begin(), strings.end(), item)));
}

// Keeps the first of each string, in order.
void stringArrayRemoveDuplicates(Call& call)
{
    std::vector<std::string> strings = stringsAt(call, 0);
    std::unordered_set<std::string> seen;
    std::vector<std::string> kept;
    for (std::string& text : strings)
        if (seen.insert(text).second)
            kept.push_back(std::move(text));
    call.give(std::move(kept));
}

// appendStringArray($to, $from, count) appends the first count strings of $from.
void appendStringArray(Call& call)
{
    std::vector<std::string> to = stringsAt(call, 0);
    const std::vector<std::string> from = stringsAt(call, 1);
    const int count = call.integer(2);
    const std::size_t taken = std::min<std::size_t>(from.size(), std::size_t(std::max(count, 0)));
    call.checkSize(to.size() + taken);
    to.insert(to.end(), from.begin(), from.begin() + std::ptrdiff_t(taken));
    call.assign(0, std::move(to));
}

// The index of the first match at or after `start`, or -1.
template <typename Element>
int findFrom(Call& call, const Element& item, const std::vector<Element>& elements)
{
    const int start = call.integer(1);
    for (std::size_t i = std::size_t(std::max(start, 0)); i < elements.size(); ++i)
        if (elements[i] == item)
            return static_cast<int>(i);
    return -1;
}

void stringArrayFind(Call& call)
{
    const std::string item = call.text(0);
    call.give(findFrom(call, item, stringsAt(call, 2)));
}

void intArrayFind(Call& call)
{
    const int item = call.integer(0);
    call.give(findFrom(call, item, intsAt(call, 2)));
}

}  // namespace

std::vector<Builtin> arrayBuiltins()
{
    return {
        { "sort", 1, 1, sort },
        { "stringArrayToString", 2, 2, stringArrayToString },
        { "intArrayToString", 2, 2, intArrayToString },
        { "stringArrayCount", 2, 2, stringArrayCount },
        { "stringArrayRemoveDuplicates", 1, 1, stringArrayRemoveDuplicates },
        { "appendStringArray", 3, 3, appendStringArray },
        { "stringArrayFind", 3, 3, stringArrayFind },
        { "intArrayFind", 3, 3, intArrayFind },
    };
}

}  // namespace mel
