// The lens shader library loaded as the renderer loads it, with this program as the renderer
// module: where each eye ray starts and where it goes, parameter evaluation, what happens when
// the renderer lacks a function, and rays from many threads at once.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <thread>
#include <vector>

#include "test_renderer.h"

namespace KorvoTest {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr float kFace = 1536.0f;

struct Parameters {
    miBoolean Left_Eye;
    miTag connection;  // the connection table: one tag for Left_Eye
};

class ShaderLibrary {
  public:
    ShaderLibrary() : handle_(::dlopen(KORVO_SHADER_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {
        if (!handle_) return;
        setModule = Symbol<miSetModuleHandleFunction>("miSetModuleHandle");
        version = Symbol<miShaderVersionFunction>("KorvoStereo_version");
        init = Symbol<miShaderInitFunction>("KorvoStereo_init");
        exit = Symbol<miShaderExitFunction>("KorvoStereo_exit");
        shader = Symbol<miShaderFunction>("KorvoStereo");
    }
    ~ShaderLibrary() {
        if (handle_) ::dlclose(handle_);
    }
    bool Loaded() const { return handle_ && setModule && version && init && exit && shader; }

    miSetModuleHandleFunction setModule = nullptr;
    miShaderVersionFunction version = nullptr;
    miShaderInitFunction init = nullptr;
    miShaderExitFunction exit = nullptr;
    miShaderFunction shader = nullptr;

  private:
    template <typename F>
    F Symbol(const char* name) {
        return reinterpret_cast<F>(::dlsym(handle_, name));
    }
    void* handle_;
};

class LensShader : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.Loaded()) << ::dlerror();
        program_ = ::dlopen(nullptr, RTLD_NOW);
        library_.setModule(program_);
        TakeMessages();
    }

    // One render's set-up as the renderer runs it: shader-level init, then the instance's.
    void Init(const Camera& camera, bool leftEye) {
        SetCamera(camera);
        parameters_ = {leftEye ? miTRUE : miFALSE, 0};
        miBoolean instanceInit = miFALSE;
        library_.init(&state_, nullptr, &instanceInit);
        ASSERT_TRUE(instanceInit);
        library_.init(&state_, &parameters_, nullptr);
    }

    TracedRay Shade(float rasterX, float rasterY) const {
        TracedRay ray;
        miState state = state_;
        state.raster_x = rasterX;
        state.raster_y = rasterY;
        state.renderer_data = &ray;
        ray.answer = library_.shader(&ray.result, &state, const_cast<Parameters*>(&parameters_));
        return ray;
    }

    // The sideways move of a ray's origin from the camera, in world space.
    static Vec Offset(const TracedRay& ray, const Camera& camera) {
        return ray.origin - camera.position;
    }

    ShaderLibrary library_;
    void* program_ = nullptr;
    miFunction function_{0};
    miState state_{0.0f, 0.0f, &function_, nullptr};
    Parameters parameters_{miTRUE, 0};
};

void ExpectNear(const Vec& actual, const Vec& expected, double tolerance, const char* what) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
}

TEST_F(LensShader, LibraryDeclaresVersionOneAndAnnouncesItself) {
    EXPECT_EQ(library_.version(), 1);
    Init(LookingCamera({0, 0, 0}, 0, 0), true);
    const std::vector<Message> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    // The library formats the message itself and hands it over as a plain string.
    EXPECT_EQ(messages[0].format, "%s");
    EXPECT_EQ(messages[0].text, "KorvoStereo ver: 0.1.1");
    library_.exit(&state_, &parameters_);
}

TEST_F(LensShader, HorizonRayStartsHalfTheEyeDistanceToEachSide) {
    // Facing +Y from (100, 200, 50): the viewer's left is −X.
    const Camera camera = LookingCamera({100, 200, 50}, 0, 0);
    Init(camera, true);
    const TracedRay left = Shade(768, 768);
    ASSERT_TRUE(left.traced);
    EXPECT_TRUE(left.answer);
    ExpectNear(Offset(left, camera), {-3.25, 0, 0}, 2e-4, "left eye");

    Init(camera, false);
    const TracedRay right = Shade(768, 768);
    ExpectNear(Offset(right, camera), {3.25, 0, 0}, 2e-4, "right eye");
    ExpectNear(right.direction, {0, 1, 0}, 1e-5, "centre direction");

    // A horizon ray off the centre moves perpendicular to its own heading, not the camera's.
    const Camera turned = LookingCamera({-40, 7, 12}, 70 * kDegree, 0);
    Init(turned, true);
    const TracedRay side = Shade(1536, 768);
    const Vec heading = side.direction * (1.0 / Length(side.direction));
    const Vec offset = Offset(side, turned);
    EXPECT_NEAR(Length(offset), 3.25, 2e-4);
    EXPECT_NEAR(Dot(offset, heading), 0.0, 2e-4);
    EXPECT_NEAR(offset.z, 0.0, 2e-4);
    // Left of the heading: heading × offset points up.
    EXPECT_GT(heading.x * offset.y - heading.y * offset.x, 3.0);
}

