// Built-ins on arrays: sorting, and the procedures on string, int and float
// arrays the host ships as scripts (stringArrayContains, intArrayRemove...).
#include "Support.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

namespace mel {

namespace {

// NaN goes last: it is not ordered against anything.
bool floatBefore(double a, double b)
{
    return a < b || (std::isnan(b) && !std::isnan(a));
}

// Strings sort by their bytes, numbers by their value.
void sort(Call& call)
{
    Value value = call.value(0);
    if (!value.isArray())
        failType(call, "an array", value.type());
    // Vectors have no order of their own.
    if (value.type() == Type::VectorArray)
        call.fail("sort cannot order vectors");
    InterruptPoll poll(call);
    std::visit(
        [&poll](auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::vector<double>>)
                std::sort(held.begin(), held.end(), [&poll](double a, double b) {
                    poll.step();
                    return floatBefore(a, b);
                });
            else if constexpr (kIsArrayHeld<Held> && !std::is_same_v<Held, std::vector<Vector3>>)
                std::sort(held.begin(), held.end(), [&poll](const auto& a, const auto& b) {
                    poll.step();
                    return a < b;
                });
        },
        value);
    call.give(std::move(value));
}

bool lessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

// Strings that differ only in case keep their order.
void sortCaseInsensitive(Call& call)
{
    std::vector<std::string> strings = stringsAt(call, 0);
    InterruptPoll poll(call);
    std::stable_sort(strings.begin(), strings.end(), [&poll](const std::string& a, const std::string& b) {
        poll.step();
        return lessIgnoringCase(a, b);
    });
    call.give(std::move(strings));
}

// An item of an array family's element type, as its procedures take one.
template <typename Element> Element itemAt(Call& call, std::size_t i)
{
    if constexpr (std::is_same_v<Element, std::string>)
        return call.text(i);
    else if constexpr (std::is_same_v<Element, int>)
        return call.integer(i);
    else
        return call.number(i);
}

template <typename Element>
std::string joined(Call& call, const std::vector<Element>& elements, const std::string& separator)
{
    InterruptPoll poll(call);
    std::string text;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        poll.step();
        if (i > 0)
            text += separator;
        text += (Value(elements[i])).text();
        call.checkText(text.size());
    }
    return text;
}

// xArrayToString($list, $separator)
template <typename Element> void arrayToString(Call& call)
{
    const std::string separator = call.text(1);
    Value scratch;
    call.give(joined(call, elementsAt<Element>(call, 0, scratch), separator));
}

// xArrayCount($item, $list): how many elements are the item.
template <typename Element> void arrayCount(Call& call)
{
    const Element item = itemAt<Element>(call, 0);
    Value scratch;
    const std::vector<Element>& elements = elementsAt<Element>(call, 1, scratch);
    call.give(static_cast<int>(std::count(elements.begin(), elements.end(), item)));
}

// xArrayContains($item, $list): 1 when an element is the item. The float
// family's gives a float, as its procedure is declared.
template <typename Element> void arrayContains(Call& call)
{
    const Element item = itemAt<Element>(call, 0);
    Value scratch;
    const std::vector<Element>& elements = elementsAt<Element>(call, 1, scratch);
    const bool found = std::find(elements.begin(), elements.end(), item) != elements.end();
    if constexpr (std::is_same_v<Element, double>)
        call.give(found ? 1.0 : 0.0);
    else
        call.give(found ? 1 : 0);
}

// xArrayFind($item, $start, $list): the index of the first element at or
// after $start that is the item, or -1.
template <typename Element> void arrayFind(Call& call)
{
    const Element item = itemAt<Element>(call, 0);
    const int start = call.integer(1);
    Value scratch;
    const std::vector<Element>& elements = elementsAt<Element>(call, 2, scratch);
    const auto first
        = elements.begin() + std::ptrdiff_t(std::min<std::size_t>(std::max(start, 0), elements.size()));
    const auto found = std::find(first, elements.end(), item);
    call.give(found == elements.end() ? -1 : static_cast<int>(found - elements.begin()));
}

