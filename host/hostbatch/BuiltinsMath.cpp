// Built-ins on numbers.
#include "Builtins.h"

#include <cmath>

namespace hostbatch {

namespace {

// A value already evaluated, as a number; arguments are evaluated only once.
double numeric(Call& call, const Value& value)
{
    if (typeOf(value) == Type::Int)
        return std::get<int>(value);
    if (typeOf(value) == Type::Float)
        return std::get<double>(value);
    call.fail(std::string(typeOf(value) == Type::String ? "a string" : "an array")
        + " where a number is needed (" + call.name() + ")");
}

void abs(Call& call)
{
    const Value value = call.value(0);
    if (typeOf(value) == Type::Int) {
        const int held = std::get<int>(value);
        // The lowest int stays itself, as it wraps in the host.
        call.give(held < 0 ? static_cast<int>(0u - static_cast<unsigned>(held)) : held);
        return;
    }
    call.give(std::fabs(numeric(call, value)));
}

template <bool Least> void minOrMax(Call& call)
{
    const Value a = call.value(0);
    const Value b = call.value(1);
    const double x = numeric(call, a);
    const double y = numeric(call, b);
    const bool first = Least ? x <= y : x >= y;
    if (typeOf(a) == Type::Int && typeOf(b) == Type::Int)
        call.give(first ? std::get<int>(a) : std::get<int>(b));
    else
        call.give(first ? x : y);
}

template <double (*Function)(double)> void unary(Call& call)
{
    call.give(Function(call.number(0)));
}

template <double (*Function)(double, double)> void binary(Call& call)
{
    const double x = call.number(0);
    call.give(Function(x, call.number(1)));
}

// The length of a vector; a number is a vector of three times itself, as in
// arithmetic.
void mag(Call& call)
{
    const Value value = call.value(0);
    Value vector;
    if (typeOf(value) == Type::String || !convert(value, Type::Vector, vector))
        call.fail("mag takes a vector, not " + std::string(typeName(typeOf(value))));
    call.give(magnitude(std::get<Vector3>(vector)));
}

// clamp(low, high, value)
void clamp(Call& call)
{
    const double low = call.number(0);
    const double high = call.number(1);
    const double value = call.number(2);
    call.give(value < low ? low : value > high ? high : value);
}

// rand(high) is in [0, high), rand(low, high) in [low, high).
void rand(Call& call)
{
    const double low = call.count() == 2 ? call.number(0) : 0.0;
    const double high = call.number(call.count() - 1);
    const double unit = std::generate_canonical<double, 32>(call.state().random);
    call.give(low + (high - low) * unit);
}

void seed(Call& call)
{
    const int value = call.integer(0);
    call.state().random.seed(static_cast<unsigned>(value));
    call.give(value);
}

}  // namespace

std::vector<Builtin> mathBuiltins()
{
    return {
        { "abs", 1, 1, abs },
        { "min", 2, 2, minOrMax<true> },
        { "max", 2, 2, minOrMax<false> },
        { "floor", 1, 1, unary<std::floor> },
        { "ceil", 1, 1, unary<std::ceil> },
        { "sqrt", 1, 1, unary<std::sqrt> },
        { "trunc", 1, 1, unary<std::trunc> },
        { "pow", 2, 2, binary<std::pow> },
        { "fmod", 2, 2, binary<std::fmod> },
        { "clamp", 3, 3, clamp },
        { "mag", 1, 1, mag },
        { "rand", 1, 2, rand },
        { "seed", 1, 1, seed },
    };
}

}  // namespace hostbatch
