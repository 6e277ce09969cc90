#include "Value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <utility>

namespace mel {

const char* typeName(Type type)
{
    switch (type) {
    case Type::Int:
        return "int";
    case Type::Float:
        return "float";
    case Type::String:
        return "string";
    case Type::IntArray:
        return "int[]";
    case Type::FloatArray:
        return "float[]";
    case Type::StringArray:
        return "string[]";
    case Type::Vector:
        return "vector";
    case Type::VectorArray:
        return "vector[]";
    case Type::Matrix:
        return "matrix";
    }
    return "?";
}

bool isArray(Type type)
{
    return type == Type::IntArray || type == Type::FloatArray || type == Type::StringArray
        || type == Type::VectorArray;
}

Type elementType(Type type)
{
    switch (type) {
    case Type::IntArray:
        return Type::Int;
    case Type::FloatArray:
        return Type::Float;
    case Type::StringArray:
        return Type::String;
    case Type::VectorArray:
        return Type::Vector;
    default:
        return type;
    }
}

Type arrayType(Type type)
{
    switch (type) {
    case Type::Int:
        return Type::IntArray;
    case Type::Float:
        return Type::FloatArray;
    case Type::String:
        return Type::StringArray;
    case Type::Vector:
        return Type::VectorArray;
    default:
        return type;
    }
}

Value Value::ofType(Type type)
{
    switch (type) {
    case Type::Int:
        return 0;
    case Type::Float:
        return 0.0;
    case Type::String:
        return std::string();
    case Type::IntArray:
        return std::vector<int>();
    case Type::FloatArray:
        return std::vector<double>();
    case Type::StringArray:
        return std::vector<std::string>();
    case Type::Vector:
        return Vector3();
    case Type::VectorArray:
        return std::vector<Vector3>();
    case Type::Matrix:
        return Matrix();
    }
    return 0;
}

std::string floatText(double value)
{
    // The C library writes "-nan" for a NaN with its sign bit set; a NaN has no sign.
    if (std::isnan(value))
        return "nan";
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%g", value);
    return std::string(text, length > 0 ? std::size_t(length) : 0);
}

std::string withArticle(Type type)
{
    return (type == Type::Int || type == Type::IntArray ? "an " : "a ") + std::string(typeName(type));
}

std::size_t Value::size() const
{
    return std::visit(
        [](const auto& held) -> std::size_t {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (!kIsArrayHeld<Held> && !std::is_same_v<Held, std::string>)
                return 0;
            else
                return held.size();
        },
        static_cast<const ValueVariant&>(*this));
}

Value Value::element(std::size_t i) const
{
    return std::visit(
        [i](const auto& held) -> Value {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (!kIsArrayHeld<Held>)
                return held;
            else if (i < held.size())
                return held[i];
            else
                return typename Held::value_type();
        },
        static_cast<const ValueVariant&>(*this));
}

void Value::setElement(std::size_t i, Value&& element)
{
    std::visit(
        [i, &element](auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (kIsArrayHeld<Held>) {
                if (i >= held.size())
                    held.resize(i + 1);
                held[i] = std::get<typename Held::value_type>(std::move(element));
            }
        },
        static_cast<ValueVariant&>(*this));
}

void Value::append(Value&& element)
{
    std::visit(
        [&element](auto& held) {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (kIsArrayHeld<Held>)
                held.push_back(std::get<typename Held::value_type>(std::move(element)));
        },
        static_cast<ValueVariant&>(*this));
}

void Value::resize(std::size_t size)
{
    std::visit(
        [size](auto& held) {
            if constexpr (kIsArrayHeld<std::decay_t<decltype(held)>>)
                held.resize(size);
        },
        static_cast<ValueVariant&>(*this));
}

double magnitude(const Vector3& vector)
{
    return std::sqrt(vector.x * vector.x + vector.y * vector.y + vector.z * vector.z);
}

namespace {

// A matrix as it is written: rows of elements between commas, the rows
// between semicolons. How the host prints one its guide leaves open; the
// literal is what a script can read back.
std::string matrixText(const Matrix& matrix)
{
    std::string text = "<<";
    for (std::size_t row = 0; row < matrix.rows; ++row) {
        if (row > 0)
            text += "; ";
        for (std::size_t column = 0; column < matrix.columns; ++column) {
            if (column > 0)
                text += ", ";
            text += floatText(matrix.at(row, column));
        }
    }
    return text + ">>";
}

template <typename Element> std::string elementText(const Element& element)
{
    if constexpr (std::is_same_v<Element, int>)
        return std::to_string(element);
    else if constexpr (std::is_same_v<Element, double>)
        return floatText(element);
    else if constexpr (std::is_same_v<Element, Vector3>)
        return floatText(element.x) + ' ' + floatText(element.y) + ' ' + floatText(element.z);
    else if constexpr (std::is_same_v<Element, Matrix>)
        return matrixText(element);
    else
        return element;
}

template <typename Element> std::string joined(const std::vector<Element>& elements)
{
    std::string text;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += elementText(elements[i]);
    }
    return text;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

double numberFrom(const std::string& text, std::size_t& end);

// The text a vector is written as, "<<1, 2, 3>>", reads as the vector, and
// so do "1 2 3" and "1,2,3"; missing numbers are 0.
Vector3 vectorOf(const std::string& text)
{
    std::size_t end = 0;
    const auto component = [&text, &end] {
        while (end < text.size() && std::string_view("<>, \t\n").find(text[end]) != std::string_view::npos)
            ++end;
        return numberFrom(text, end);
    };
    Vector3 vector;
    vector.x = component();
    vector.y = component();
    vector.z = component();
    return vector;
}

// Converts one scalar to the scalar type `Target`.
template <typename Target, typename Source> Target scalarAs(const Source& value)
{
    if constexpr (std::is_same_v<Source, Matrix> && !std::is_same_v<Target, std::string>)
        return Target();  // convert takes a matrix apart before this
    else if constexpr (std::is_same_v<Target, std::string>)
        return elementText(value);
    else if constexpr (std::is_same_v<Target, Vector3> && std::is_same_v<Source, Vector3>)
        return value;
    else if constexpr (std::is_same_v<Target, Vector3> && std::is_same_v<Source, std::string>)
        return vectorOf(value);
    else if constexpr (std::is_same_v<Target, Vector3>)
        return Vector3 { double(value), double(value), double(value) };
    else if constexpr (std::is_same_v<Source, Vector3>)
        return scalarAs<Target>(magnitude(value));
    else if constexpr (std::is_same_v<Source, std::string>)
        return scalarAs<Target>(leadingNumber(value));
    else if constexpr (std::is_same_v<Target, int> && std::is_same_v<Source, double>)
        return truncatedInt(value);
    else
        return static_cast<Target>(value);
}

template <typename Target> Value converted(const Value& value)
{
    return std::visit(
        [](const auto& source) -> Value {
            using Source = std::decay_t<decltype(source)>;
            if constexpr (!kIsArrayHeld<Source>) {
                return scalarAs<Target>(source);
            } else if constexpr (std::is_same_v<Target,
                                     Vector3> || std::is_same_v<Source, std::vector<Vector3>>) {
                return Value();  // convert refuses these before this
            } else {
                std::vector<Target> elements;
                elements.reserve(source.size());
                for (const auto& element : source)
                    elements.push_back(scalarAs<Target>(element));
                return elements;
            }
        },
        value);
}

}  // namespace

std::string Value::text() const
{
    return std::visit(
        [](const auto& held) -> std::string {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (!kIsArrayHeld<Held>)
                return elementText(held);
            else
                return joined(held);
        },
        static_cast<const ValueVariant&>(*this));
}

double leadingNumber(const std::string& text)
{
    std::size_t end = 0;
    return numberFrom(text, end);
}

namespace {

// The number at `end`, after blanks, moving `end` past it; 0 when none is there.
double numberFrom(const std::string& text, std::size_t& end)
{
    // Only sign, digits, point and exponent count: strtod alone would also read
    // "inf", "nan" and hexadecimal.
    while (end < text.size() && (text[end] == ' ' || text[end] == '\t' || text[end] == '\n'))
        ++end;
    const std::size_t start = end;
    if (end < text.size() && (text[end] == '-' || text[end] == '+'))
        ++end;
    std::size_t digits = 0;
    for (; end < text.size() && isDigit(text[end]); ++end)
        ++digits;
    if (end < text.size() && text[end] == '.') {
        ++end;
        for (; end < text.size() && isDigit(text[end]); ++end)
            ++digits;
    }
    if (digits == 0)
        return 0;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '-' || text[exponent] == '+'))
            ++exponent;
        if (exponent < text.size() && isDigit(text[exponent])) {
            end = exponent;
            while (end < text.size() && isDigit(text[end]))
                ++end;
        }
    }
    const std::string number = text.substr(start, end - start);
    return std::strtod(number.c_str(), nullptr);
}

}  // namespace

int truncatedInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return 2147483647;
    if (value <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<int>(value);
}

namespace {

// A matrix as a vector: one of a single row or column of at most three.
bool matrixAsVector(const Matrix& matrix, Vector3& vector)
{
    if ((matrix.rows != 1 && matrix.columns != 1) || matrix.elements.size() > 3)
        return false;
    double components[3] = { 0, 0, 0 };
    for (std::size_t i = 0; i < matrix.elements.size(); ++i)
        components[i] = matrix.elements[i];
    vector = Vector3 { components[0], components[1], components[2] };
    return true;
}

// Conversions to and from a matrix; false when there is none.
bool convertMatrix(const Value& value, Type type, Value& result)
{
    if (value.type() == Type::Matrix && type == Type::Matrix) {
        result = value;
        return true;
    }
    if (value.type() == Type::Vector && type == Type::Matrix) {
        const Vector3& vector = std::get<Vector3>(value);
        Matrix row(1, 3);
        row.elements = { vector.x, vector.y, vector.z };
        result = std::move(row);
        return true;
    }
    if (value.type() != Type::Matrix)
        return false;
    if (type == Type::String) {
        result = value.text();
        return true;
    }
    Vector3 vector;
    if (type != Type::Vector || !matrixAsVector(std::get<Matrix>(value), vector))
        return false;
    result = vector;
    return true;
}

}  // namespace

