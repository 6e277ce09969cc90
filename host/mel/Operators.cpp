// The operators on values: arithmetic, comparison and joining, and the one
// wording of an operand of the wrong type.
#include "Interpreter.h"

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
                                         : "an array")
            + " where a number is needed (" + where + ")");
}

Value Interpreter::combine(Op op, const Value& left, const Value& right, int line)
{
    if (left.type() == Type::Int && right.type() == Type::Int && op != Op::Cross)
        return combineInts(op, std::get<int>(left), std::get<int>(right), line);
    if (left.isArray() || right.isArray())
        fail(line, "an array where a scalar is needed (" + std::string(opText(op)) + ")");
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

}  // namespace mel
