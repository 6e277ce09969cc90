// Built-ins on numbers.
#include "Support.h"

#include <cmath>
#include <random>

namespace mel {

namespace {

// One generator for the session, seeded alike at every start, so that a
// script's random numbers repeat from run to run until it calls seed.
struct RandomState {
    std::mt19937 generator { 12345 };
};

// A value already evaluated, as a number; arguments are evaluated only once.
double numeric(Call& call, const Value& value)
{
    if (value.type() == Type::Int)
        return std::get<int>(value);
    if (value.type() == Type::Float)
        return std::get<double>(value);
    call.fail(std::string(value.type() == Type::String ? "a string" : "an array")
        + " where a number is needed (" + call.name() + ")");
}

void abs(Call& call)
{
    const Value value = call.value(0);
    if (value.type() == Type::Int) {
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
    if (a.type() == Type::Int && b.type() == Type::Int)
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
    if (value.type() == Type::String || !convert(value, Type::Vector, vector))
        failType(call, "a vector", value.type());
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
    const double unit = std::generate_canonical<double, 32>(call.store().get<RandomState>().generator);
    call.give(low + (high - low) * unit);
}

void seed(Call& call)
{
    const int value = call.integer(0);
    call.store().get<RandomState>().generator.seed(static_cast<unsigned>(value));
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

}  // namespace mel