bool convert(const Value& value, Type type, Value& result)
{
    if (value.type() == Type::Matrix || type == Type::Matrix)
        return convertMatrix(value, type, result);
    if (value.isArray() != isArray(type))
        return false;
    // No conversion is defined between arrays of vectors and other arrays.
    if ((value.type() == Type::VectorArray || type == Type::VectorArray) && value.type() != type)
        return false;
    if (value.type() == Type::VectorArray) {
        result = value;
        return true;
    }
    switch (elementType(type)) {
    case Type::Int:
        result = converted<int>(value);
        break;
    case Type::Float:
        result = converted<double>(value);
        break;
    case Type::Vector:
        result = converted<Vector3>(value);
        break;
    default:
        result = converted<std::string>(value);
        break;
    }
    return true;
}

bool convert(Value&& value, Type type, Value& result)
{
    if (value.type() != type)
        return convert(static_cast<const Value&>(value), type, result);
    result = std::move(value);
    return true;
}

bool assignConverted(Value&& value, Value& variable)
{
    if (variable.type() != Type::Matrix)
        return convert(std::move(value), variable.type(), variable);
    // Converted from a copy, so that a value that does not fit is left whole.
    Value converted;
    if (!convert(static_cast<const Value&>(value), Type::Matrix, converted))
        return false;
    Matrix& from = std::get<Matrix>(converted);
    Matrix& to = std::get<Matrix>(variable);
    if (from.rows > to.rows || from.columns > to.columns)
        return false;
    if (from.rows == to.rows && from.columns == to.columns) {
        to = std::move(from);
        return true;
    }
    Matrix fitted(to.rows, to.columns);
    for (std::size_t row = 0; row < from.rows; ++row)
        for (std::size_t column = 0; column < from.columns; ++column)
            fitted.at(row, column) = from.at(row, column);
    to = std::move(fitted);
    return true;
}

std::string described(const Value& value)
{
    if (value.type() != Type::Matrix)
        return withArticle(value.type());
    const Matrix& matrix = std::get<Matrix>(value);
    return "a " + std::to_string(matrix.rows) + "x" + std::to_string(matrix.columns) + " matrix";
}

Value fromCommandResult(host::CommandResult&& result)
{
    return std::visit(
        [](auto&& held) -> Value {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::monostate>)
                return std::string();
            else if constexpr (std::is_same_v<Held, bool>)
                return held ? 1 : 0;
            else
                return std::move(held);
        },
        std::move(result));
}

namespace {

// As the host shows a vector result.
std::string vectorResult(const Vector3& vector)
{
    return "<<" + floatText(vector.x) + ", " + floatText(vector.y) + ", " + floatText(vector.z) + ">>";
}

}  // namespace

host::CommandResult toCommandResult(Value&& value)
{
    return std::visit(
        [](auto&& held) -> host::CommandResult {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, Vector3>) {
                return vectorResult(held);
            } else if constexpr (std::is_same_v<Held, std::vector<Vector3>>) {
                std::vector<std::string> texts;
                for (const Vector3& element : held)
                    texts.push_back(vectorResult(element));
                return texts;
            } else if constexpr (std::is_same_v<Held, std::vector<double>>) {
                std::vector<std::string> texts;
                for (const double element : held)
                    texts.push_back(floatText(element));
                return texts;
            } else if constexpr (std::is_same_v<Held, Matrix>) {
                return matrixText(held);
            } else {
                return std::move(held);
            }
        },
        std::move(value));
}

}  // namespace mel
