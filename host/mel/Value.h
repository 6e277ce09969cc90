#pragma once

#include <host/CommandResult.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace mel {

/// A vector value: three floats, as `<<x, y, z>>` writes one.
struct Vector3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

inline bool operator==(const Vector3& a, const Vector3& b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

/// A matrix value: a table of floats of a size fixed when it is made, as
/// `matrix $m[2][3]` declares one, its elements row after row.
struct Matrix {
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::vector<double> elements;

    Matrix() = default;
    /// A matrix of `rows` by `columns` zeros.
    Matrix(std::size_t rows, std::size_t columns)
        : rows(rows)
        , columns(columns)
        , elements(rows * columns, 0.0)
    {
    }

    double& at(std::size_t row, std::size_t column) { return elements[row * columns + column]; }
    double at(std::size_t row, std::size_t column) const { return elements[row * columns + column]; }
};

inline bool operator==(const Matrix& a, const Matrix& b)
{
    return a.rows == b.rows && a.columns == b.columns && a.elements == b.elements;
}

/// The nine types a script value can have; the order is that of `Value`'s alternatives.
enum class Type { Int, Float, String, IntArray, FloatArray, StringArray, Vector, VectorArray, Matrix };

/// "int", "float", "string", "int[]", "float[]", "string[]", "vector", "vector[]" or "matrix".
const char* typeName(Type type);
/// The type name with its article, as messages use it: "an int", "a string[]".
std::string withArticle(Type type);
bool isArray(Type type);
/// The element type of an array type; a scalar type is its own element type.
Type elementType(Type type);
/// The array type of a scalar type; an array type is its own array type.
Type arrayType(Type type);

/// Whether `Held`, one of a value's alternatives, is an array (a std::vector).
template <typename Held> constexpr bool kIsArrayHeld = false;
template <typename Element> constexpr bool kIsArrayHeld<std::vector<Element>> = true;

using ValueVariant = std::variant<int, double, std::string, std::vector<int>, std::vector<double>,
    std::vector<std::string>, Vector3, std::vector<Vector3>, Matrix>;

/// A script value: int, float, string, vector, an array of one of them, or a matrix. It
/// is the variant of those (std::get and std::holds_alternative work on it),
/// with the operations every caller needs, so that no caller walks the
/// alternatives itself.
class Value : public ValueVariant {
public:
    using ValueVariant::ValueVariant;
    using ValueVariant::operator=;
    Value() = default;

    /// The value a fresh variable of `type` holds: 0, 0.0, "", <<0, 0, 0>>, an
    /// empty array, or a matrix of no rows (a matrix variable is declared with its size).
    static Value ofType(Type type);

    Type type() const { return static_cast<Type>(index()); }
    bool isArray() const { return mel::isArray(type()); }

    /// The elements of an array or the bytes of a string, as `size` counts
    /// them; 0 for a number, a vector or a matrix.
    std::size_t size() const;
    /// Element `i` of an array; past the end, the element type's zero. A
    /// scalar is its own only element.
    Value element(std::size_t i) const;
    /// Makes element `i` of an array `element`, which has the element type
    /// already; writing past the end grows the array with zeros.
    void setElement(std::size_t i, Value&& element);
    /// Appends `element`, which has the element type already, to an array.
    void append(Value&& element);
    /// Makes an array `size` elements long, new ones zero.
    void resize(std::size_t size);

    /// A scalar as text; an array as its elements' texts joined by single
    /// spaces; a vector as its three components so joined; a matrix as its
    /// literal, `<<1, 2; 3, 4>>`.
    std::string text() const;
};

/// The value's type with its article, as messages use it, a matrix with its
/// size: "an int[]", "a 2x3 matrix".
std::string described(const Value& value);

/// An int result of arithmetic done in 64 bits, wrapped around as the host's
/// ints wrap rather than overflow.
inline int wrappedInt(std::int64_t value)
{
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

/// A float as text, the way C's "%g" writes it: 2.5, 0.333333, 1e+10.
std::string floatText(double value);
/// The leading number of `text` ("12abc" is 12, "abc" is 0), as a float.
double leadingNumber(const std::string& text);
/// A float truncated toward zero, held to the range of int (NaN is 0).
int truncatedInt(double value);

/// `value` converted to `type` as assignment converts it: a float to an int
/// truncates, a number to a string is its text, a string to a number its leading
/// number, arrays element by element. False, leaving `converted` alone, between
/// a scalar and an array. A number becomes a vector of three times itself, a
/// vector a number by its length, a string a vector by its leading numbers.
/// Arrays of vectors convert only to and from themselves. A vector becomes a
/// matrix of one row; a matrix of one row or one column, of at most three
/// elements, a vector; a matrix becomes a string as its text, and converts to
/// nothing else.
bool convert(const Value& value, Type type, Value& converted);
/// The same, taking `value` apart when it already has `type`.
bool convert(Value&& value, Type type, Value& converted);
/// Converts `value` to `variable`'s type and stores it there, as assignment
/// does. A matrix variable keeps its size: what `value` leaves of it is zeros.
/// False, leaving `variable` and `value` alone, when `value` does not convert
/// or is a matrix with more rows or columns than the variable's.
bool assignConverted(Value&& value, Value& variable);

/// The length of a vector.
double magnitude(const Vector3& vector);

/// A command's result as a value: bool as int, no result as the empty string.
Value fromCommandResult(host::CommandResult&& result);
/// A value as a command result, for the transcript (float arrays as texts).
host::CommandResult toCommandResult(Value&& value);

}  // namespace mel