// xArrayInsertAtIndex($index, $list, $item) puts the item before element
// $index of the variable $list, at its end for an index past the end, and
// gives 1; a negative index changes nothing and gives 0.
template <typename Element> void arrayInsertAtIndex(Call& call)
{
    const int index = call.integer(0);
    Value scratch;
    std::vector<Element> elements = elementsAt<Element>(call, 1, scratch);
    const Element item = itemAt<Element>(call, 2);
    if (index < 0) {
        call.give(0);
        return;
    }
    call.checkSize(elements.size() + 1);
    elements.insert(elements.begin() + std::ptrdiff_t(std::min<std::size_t>(index, elements.size())), item);
    call.assign(1, std::move(elements));
    call.give(1);
}

// xArrayRemoveAtIndex($index, $list) takes element $index out of the variable
// $list and gives 1; an index outside the array changes nothing and gives 0.
template <typename Element> void arrayRemoveAtIndex(Call& call)
{
    const int index = call.integer(0);
    Value scratch;
    std::vector<Element> elements = elementsAt<Element>(call, 1, scratch);
    if (index < 0 || std::size_t(index) >= elements.size()) {
        call.give(0);
        return;
    }
    elements.erase(elements.begin() + index);
    call.assign(1, std::move(elements));
    call.give(1);
}

// What a set of elements is looked up by: a string by its bytes where it lies.
template <typename Element>
using Key = std::conditional_t<std::is_same_v<Element, std::string>, std::string_view, Element>;

// xArrayRemove($items, $list): the elements of $list that are none of $items,
// in order; every one that is goes, not only the first.
template <typename Element> void arrayRemove(Call& call)
{
    Value itemScratch;
    Value listScratch;
    const std::vector<Element>& items = elementsAt<Element>(call, 0, itemScratch);
    const std::vector<Element>& elements = elementsAt<Element>(call, 1, listScratch);
    const std::unordered_set<Key<Element>> removed(items.begin(), items.end());
    InterruptPoll poll(call);
    std::vector<Element> kept;
    for (const Element& element : elements) {
        poll.step();
        if (removed.count(element) == 0)
            kept.push_back(element);
    }
    call.give(std::move(kept));
}

// stringArrayRemoveExact($items, $list): as stringArrayRemove, but each item
// takes out as many elements as it appears in $items, the first ones.
void stringArrayRemoveExact(Call& call)
{
    Value itemScratch;
    Value listScratch;
    const std::vector<std::string>& items = elementsAt<std::string>(call, 0, itemScratch);
    const std::vector<std::string>& elements = elementsAt<std::string>(call, 1, listScratch);
    std::unordered_map<std::string_view, std::size_t> left;
    for (const std::string& item : items)
        ++left[item];
    InterruptPoll poll(call);
    std::vector<std::string> kept;
    for (const std::string& element : elements) {
        poll.step();
        const auto found = left.find(element);
        if (found != left.end() && found->second > 0)
            --found->second;
        else
            kept.push_back(element);
    }
    call.give(std::move(kept));
}

// xArrayRemoveDuplicates($list): the first of each element, in order. The
// elements are ordered by their indices, so that ten million strings cost
// 4 bytes each beside them; NaN is never the same as anything.
template <typename Element> void arrayRemoveDuplicates(Call& call)
{
    Value scratch;
    const std::vector<Element>& elements = elementsAt<Element>(call, 0, scratch);
    std::vector<std::uint32_t> order(elements.size());
    std::iota(order.begin(), order.end(), 0u);
    InterruptPoll poll(call);
    std::sort(order.begin(), order.end(), [&elements, &poll](std::uint32_t a, std::uint32_t b) {
        poll.step();
        if constexpr (std::is_same_v<Element, std::string>) {
            const int order = elements[a].compare(elements[b]);
            if (order != 0)
                return order < 0;
        } else if constexpr (std::is_same_v<Element, double>) {
            if (floatBefore(elements[a], elements[b]) || floatBefore(elements[b], elements[a]))
                return floatBefore(elements[a], elements[b]);
        } else if (elements[a] != elements[b]) {
            return elements[a] < elements[b];
        }
        return a < b;
    });
    std::vector<bool> keep(elements.size(), false);
    for (std::size_t i = 0; i < order.size(); ++i)
        keep[order[i]] = i == 0 || !(elements[order[i]] == elements[order[i - 1]]);
    std::vector<Element> kept;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        poll.step();
        if (keep[i])
            kept.push_back(elements[i]);
    }
    call.give(std::move(kept));
}

