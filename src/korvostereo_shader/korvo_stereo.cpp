// The KorvoStereo lens shader: every eye ray of a 1536 × 1536 cube face goes through a 90° square
// frustum along the camera's axes, from an origin moved sideways by half the eye distance, to
// the left for the left eye and to the right for the right eye. The move fades to nothing as the
// ray turns from the horizon to straight up or down.
#include <atomic>
#include <cmath>

#include "mi_interface.h"

#define KORVO_EXPORT extern "C" __attribute__((visibility("default")))

// The shader's parameter block, as its declaration lays it out.
struct KorvoStereoParameters {
    miBoolean Left_Eye;
};

namespace {

constexpr double kFaceSize = 1536.0;
// 2 · raster / face size − 1 with a product in place of the quotient: rounded to float, the two
// agree for every float from 0 to the face size (checked one by one), and the product does not
// hold up every ray behind a division.
constexpr double kRasterScale = 2.0 / kFaceSize;
constexpr double kHalfEyeDistance = 3.25;  // scene units, as the renderer sees them
constexpr double kFullShiftBand = 30.0;    // degrees of elevation with the whole shift
constexpr double kFadeBand = 60.0;         // degrees over which the shift fades to 0
constexpr float kHorizontalThreshold = 1e-5f;
constexpr double kPi = 3.14159265358979323846;

// What init captures for one render. Published whole and never written again while it is
// current, so render threads read it without a lock.
struct CameraState {
    bool leftEye = false;
    miMatrix basis = {};  // rows 0..2: the camera's x, y and z axes in world space
    miVector origin = {0.0f, 0.0f, 0.0f};
    miVector up = {0.0f, 0.0f, 1.0f};
};

// Init fills the next state of the ring and then publishes it; rays of the render that follows
// read the published one. A state is rewritten only after as many more inits as the ring holds,
// long after the rays of its own render are done (each render runs two inits, and renders of
// this library follow one another).
constexpr unsigned kStateRing = 8;
CameraState gStates[kStateRing];
unsigned gNextState = 1;  // only init touches it
std::atomic<const CameraState*> gCurrent{&gStates[0]};

const CameraState& Current() { return *gCurrent.load(std::memory_order_acquire); }

void Publish(const CameraState& state) {
    CameraState& slot = gStates[gNextState];
    gNextState = (gNextState + 1) % kStateRing;
    slot = state;
    gCurrent.store(&slot, std::memory_order_release);
}

miVector Add(const miVector& a, const miVector& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
miVector Scale(const miVector& v, float s) { return {v.x * s, v.y * s, v.z * s}; }
float Dot(const miVector& a, const miVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
miVector Cross(const miVector& a, const miVector& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// 1 up to 30° above or below the horizon, then two smooth steps down to 0 at the poles.
double ShiftFactor(double elevation) {
    if (elevation <= kFullShiftBand) return 1.0;
    double t = (elevation - kFullShiftBand) * (1.0 / kFadeBand);
    t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
    double s = t * t * (3.0 - 2.0 * t);
    s = s < 0.0 ? 0.0 : (s > 1.0 ? 1.0 : s);
    return 1.0 - s * s * (3.0 - 2.0 * s);
}

// Cosine of the angle between a ray and up below which the ray lies surely within the band of
// the whole shift: cos 60.007°, a few thousandths of a degree inside the band's edge.
constexpr float kSurelyFullShiftCosine = 0.4999f;
static_assert(kFullShiftBand == 30.0, "the cosine above is cos(90° − 30°) = 0.5, less a margin");

// The cosine of the angle between a world direction and up.
float UpCosine(const miVector& d, const miVector& up) {
    const float length = std::sqrt(Dot(d, d));
    const miVector n = length > 0.0f ? Scale(d, 1.0f / length) : d;
    float c = Dot(n, up);
    return c < -1.0f ? -1.0f : (c > 1.0f ? 1.0f : c);
}

// The arc sine of x for 0.4999 ≤ x ≤ 1, through asin x = π/2 − 2 asin √((1 − x) / 2): the
// root lies in 0 … 0.50005, where asin s / s is a polynomial in s² within 5e-13 of the arc sine
// (fitted by least squares over that range). Cheaper than the library's arc cosine, whose last
// bits of double precision the shift loses anyway when it is rounded to float.
double HighArcSine(double x) {
    const double z = (1.0 - x) * 0.5;
    const double s = std::sqrt(z);
    constexpr double a[] = {1.0000000000008828,   0.16666666610259528,   0.07500005913974693,
                            0.0446404807836306,   0.03042945621313734,   0.021844184646627064,
                            0.020736617078283646, 0.0017779935533460218, 0.03309666200916676};
    const double z2 = z * z, z4 = z2 * z2;
    const double p = (a[0] + a[1] * z) + (a[2] + a[3] * z) * z2 +
                     ((a[4] + a[5] * z) + (a[6] + a[7] * z) * z2) * z4 + a[8] * (z4 * z4);
    return kPi / 2.0 - 2.0 * s * p;
}

// Degrees from the horizon, 0 … 90, of a direction at that cosine from up, |cosine| ≥ 0.4999.
double Elevation(float upCosine) {
    return HighArcSine(std::fabs(double(upCosine))) * (180.0 / kPi);
}

// The shift factor of a world direction. Rays near the horizon, most of a cube's side faces,
// take the whole shift without the cosine's square root and division: their cosine is below
// the band's edge when (d · up)² < cos² |d|² (up is a unit vector), and the factor there is
// exactly 1 either way.
double DirectionShiftFactor(const miVector& d, const miVector& up) {
    const float along = Dot(d, up);
    constexpr float kSquare = kSurelyFullShiftCosine * kSurelyFullShiftCosine;
    if (along * along < kSquare * Dot(d, d)) return 1.0;
    const float c = UpCosine(d, up);
    if (std::fabs(c) < kSurelyFullShiftCosine) return 1.0;
    return ShiftFactor(Elevation(c));
}

// Camera axes and position in world space, through the renderer's internal space.
void CaptureCamera(miState* state, CameraState& camera) {
    const miVector axes[3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};
    for (int row = 0; row < 3; ++row) {
        miVector internal, world;
        mi_vector_from_camera(state, &internal, &axes[row]);
        mi_vector_to_world(state, &world, &internal);
        camera.basis[4 * row + 0] = world.x;
        camera.basis[4 * row + 1] = world.y;
        camera.basis[4 * row + 2] = world.z;
        camera.basis[4 * row + 3] = 0.0f;
    }
    camera.basis[12] = camera.basis[13] = camera.basis[14] = 0.0f;
    camera.basis[15] = 1.0f;

    const miVector zero{0.0f, 0.0f, 0.0f};
    miVector internal;
    mi_point_from_camera(state, &internal, &zero);
    mi_point_to_world(state, &camera.origin, &internal);
    camera.up = {0.0f, 0.0f, 1.0f};
}

}  // namespace

KORVO_EXPORT int KorvoStereo_version(void) { return 1; }

KORVO_EXPORT void KorvoStereo_init(miState* state, KorvoStereoParameters* parameters,
                                   miBoolean* instanceInitRequest) {
    CameraState next = Current();
    if (!parameters) {
        mi_info("KorvoStereo ver: 0.1.1");
        if (instanceInitRequest) *instanceInitRequest = miTRUE;
    } else {
        const auto* leftEye = static_cast<const miBoolean*>(mi_eval(state, &parameters->Left_Eye));
        next.leftEye = leftEye && *leftEye != 0;
    }
    CaptureCamera(state, next);
    Publish(next);
}

KORVO_EXPORT void KorvoStereo_exit(miState*, KorvoStereoParameters*) {}

KORVO_EXPORT miBoolean KorvoStereo(miColor* result, miState* state, KorvoStereoParameters*) {
    if (!result || !state) return miFALSE;
    const CameraState& camera = Current();

    // Raster position to a direction through the 90° frustum, then into world space
    const miVector view{float(state->raster_x * kRasterScale - 1.0),
                        float(state->raster_y * kRasterScale - 1.0), -1.0f};
    miVector d;
    mi_vector_transform(&d, &view, camera.basis);

    // Move the origin sideways, perpendicular to the ray's horizontal heading
    const double k = DirectionShiftFactor(d, camera.up);
    miVector origin = camera.origin;
    const float h = std::sqrt(d.x * d.x + d.y * d.y);
    if (h > kHorizontalThreshold) {
        const miVector heading{d.x / h, d.y / h, 0.0f};
        const miVector side = Cross(camera.up, heading);  // towards the viewer's left
        const double sign = camera.leftEye ? 1.0 : -1.0;
        origin = Add(origin, Scale(side, float(sign * kHalfEyeDistance * k)));
    }

    // Trace from internal space, the direction left unnormalised
    miVector internalOrigin, internalDirection;
    mi_point_from_world(state, &internalOrigin, &origin);
    mi_vector_from_world(state, &internalDirection, &d);
    return mi_trace_eye(result, state, &internalOrigin, &internalDirection);
}
