// The operators on values: arithmetic, comparison and joining, and the one
// wording of an operand of the wrong type.
#include "Interpreter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace mel {

namespace {

bool isComparison(Op op)
{
    return op >= Op::Equal && op <= Op::GreaterEqual;
}

// 1 when `a op b` holds, else 0, for one of the six comparisons.
template <typename Compared> int compared(Op op, const Compared& a, const Compared& b)
{
    switch (op) {
    case Op::Equal:
        return a == b ? 1 : 0;
    case Op::NotEqual:
        return a != b ? 1 : 0;
    case Op::Less:
        return a < b ? 1 : 0;
    case Op::LessEqual:
        return a <= b ? 1 : 0;
    case Op::Greater:
        return a > b ? 1 : 0;
    default:
        return a >= b ? 1 : 0;
    }
}

}  // namespace

double Interpreter::number(const Value& value, int line, const char* where)
{
    if (value.type() == Type::Int)
        return std::get<int>(value);
    if (value.type() == Type::Float)
        return std::get<double>(value);
    const Type type = value.type();
    fail(line,
        std::string(type == Type::String ? "a string"
                : type == Type::Vector   ? "a vector"
                : type == Type::Matrix   ? "a matrix"
                                         : "an array")
            + " where a number is needed (" + where + ")");
}

Value Interpreter::negate(const Value& operand, int line)
{
    if (operand.type() == Type::Vector) {
        const Vector3& vector = std::get<Vector3>(operand);
        return Vector3 { -vector.x, -vector.y, -vector.z };
    }
    if (operand.type() == Type::Matrix) {
        Matrix negated = std::get<Matrix>(operand);
        for (double& element : negated.elements)
            element = -element;
        return negated;
    }
    if (operand.type() == Type::Int)
        return wrappedInt(-std::int64_t(std::get<int>(operand)));
    return -number(operand, line, "-");
}

Value Interpreter::combine(Op op, const Value& left, const Value& right, int line)
{
    if (left.type() == Type::Int && right.type() == Type::Int && op != Op::Cross)
        return combineInts(op, std::get<int>(left), std::get<int>(right), line);
    if (left.isArray() || right.isArray())
        fail(line, "an array where a scalar is needed (" + std::string(opText(op)) + ")");
    if (left.type() == Type::Matrix || right.type() == Type::Matrix)
        return combineMatrices(op, left, right, line);
    if (op == Op::Cross)
        return combineVectors(op, left, right, line);
    const bool textual = left.type() == Type::String || right.type() == Type::String;
    if (textual && op == Op::Add) {
        std::string joined = left.text();
        joined += right.text();
        checkText(joined.size(), line);
        return joined;
    }
    if (textual && left.type() == right.type() && isComparison(op))
        return compared(op, std::get<std::string>(left).compare(std::get<std::string>(right)), 0);
    if (!textual && (left.type() == Type::Vector || right.type() == Type::Vector))
        return combineVectors(op, left, right, line);
    const double a = number(left, line, opText(op));
    const double b = number(right, line, opText(op));
    if (isComparison(op))
        return compared(op, a, b);
    if (op == Op::Add)
        return a + b;
    if (op == Op::Subtract)
        return a - b;
    if (op == Op::Multiply)
        return a * b;
    if (op == Op::Divide)
        return a / b;
    return std::fmod(a, b);
}

int Interpreter::combineInts(Op op, int left, int right, int line)
{
    const std::int64_t x = left;
    const std::int64_t y = right;
    switch (op) {
    case Op::Add:
        return wrappedInt(x + y);
    case Op::Subtract:
        return wrappedInt(x - y);
    case Op::Multiply:
        return wrappedInt(x * y);
    case Op::Divide:
    case Op::Remainder:
        if (y == 0)
            fail(line, "division by zero");
        // int / int is integer division, truncating toward zero.
        return wrappedInt(op == Op::Divide ? x / y : x % y);
    default:
        return compared(op, x, y);
    }
}