// stringArrayCatenate($first, $second): the one's strings, then the other's.
void stringArrayCatenate(Call& call)
{
    Value firstScratch;
    Value secondScratch;
    const std::vector<std::string>& first = elementsAt<std::string>(call, 0, firstScratch);
    const std::vector<std::string>& second = elementsAt<std::string>(call, 1, secondScratch);
    call.checkSize(first.size() + second.size());
    std::vector<std::string> both;
    both.reserve(first.size() + second.size());
    both.insert(both.end(), first.begin(), first.end());
    both.insert(both.end(), second.begin(), second.end());
    call.give(std::move(both));
}

void stringArrayReverse(Call& call)
{
    Value scratch;
    const std::vector<std::string>& strings = elementsAt<std::string>(call, 0, scratch);
    call.give(std::vector<std::string>(strings.rbegin(), strings.rend()));
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

}  // namespace

std::vector<Builtin> arrayBuiltins()
{
    using String = std::string;
    return {
        { "sort", 1, 1, sort },
        { "sortCaseInsensitive", 1, 1, sortCaseInsensitive },
        { "appendStringArray", 3, 3, appendStringArray, kProcedure },
        { "stringArrayCatenate", 2, 2, stringArrayCatenate, kProcedure },
        { "stringArrayContains", 2, 2, arrayContains<String>, kProcedure },
        { "stringArrayCount", 2, 2, arrayCount<String>, kProcedure },
        { "stringArrayFind", 3, 3, arrayFind<String>, kProcedure },
        { "stringArrayInsertAtIndex", 3, 3, arrayInsertAtIndex<String>, kProcedure },
        { "stringArrayRemove", 2, 2, arrayRemove<String>, kProcedure },
        { "stringArrayRemoveAtIndex", 2, 2, arrayRemoveAtIndex<String>, kProcedure },
        { "stringArrayRemoveDuplicates", 1, 1, arrayRemoveDuplicates<String>, kProcedure },
        { "stringArrayRemoveExact", 2, 2, stringArrayRemoveExact, kProcedure },
        { "stringArrayReverse", 1, 1, stringArrayReverse, kProcedure },
        { "stringArrayToString", 2, 2, arrayToString<String>, kProcedure },
        { "intArrayContains", 2, 2, arrayContains<int>, kProcedure },
        { "intArrayCount", 2, 2, arrayCount<int>, kProcedure },
        { "intArrayFind", 3, 3, arrayFind<int>, kProcedure },
        { "intArrayInsertAtIndex", 3, 3, arrayInsertAtIndex<int>, kProcedure },
        { "intArrayRemove", 2, 2, arrayRemove<int>, kProcedure },
        { "intArrayRemoveAtIndex", 2, 2, arrayRemoveAtIndex<int>, kProcedure },
        { "intArrayRemoveDuplicates", 1, 1, arrayRemoveDuplicates<int>, kProcedure },
        { "intArrayToString", 2, 2, arrayToString<int>, kProcedure },
        { "floatArrayContains", 2, 2, arrayContains<double>, kProcedure },
        { "floatArrayCount", 2, 2, arrayCount<double>, kProcedure },
        { "floatArrayFind", 3, 3, arrayFind<double>, kProcedure },
        { "floatArrayInsertAtIndex", 3, 3, arrayInsertAtIndex<double>, kProcedure },
        { "floatArrayRemove", 2, 2, arrayRemove<double>, kProcedure },
        { "floatArrayRemoveAtIndex", 2, 2, arrayRemoveAtIndex<double>, kProcedure },
        { "floatArrayRemoveDuplicates", 1, 1, arrayRemoveDuplicates<double>, kProcedure },
    };
}

}  // namespace mel