TEST_F(LensShader, ShiftFadesFromThirtyDegreesToThePoles) {
    struct Case {
        double elevation;
        double shift;
    };
    for (const Case c : {Case{30, 3.25}, Case{60, 1.625}, Case{-60, 1.625}, Case{89.9, 0.0}}) {
        const Camera camera = LookingCamera({5, -5, 20}, 30 * kDegree, c.elevation * kDegree);
        Init(camera, true);
        const TracedRay ray = Shade(768, 768);
        const Vec offset = Offset(ray, camera);
        EXPECT_NEAR(Length(offset), c.shift, 2e-3) << "elevation " << c.elevation;
        EXPECT_NEAR(offset.z, 0.0, 2e-4) << "elevation " << c.elevation;
    }
    // 45° up still shifts, by less than the whole distance.
    const Camera camera = LookingCamera({0, 0, 0}, 0, 45 * kDegree);
    Init(camera, false);
    const double shift = Length(Offset(Shade(768, 768), camera));
    EXPECT_GT(shift, 1.625);
    EXPECT_LT(shift, 3.25);
}

// Across the edge of the band with the whole shift, the shift follows the fade to the bit of
// float precision: rays just inside the band keep it all, rays just outside begin to lose it,
// and so on to the pole.
TEST_F(LensShader, ShiftIsWholeToTheBandsEdgeAndFadesBeyond) {
    auto expected = [](double elevation) {
        if (elevation <= 30.0) return 3.25;
        const double t = std::min((elevation - 30.0) / 60.0, 1.0);
        const double s = t * t * (3.0 - 2.0 * t);
        return 3.25 * (1.0 - s * s * (3.0 - 2.0 * s));
    };
    std::vector<double> elevations{29.9, 29.99, 29.995, 30.0, 30.005, 30.01, 30.1};
    // and on through the whole fade to the pole, which the shader's own arc sine covers
    for (double elevation = 31.0; elevation < 90.0; elevation += 0.75)
        elevations.push_back(elevation);
    elevations.push_back(89.99);
    for (const double elevation : elevations) {
        for (const double sign : {1.0, -1.0}) {
            const Camera camera =
                LookingCamera({-7, 3, 11}, 25 * kDegree, sign * elevation * kDegree);
            Init(camera, false);
            const TracedRay ray = Shade(768, 768);
            const Vec offset = Offset(ray, camera);
            EXPECT_NEAR(Length(offset), expected(elevation), 5e-5)
                << "elevation " << sign * elevation;
        }
    }
}

TEST_F(LensShader, RayStraightUpOrDownStartsAtTheCamera) {
    for (const double pitch : {90.0, -90.0}) {
        const Camera camera = LookingCamera({12, 34, 56}, 0, pitch * kDegree);
        Init(camera, true);
        const TracedRay ray = Shade(768, 768);
        ExpectNear(ray.origin, camera.position, 1e-4, pitch > 0 ? "up" : "down");
        ExpectNear(ray.direction, {0, 0, pitch > 0 ? 1.0 : -1.0}, 1e-5, "pole direction");
    }
}

TEST_F(LensShader, RasterCornersSpanANinetyDegreeFrustumUnnormalised) {
    const Camera camera = LookingCamera({1, 2, 3}, 20 * kDegree, 10 * kDegree);
    Init(camera, true);
    const TracedRay lowerLeft = Shade(0, 0);
    const TracedRay upperRight = Shade(kFace, kFace);
    ExpectNear(WorldToCameraVector(camera, lowerLeft.direction), {-1, -1, -1}, 1e-5,
               "raster (0, 0)");
    ExpectNear(WorldToCameraVector(camera, upperRight.direction), {1, 1, -1}, 1e-5,
               "raster (1536, 1536)");
    EXPECT_NEAR(Length(lowerLeft.direction), std::sqrt(3.0), 1e-5);
}