// A number beside a vector counts as a vector of three times itself, except
// that `*` of two vectors is their dot product, `*` or `/` by a number scales,
// and `<` and the like compare lengths.
Value Interpreter::combineVectors(Op op, const Value& left, const Value& right, int line)
{
    const bool bothVectors = left.type() == Type::Vector && right.type() == Type::Vector;
    if (isComparison(op) && op != Op::Equal && op != Op::NotEqual) {
        Value length;
        convert(left, Type::Float, length);
        const double a = std::get<double>(length);
        convert(right, Type::Float, length);
        return compared(op, a, std::get<double>(length));
    }
    if (op == Op::Cross && !bothVectors)
        fail(line,
            "^ is the cross product of two vectors, not of " + withArticle(left.type()) + " and "
                + withArticle(right.type()));
    Value converted;
    convert(left, Type::Vector, converted);
    const Vector3 a = std::get<Vector3>(converted);
    convert(right, Type::Vector, converted);
    const Vector3 b = std::get<Vector3>(converted);
    switch (op) {
    case Op::Add:
        return Vector3 { a.x + b.x, a.y + b.y, a.z + b.z };
    case Op::Subtract:
        return Vector3 { a.x - b.x, a.y - b.y, a.z - b.z };
    case Op::Multiply:
        if (bothVectors)
            return a.x * b.x + a.y * b.y + a.z * b.z;
        return Vector3 { a.x * b.x, a.y * b.y, a.z * b.z };
    case Op::Divide:
        if (right.type() == Type::Vector)
            break;
        return Vector3 { a.x / b.x, a.y / b.y, a.z / b.z };
    case Op::Cross:
        return Vector3 { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
    case Op::Equal:
        return a == b ? 1 : 0;
    case Op::NotEqual:
        return a == b ? 0 : 1;
    default:
        break;
    }
    fail(line,
        "no " + std::string(opText(op)) + " between " + withArticle(left.type()) + " and "
            + withArticle(right.type()));
}

namespace {

bool isNumber(const Value& value)
{
    return value.type() == Type::Int || value.type() == Type::Float;
}

// A matrix operand as itself; a vector as a matrix made in `scratch`: a row
// of three on the left of `*` and a column on its right, or for the other
// operators in the shape of the matrix on the other side when that is a row
// or a column of three.
const Matrix& matrixOperand(const Value& value, const Value& other, Op op, bool onTheLeft, Matrix& scratch)
{
    if (value.type() == Type::Matrix)
        return std::get<Matrix>(value);
    const Vector3& vector = std::get<Vector3>(value);
    bool column = op == Op::Multiply && !onTheLeft;
    if (op != Op::Multiply && other.type() == Type::Matrix) {
        const Matrix& shape = std::get<Matrix>(other);
        column = shape.rows == 3 && shape.columns == 1;
    }
    scratch = Matrix(column ? 3 : 1, column ? 1 : 3);
    scratch.elements = { vector.x, vector.y, vector.z };
    return scratch;
}

}  // namespace

// A matrix beside a number, a vector, a string or a matrix. A number scales
// it (`*`, and `/` after the matrix); `+` with a string joins their texts;
// two matrices (a vector among them as `matrixOperand` shapes it) add and
// subtract element by element, multiply as matrices, and compare whole. What
// comes of a vector and a matrix has the type of the one on the left, as the
// host's table of conversions gives it: a vector takes the first row's first
// three elements.
Value Interpreter::combineMatrices(Op op, const Value& left, const Value& right, int line)
{
    const auto refuse = [&]() {
        fail(line,
            "no " + std::string(opText(op)) + " between " + described(left) + " and " + described(right));
    };
    if (left.type() == Type::String || right.type() == Type::String) {
        if (op != Op::Add)
            refuse();
        std::string joined = left.text();
        joined += right.text();
        checkText(joined.size(), line);
        return joined;
    }
    if (isNumber(left) || isNumber(right)) {
        const bool numberFirst = isNumber(left);
        const double factor = number(numberFirst ? left : right, line, opText(op));
        if (op != Op::Multiply && !(op == Op::Divide && !numberFirst))
            refuse();
        Matrix scaled = std::get<Matrix>(numberFirst ? right : left);
        for (double& element : scaled.elements)
            element = op == Op::Multiply ? element * factor : element / factor;
        return scaled;
    }
    if (left.type() != Type::Matrix && left.type() != Type::Vector)
        refuse();
    if (right.type() != Type::Matrix && right.type() != Type::Vector)
        refuse();
    Matrix leftScratch;
    Matrix rightScratch;
    const Matrix& a = matrixOperand(left, right, op, true, leftScratch);
    const Matrix& b = matrixOperand(right, left, op, false, rightScratch);
    const bool sameShape = a.rows == b.rows && a.columns == b.columns;
    Matrix result;
    switch (op) {
    case Op::Add:
    case Op::Subtract:
        if (!sameShape)
            refuse();
        result = a;
        for (std::size_t i = 0; i < result.elements.size(); ++i)
            result.elements[i] += op == Op::Add ? b.elements[i] : -b.elements[i];
        break;
    case Op::Multiply:
        if (a.columns != b.rows)
            fail(line,
                "cannot multiply " + described(a) + " by " + described(b)
                    + ": the first's columns are not the second's rows");
        checkSize(a.rows * b.columns, line);
        result = Matrix(a.rows, b.columns);
        for (std::size_t row = 0; row < a.rows; ++row)
            for (std::size_t column = 0; column < b.columns; ++column) {
                tick(line);
                double sum = 0;
                for (std::size_t k = 0; k < a.columns; ++k)
                    sum += a.at(row, k) * b.at(k, column);
                result.at(row, column) = sum;
            }
        break;
    case Op::Equal:
        return sameShape && a.elements == b.elements ? 1 : 0;
    case Op::NotEqual:
        return sameShape && a.elements == b.elements ? 0 : 1;
    default:
        refuse();
    }
    if (left.type() != Type::Vector)
        return result;
    double components[3] = { 0, 0, 0 };
    for (std::size_t column = 0; column < std::min<std::size_t>(3, result.columns); ++column)
        components[column] = result.at(0, column);
    if (result.columns == 1)
        for (std::size_t row = 0; row < std::min<std::size_t>(3, result.rows); ++row)
            components[row] = result.at(row, 0);
    return Vector3 { components[0], components[1], components[2] };
}

}  // namespace mel
