// Built-ins on numbers.
#include "Support.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>

namespace mel {

namespace {

// The session's random number streams: the default one, and those a script
// names, each seeded alike at its start, so that a script's random numbers
// repeat from run to run until it calls seed.
struct RandomState {
    static constexpr unsigned kSeed = 12345;
    std::mt19937 generator { kSeed };
    std::map<std::string, std::mt19937> streams;
};

// Each stream holds 5 KB: a script naming a new one in a loop stops here.
constexpr std::size_t kMostStreams = 4096;

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

// sign(x): -1, 0 or 1, as a float.
double sign(double x)
{
    return x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0;
}

constexpr double kPi = 3.14159265358979323846;
double degreesToRadians(double degrees)
{
    return degrees * (kPi / 180);
}
double radiansToDegrees(double radians)
{
    return radians * (180 / kPi);
}

// The trigonometry of the `d` family, in degrees.
template <double (*Function)(double)> double ofDegrees(double degrees)
{
    return Function(degreesToRadians(degrees));
}
template <double (*Function)(double)> double inDegrees(double x)
{
    return radiansToDegrees(Function(x));
}
double atan2d(double y, double x)
{
    return radiansToDegrees(std::atan2(y, x));
}

// 0 below `start`, 1 from `end` on, rising in a straight line between.
double linearStep(double start, double end, double at)
{
    if (at < start)
        return 0;
    if (at >= end)
        return 1;
    return (at - start) / (end - start);
}

void linstep(Call& call)
{
    const double start = call.number(0);
    const double end = call.number(1);
    call.give(linearStep(start, end, call.number(2)));
}

// As linstep, rising along 3u² - 2u³, flat at both ends.
void smoothstep(Call& call)
{
    const double start = call.number(0);
    const double end = call.number(1);
    const double u = linearStep(start, end, call.number(2));
    call.give(u * u * (3 - 2 * u));
}

// hermite(start, end, tangent1, tangent2, u): the cubic from start (leaving
// along tangent1) to end (arriving along tangent2) at u, of floats or of
// vectors when any of the four is a vector.
void hermite(Call& call)
{
    std::vector<Value> points;
    bool vectors = false;
    for (std::size_t i = 0; i < 4; ++i) {
        points.push_back(call.value(i));
        vectors = vectors || points.back().type() == Type::Vector;
    }
    const double u = call.number(4);
    // The weights of start, end, tangent1 and tangent2 at u.
    const double weights[4] = { 2 * u * u * u - 3 * u * u + 1, -2 * u * u * u + 3 * u * u,
        u * u * u - 2 * u * u + u, u * u * u - u * u };
    Vector3 sum;
    for (std::size_t i = 0; i < 4; ++i) {
        Value vector;
        if (points[i].type() == Type::String || points[i].isArray()
            || !convert(points[i], Type::Vector, vector))
            failType(call, "a float or a vector", points[i].type());
        const Vector3& point = std::get<Vector3>(vector);
        sum.x += weights[i] * point.x;
        sum.y += weights[i] * point.y;
        sum.z += weights[i] * point.z;
    }
    if (vectors)
        call.give(sum);
    else
        call.give(sum.x);
}

// clamp(low, high, value)
void clamp(Call& call)
{
    const double low = call.number(0);
    const double high = call.number(1);
    const double value = call.number(2);
    call.give(value < low ? low : value > high ? high : value);
}

// The arguments of rand, gauss, sphrand and seed, each evaluated once.
std::vector<Value> argumentsOf(Call& call)
{
    std::vector<Value> arguments;
    for (std::size_t i = 0; i < call.count(); ++i)
        arguments.push_back(call.value(i));
    return arguments;
}

// A string that is not a number names a stream: in command syntax a number
// comes as a word.
bool namesStream(const Value& value)
{
    if (value.type() != Type::String)
        return false;
    const std::string& text = std::get<std::string>(value);
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end == text.c_str() || *end != '\0';
}

// Takes off `arguments` the stream the first of them names, when there are
// `withStream` of them or the first names one; the default stream otherwise.
std::mt19937& streamOf(Call& call, std::vector<Value>& arguments, std::size_t withStream)
{
    RandomState& state = call.store().get<RandomState>();
    const bool named
        = arguments.size() == withStream || (arguments.size() >= 2 && namesStream(arguments.front()));
    if (!named)
        return state.generator;
    const std::string name = arguments.front().text();
    arguments.erase(arguments.begin());
    if (name == "default")
        return state.generator;
    auto stream = state.streams.find(name);
    if (stream == state.streams.end()) {
        if (state.streams.size() >= kMostStreams)
            call.fail(call.name() + ": more than " + std::to_string(kMostStreams) + " random number streams");
        stream = state.streams.emplace(name, std::mt19937 { RandomState::kSeed }).first;
    }
    return stream->second;
}

// A number or a vector among the arguments of rand and its kin.
struct Range {
    Vector3 value;
    bool vector = false;
};

Range rangeOf(Call& call, const Value& value)
{
    if (value.type() == Type::Vector)
        return Range { std::get<Vector3>(value), true };
    double number = 0;
    if (value.type() == Type::Int)
        number = std::get<int>(value);
    else if (value.type() == Type::Float)
        number = std::get<double>(value);
    else if (value.type() == Type::String)
        number = leadingNumber(std::get<std::string>(value));
    else
        failType(call, "a float or a vector", value.type());
    return Range { Vector3 { number, number, number }, false };
}

double uniform(std::mt19937& generator)
{
    return std::generate_canonical<double, 32>(generator);
}

// rand([stream,] high) is in [0, high), rand([stream,] low, high) in [low,
// high); of vectors, each component apart, when either is a vector.
void rand(Call& call)
{
    std::vector<Value> arguments = argumentsOf(call);
    std::mt19937& generator = streamOf(call, arguments, 3);
    const Range high = rangeOf(call, arguments.back());
    const Range low = arguments.size() == 2 ? rangeOf(call, arguments.front()) : Range {};
    const auto between
        = [&generator](double from, double to) { return from + (to - from) * uniform(generator); };
    if (!high.vector && !low.vector) {
        call.give(between(low.value.x, high.value.x));
        return;
    }
    const double x = between(low.value.x, high.value.x);
    const double y = between(low.value.y, high.value.y);
    call.give(Vector3 { x, y, between(low.value.z, high.value.z) });
}

// gauss([stream,] deviation): a float of the normal distribution around 0;
// of a vector of deviations, or of two (x and y, z being 0), a vector.
void gauss(Call& call)
{
    std::vector<Value> arguments = argumentsOf(call);
    std::mt19937& generator = streamOf(call, arguments, 3);
    std::normal_distribution<double> normal;
    const Range first = rangeOf(call, arguments.front());
    if (arguments.size() == 1 && !first.vector) {
        call.give(normal(generator) * first.value.x);
        return;
    }
    const Vector3 deviation = arguments.size() == 2
        ? Vector3 { first.value.x, rangeOf(call, arguments[1]).value.x, 0 }
        : first.value;
    const double x = normal(generator) * deviation.x;
    const double y = normal(generator) * deviation.y;
    call.give(Vector3 { x, y, normal(generator) * deviation.z });
}

// sphrand([stream,] radius): a vector evenly spread inside the sphere of the
// radius; of a vector, inside the ellipsoid of those radii.
void sphrand(Call& call)
{
    std::vector<Value> arguments = argumentsOf(call);
    std::mt19937& generator = streamOf(call, arguments, 2);
    const Range radius = rangeOf(call, arguments.front());
    Vector3 point;
    do {
        point.x = 2 * uniform(generator) - 1;
        point.y = 2 * uniform(generator) - 1;
        point.z = 2 * uniform(generator) - 1;
    } while (point.x * point.x + point.y * point.y + point.z * point.z > 1);
    call.give(Vector3 { point.x * radius.value.x, point.y * radius.value.y, point.z * radius.value.z });
}

// seed([stream,] value) starts the stream again from the value.
void seed(Call& call)
{
    std::vector<Value> arguments = argumentsOf(call);
    std::mt19937& generator = streamOf(call, arguments, 2);
    const int value = truncatedInt(rangeOf(call, arguments.front()).value.x);
    generator.seed(static_cast<unsigned>(value));
    call.give(value);
}

}  // namespace

std::vector<Builtin> mathBuiltins()
{
    return {
        { "abs", 1, 1, abs },
        { "sign", 1, 1, unary<sign> },
        { "min", 2, 2, minOrMax<true> },
        { "max", 2, 2, minOrMax<false> },
        { "floor", 1, 1, unary<std::floor> },
        { "ceil", 1, 1, unary<std::ceil> },
        { "trunc", 1, 1, unary<std::trunc> },
        { "sqrt", 1, 1, unary<std::sqrt> },
        { "pow", 2, 2, binary<std::pow> },
        { "exp", 1, 1, unary<std::exp> },
        { "log", 1, 1, unary<std::log> },
        { "log10", 1, 1, unary<std::log10> },
        { "fmod", 2, 2, binary<std::fmod> },
        { "hypot", 2, 2, binary<std::hypot> },
        { "sin", 1, 1, unary<std::sin> },
        { "cos", 1, 1, unary<std::cos> },
        { "tan", 1, 1, unary<std::tan> },
        { "asin", 1, 1, unary<std::asin> },
        { "acos", 1, 1, unary<std::acos> },
        { "atan", 1, 1, unary<std::atan> },
        { "atan2", 2, 2, binary<std::atan2> },
        { "sind", 1, 1, unary<ofDegrees<std::sin>> },
        { "cosd", 1, 1, unary<ofDegrees<std::cos>> },
        { "tand", 1, 1, unary<ofDegrees<std::tan>> },
        { "asind", 1, 1, unary<inDegrees<std::asin>> },
        { "acosd", 1, 1, unary<inDegrees<std::acos>> },
        { "atand", 1, 1, unary<inDegrees<std::atan>> },
        { "atan2d", 2, 2, binary<atan2d> },
        { "deg_to_rad", 1, 1, unary<degreesToRadians> },
        { "rad_to_deg", 1, 1, unary<radiansToDegrees> },
        { "clamp", 3, 3, clamp },
        { "linstep", 3, 3, linstep },
        { "smoothstep", 3, 3, smoothstep },
        { "hermite", 5, 5, hermite },
        { "rand", 1, 3, rand },
        { "gauss", 1, 3, gauss },
        { "sphrand", 1, 2, sphrand },
        { "seed", 1, 2, seed },
    };
}

}  // namespace mel