TEST_F(LensShader, ConnectedLeftEyeTakesTheEvaluatedValue) {
    const Camera camera = LookingCamera({0, 0, 0}, 0, 0);
    SetCamera(camera);
    // The block says left; the connection evaluates to right.
    function_.ghost_offs = offsetof(Parameters, connection);
    parameters_ = {miTRUE, 42};
    SetConnectedValue(miFALSE);
    miBoolean request = miFALSE;
    library_.init(&state_, nullptr, &request);
    library_.init(&state_, &parameters_, nullptr);
    EXPECT_EQ(PhenEvalCalls(), 1);
    ExpectNear(Offset(Shade(768, 768), camera), {3.25, 0, 0}, 2e-4, "connected: right eye");

    // Not connected: the block's own value, without evaluation.
    parameters_ = {miTRUE, 0};
    SetConnectedValue(miFALSE);
    library_.init(&state_, &parameters_, nullptr);
    EXPECT_EQ(PhenEvalCalls(), 0);
    ExpectNear(Offset(Shade(768, 768), camera), {-3.25, 0, 0}, 2e-4, "unconnected: left eye");

    // The shader-level init keeps the eye the instance init chose.
    library_.init(&state_, nullptr, &request);
    ExpectNear(Offset(Shade(768, 768), camera), {-3.25, 0, 0}, 2e-4, "after shader init");
}

TEST_F(LensShader, MissingFunctionsAreReportedAndNeverCalled) {
    // A module that exports none of the functions.
    void* other = ::dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(other, nullptr);
    library_.setModule(other);
    testing::internal::CaptureStderr();
    miBoolean request = miFALSE;
    library_.init(&state_, nullptr, &request);
    const TracedRay ray = Shade(768, 768);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ray.traced);
    EXPECT_FALSE(ray.answer);
    EXPECT_EQ(ray.result.r, 0.0f);
    EXPECT_EQ(ray.result.a, 0.0f);
    EXPECT_NE(errors.find("dlsym failed on \"mi_info\" (handle: 0x"), std::string::npos) << errors;
    EXPECT_NE(errors.find("dlsym failed on \"mi_trace_eye\""), std::string::npos) << errors;
    EXPECT_NE(errors.find(", error: 127)\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("DYNLOAD"), std::string::npos) << errors;
    // Each call that finds its slot empty tries and says so again.
    testing::internal::CaptureStderr();
    Shade(768, 768);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("\"mi_trace_eye\""), std::string::npos);

    // No module at all.
    library_.setModule(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Shade(768, 768).answer);
    const std::string noModule = testing::internal::GetCapturedStderr();
    EXPECT_NE(noModule.find("DYNLOAD: dl_handle null\n"), std::string::npos) << noModule;
    EXPECT_NE(noModule.find("(handle: 0x0000000000000000, error: 6)\n"), std::string::npos)
        << noModule;

    // Naming the renderer again empties every slot: the functions resolve afresh.
    library_.setModule(program_);
    const Camera camera = LookingCamera({0, 0, 0}, 0, 0);
    Init(camera, false);
    const TracedRay again = Shade(768, 768);
    EXPECT_TRUE(again.traced);
    ExpectNear(Offset(again, camera), {3.25, 0, 0}, 2e-4, "after the module is named again");
    ::dlclose(other);
}

TEST_F(LensShader, ManyThreadsTraceWhatOneThreadTraces) {
    Init(LookingCamera({3, 4, 5}, 15 * kDegree, 35 * kDegree), true);
    constexpr int kStep = 12;  // every twelfth pixel of the face
    constexpr int kSide = 1536 / kStep;
    auto shadeRows = [&](int first, int step, std::vector<TracedRay>& out) {
        for (int j = first; j < kSide; j += step)
            for (int i = 0; i < kSide; ++i)
                out[j * kSide + i] = Shade(i * kStep + 0.5f, j * kStep + 0.5f);
    };
    std::vector<TracedRay> alone(kSide * kSide);
    shadeRows(0, 1, alone);

    constexpr int kThreads = 8;
    std::vector<TracedRay> together(kSide * kSide);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(shadeRows, t, kThreads, std::ref(together));
    for (std::thread& thread : threads) thread.join();

    for (int k = 0; k < kSide * kSide; ++k) {
        ASSERT_TRUE(together[k].traced) << "sample " << k;
        ASSERT_EQ(alone[k].result.r, together[k].result.r) << "sample " << k;
        ASSERT_EQ(alone[k].result.g, together[k].result.g) << "sample " << k;
    }
}

}  // namespace
}  // namespace KorvoTest
