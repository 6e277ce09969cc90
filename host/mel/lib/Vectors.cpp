// Built-ins on vectors. A number given for a vector is a vector of three times
// itself, as in arithmetic.
#include "Support.h"

#include <cmath>

namespace mel {

namespace {

double dotProduct(const Vector3& a, const Vector3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vector3 crossProduct(const Vector3& a, const Vector3& b)
{
    return Vector3 { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
}

void mag(Call& call)
{
    call.give(magnitude(vectorAt(call, 0)));
}

void dot(Call& call)
{
    const Vector3 a = vectorAt(call, 0);
    call.give(dotProduct(a, vectorAt(call, 1)));
}

void cross(Call& call)
{
    const Vector3 a = vectorAt(call, 0);
    call.give(crossProduct(a, vectorAt(call, 1)));
}

// The vector scaled to length 1; <<0, 0, 0>> stays itself.
void unit(Call& call)
{
    const Vector3 v = vectorAt(call, 0);
    const double length = magnitude(v);
    call.give(length == 0 ? v : Vector3 { v.x / length, v.y / length, v.z / length });
}

// The angle between two vectors in radians, from 0 to pi; 0 when either is
// <<0, 0, 0>>. By the arc tangent, which stays exact for vectors nearly parallel.
void angle(Call& call)
{
    const Vector3 a = vectorAt(call, 0);
    const Vector3 b = vectorAt(call, 1);
    call.give(std::atan2(magnitude(crossProduct(a, b)), dotProduct(a, b)));
}

}  // namespace

std::vector<Builtin> vectorBuiltins()
{
    return {
        { "mag", 1, 1, mag },
        { "dot", 2, 2, dot },
        { "cross", 2, 2, cross },
        { "unit", 1, 1, unit },
        { "angle", 2, 2, angle },
    };
}

}  // namespace mel
