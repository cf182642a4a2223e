// A renderer of the tests' own for the lens shader library: this program exports the mi_
// functions the shader binds, with an internal space that is neither camera nor world space,
// and records what the shader asks for.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "mi_interface.h"

namespace KorvoTest {

// A point in double precision for expectations.
struct Vec {
    double x = 0.0, y = 0.0, z = 0.0;
};
Vec operator+(const Vec& a, const Vec& b);
Vec operator-(const Vec& a, const Vec& b);
Vec operator*(const Vec& v, double s);
double Dot(const Vec& a, const Vec& b);
double Length(const Vec& v);
Vec ToVec(const miVector& v);

// A camera: its x, y and z axes and its position in world space.
struct Camera {
    Vec x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    Vec position;
};
// A level camera at `position` looking along its heading (radians from +Y towards −X) and
// pitched up by `pitch` radians.
Camera LookingCamera(Vec position, double heading, double pitch);

// The spaces of the test renderer. World → internal rotates about an oblique axis, scales by 2
// and moves, so a conversion the shader skips or mixes up shows in its rays.
Vec WorldToInternalPoint(const Vec& p);
Vec WorldToInternalVector(const Vec& v);
Vec InternalToWorldPoint(const Vec& p);
Vec InternalToWorldVector(const Vec& v);
Vec WorldToCameraVector(const Camera& camera, const Vec& v);

// What the renderer uses between init and the rays; set it before init.
void SetCamera(const Camera& camera);

// The ray one shader call traced, in world space as the renderer turns it back.
struct TracedRay {
    bool traced = false;
    Vec origin;     // world
    Vec direction;  // world, as handed over (unnormalised)
    miBoolean answer = miFALSE;
    miColor result{};
};

// Messages the shader sent through mi_info, each with the format it was sent with.
struct Message {
    std::string format;
    std::string text;
};
std::vector<Message> TakeMessages();

// Value mi_phen_eval gives for a connected parameter, and how often it was asked.
void SetConnectedValue(miBoolean value);
int PhenEvalCalls();

}  // namespace KorvoTest
