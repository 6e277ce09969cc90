// Values between Python and MEL: arguments read into the binding's own form
// on the calling thread, results built into Python objects once, in place.
#include "Convert.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace pymaya {

namespace {

// A list of tuples is the deepest a flag's value goes (several uses of a flag
// of several values).
constexpr int kDeepestSequence = 2;

Given readGivenAt(py::handle object, const std::string& subject, int depth)
{
    Given given;
    PyObject* raw = object.ptr();
    if (PyBool_Check(raw)) {
        given.kind = Given::Kind::Bool;
        given.boolean = raw == Py_True;
    } else if (PyLong_Check(raw) || (!PyFloat_Check(raw) && PyIndex_Check(raw))) {
        given.kind = Given::Kind::Int;
        const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(raw));
        if (!index)
            throw py::error_already_set();
        int overflow = 0;
        given.integer = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        given.fitsInt64 = overflow == 0;
        given.text = given.fitsInt64 ? std::to_string(given.integer) : std::string(py::str(index));
    } else if (PyFloat_Check(raw)) {
        given.kind = Given::Kind::Float;
        given.real = PyFloat_AsDouble(raw);
    } else if (PyUnicode_Check(raw)) {
        given.kind = Given::Kind::String;
        given.text = bytesOf(object);
    } else if (PyTuple_Check(raw) || PyList_Check(raw)) {
        if (depth == kDeepestSequence)
            throw py::type_error(subject + " holds sequences too deep inside one another");
        given.kind = PyTuple_Check(raw) ? Given::Kind::Tuple : Given::Kind::List;
        for (const py::handle item : object)
            given.items.push_back(readGivenAt(item, subject, depth + 1));
    } else if (PyObject_HasAttrString(raw, "__fspath__")) {
        const py::object path = py::reinterpret_steal<py::object>(PyOS_FSPath(raw));
        if (!path)
            throw py::error_already_set();
        if (!PyUnicode_Check(path.ptr()))
            throw py::type_error(subject + " takes a path as str, not bytes");
        given.kind = Given::Kind::String;
        given.text = bytesOf(path);
    } else {
        throw py::type_error(subject + " cannot take a " + Py_TYPE(raw)->tp_name);
    }
    return given;
}

// Gives the whole pages of [begin, end) back to the system; reading them
// afterwards reads zeros. For an array whose elements are done with.
void releasePages(const int* begin, const int* end)
{
    static const std::uintptr_t pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first
        = (reinterpret_cast<std::uintptr_t>(begin) + pageSize - 1) / pageSize * pageSize;
    const std::uintptr_t last = reinterpret_cast<std::uintptr_t>(end) / pageSize * pageSize;
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

py::list intList(std::vector<int>&& values)
{
    // A run of elements is made into Python ints, and then the run's pages of
    // the array are released: the list grows as the array shrinks. (Most image
    // results are 0 to 255, ints Python shares, so the list itself is the
    // pointers alone.)
    constexpr std::size_t kRun = std::size_t { 1 } << 18;
    const std::size_t count = values.size();
    py::list list(count);
    PyObject* raw = list.ptr();
    for (std::size_t start = 0; start < count; start += kRun) {
        const std::size_t end = std::min(count, start + kRun);
        for (std::size_t i = start; i < end; ++i) {
            PyObject* item = PyLong_FromLong(values[i]);
            if (item == nullptr)
                throw py::error_already_set();
            PyList_SET_ITEM(raw, static_cast<Py_ssize_t>(i), item);
        }
        releasePages(values.data() + start, values.data() + end);
    }
    std::vector<int>().swap(values);
    return list;
}

template <typename Element, typename Convert>
py::list listOf(const std::vector<Element>& values, Convert convert)
{
    py::list list(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        list[i] = convert(values[i]);
    return list;
}

py::list vectorList(const mel::Vector3& vector)
{
    py::list list(3);
    list[0] = py::float_(vector.x);
    list[1] = py::float_(vector.y);
    list[2] = py::float_(vector.z);
    return list;
}

}  // namespace

Given readGiven(py::handle object, const std::string& subject)
{
    return readGivenAt(object, subject, 0);
}

std::string bytesOf(py::handle text)
{
    const py::object encoded = py::reinterpret_steal<py::object>(
        PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape"));
    if (!encoded)
        throw py::error_already_set();
    return std::string(
        PyBytes_AS_STRING(encoded.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.ptr())));
}

py::str textOf(const std::string& bytes)
{
    PyObject* text
        = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
    if (text == nullptr)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

py::object toPython(host::CommandResult&& result)
{
    return std::visit(
        [](auto&& held) -> py::object {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::monostate>)
                return py::none();
            else if constexpr (std::is_same_v<Held, bool>)
                return py::bool_(held);
            else if constexpr (std::is_same_v<Held, int>)
                return py::int_(held);
            else if constexpr (std::is_same_v<Held, double>)
                return py::float_(held);
            else if constexpr (std::is_same_v<Held, std::string>)
                return textOf(held);
            else if constexpr (std::is_same_v<Held, std::vector<int>>)
                return intList(std::move(held));
            else
                return listOf(held, [](const std::string& text) { return textOf(text); });
        },
        std::move(result));
}

py::object toPython(mel::Value&& value)
{
    switch (value.type()) {
    case mel::Type::Int:
        return py::int_(std::get<int>(value));
    case mel::Type::Float:
        return py::float_(std::get<double>(value));
    case mel::Type::String:
        return textOf(std::get<std::string>(value));
    case mel::Type::IntArray:
        return intList(std::get<std::vector<int>>(std::move(value)));
    case mel::Type::FloatArray:
        return listOf(std::get<std::vector<double>>(value), [](double real) { return py::float_(real); });
    case mel::Type::StringArray:
        return listOf(
            std::get<std::vector<std::string>>(value), [](const std::string& text) { return textOf(text); });
    case mel::Type::Vector:
        return vectorList(std::get<mel::Vector3>(value));
    case mel::Type::VectorArray:
        return listOf(std::get<std::vector<mel::Vector3>>(value), vectorList);
    default:
        return textOf(value.text());  // a type this binding does not know yet, as MEL prints it
    }
}

}  // namespace pymaya
