// The mental ray stand-in on its own: the shader declarations it reads, what it refuses before a
// render, and the internal space it works in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "standalone_host/mental_ray/mental_ray_renderer.h"
#include "test_support/temp_dir.h"

namespace KorvoTest {
namespace {

namespace fs = std::filesystem;
using namespace KorvoHost::MentalRay;

TEST(ShaderDeclarations, ShippedDeclarationDescribesTheLensShader) {
    std::ifstream in(fs::path(KORVO_SHADER_LIBRARY).replace_extension(".mi"));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<ShaderDeclaration> declarations;
    std::string error;
    ASSERT_TRUE(ParseShaderDeclarations(text, declarations, error)) << error;
    ASSERT_EQ(declarations.size(), 1u);
    const ShaderDeclaration& d = declarations[0];
    EXPECT_EQ(d.name, "KorvoStereo");
    EXPECT_EQ(d.version, 1);
    EXPECT_TRUE(d.AppliesAs("lens"));
    ASSERT_EQ(d.parameters.size(), 1u);
    EXPECT_EQ(d.parameters[0].name, "Left_Eye");
    EXPECT_EQ(d.parameters[0].type, ParameterType::Boolean);
    EXPECT_EQ(d.parameters[0].defaults, std::vector<float>{1.0f});
    EXPECT_EQ(d.blockSize, 4u);
}

TEST(ShaderDeclarations, LayoutAndMistakes) {
    std::vector<ShaderDeclaration> d;
    std::string error;
    ASSERT_TRUE(
        ParseShaderDeclarations("declare shader \"a\" (boolean \"b\", color \"c\" default 1 2 3 4, "
                                "scalar \"s\" default 0.5)\n"
                                "  version 3 apply lens, texture end declare\n"
                                "declare shader \"none\" () end declare",
                                d, error))
        << error;
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].parameters[1].offset, 4u);
    EXPECT_EQ(d[0].parameters[2].offset, 20u);
    EXPECT_EQ(d[0].parameters[1].defaults, (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(d[0].blockSize, 24u);
    EXPECT_TRUE(d[0].AppliesAs("texture"));
    EXPECT_FALSE(d[1].AppliesAs("lens"));

    EXPECT_FALSE(
        ParseShaderDeclarations("declare shader \"a\" (\n  matrix \"m\")\nend declare", d, error));
    EXPECT_EQ(error, "line 2: expected a parameter type (boolean, integer, scalar, color, vector)");
    EXPECT_FALSE(ParseShaderDeclarations(
        "declare shader \"a\" (boolean \"b\", boolean \"b\") end declare", d, error));
    EXPECT_EQ(error, "line 1: parameter \"b\" is declared twice");
    EXPECT_FALSE(ParseShaderDeclarations("declare shader \"a", d, error));
    EXPECT_EQ(error, "line 1: a quoted name is not closed");
    EXPECT_FALSE(ParseShaderDeclarations("declare shader \"a\" ()", d, error));
    EXPECT_EQ(error, "line 1: expected 'version', 'apply' or 'end declare'");
}

class ShaderLibraries : public ::testing::Test {
  protected:
    fs::path CopyLibrary(const std::string& name, const char* declaration) {
        const fs::path library = temp_.path() / (name + ".so");
        fs::copy_file(KORVO_SHADER_LIBRARY, library);
        if (declaration) std::ofstream(temp_.path() / (name + ".mi")) << declaration;
        return library;
    }
    TempDir temp_;
};

TEST_F(ShaderLibraries, LibraryWithoutDeclarationsIsRefused) {
    std::string error;
    EXPECT_EQ(ShaderLibrary::Load(CopyLibrary("undeclared", nullptr), error), nullptr);
    EXPECT_NE(error.find("cannot read the shader declarations"), std::string::npos) << error;
    EXPECT_EQ(ShaderLibrary::Load(temp_.path() / "missing.so", error), nullptr);
}

TEST_F(ShaderLibraries, RenderIsRefusedWhenTheShaderCannotBeUsed) {
    const char* declaration =
        "declare shader \"KorvoStereo\" (boolean \"Left_Eye\") version 2 apply lens end declare\n"
        "declare shader \"Other\" () version 1 apply lens end declare\n"
        "declare shader \"KorvoStereo_exit\" () version 1 apply material end declare\n";
    std::string error;
    ShaderLibrary* library = ShaderLibrary::Load(CopyLibrary("versions", declaration), error);
    ASSERT_NE(library, nullptr) << error;
    auto trace = [](const KorvoHost::Vec3&, const KorvoHost::Vec3&) {
        return KorvoHost::TraceResult{};
    };
    const KorvoHost::Transform camera;

    EXPECT_EQ(LensRender::Begin(*library, *library->Declaration("KorvoStereo"), {1, 0, 0, 0},
                                camera, TraceMode::Packets, trace, error),
              nullptr);
    EXPECT_NE(error.find("is version 1, its declaration says 2"), std::string::npos) << error;
    EXPECT_EQ(LensRender::Begin(*library, *library->Declaration("Other"), {}, camera,
                                TraceMode::Packets, trace, error),
              nullptr);
    EXPECT_NE(error.find("has no shader Other"), std::string::npos) << error;
    EXPECT_EQ(LensRender::Begin(*library, *library->Declaration("KorvoStereo_exit"), {}, camera,
                                TraceMode::Packets, trace, error),
              nullptr);
    EXPECT_EQ(error, "shader KorvoStereo_exit is not declared as a lens shader");
}

// A render of the shipped shader asked sample by sample and a batch at a time, in both ways of
// tracing: the same rays and colours, bit for bit. The rays queued in packets, converted to world
// space a batch at a time, are the very rays the render traced one by one.
TEST(LensRenders, BatchesAnswerWhatSingleSamplesAnswer) {
    std::string error;
    ShaderLibrary* library = ShaderLibrary::Load(KORVO_SHADER_LIBRARY, error);
    ASSERT_NE(library, nullptr) << error;
    const ShaderDeclaration* declaration = library->Declaration("KorvoStereo");
    ASSERT_NE(declaration, nullptr);
    // Looking down and to the side from above the floor, turned about every axis.
    KorvoHost::Transform camera;
    camera.x = {0.8f, 0.6f, 0.0f};
    camera.y = {-0.36f, 0.48f, 0.8f};
    camera.z = {0.48f, -0.64f, 0.6f};
    camera.position = {120.0f, -35.0f, 160.0f};
    std::vector<KorvoHost::Ray> traced;  // by the per-ray render, in order
    auto trace = [&traced](const KorvoHost::Vec3& o, const KorvoHost::Vec3& d) {
        traced.push_back({o, d});
        return KorvoHost::TraceResult{{o.x * 1e-3f, d.y, d.z, 1.0f}, d.z > 0.0f, 1.0f};
    };
    // From corner to corner of the face, and a little beyond
    auto fill = [](KorvoHost::CameraSampleBatch& batch, int row) {
        batch.count = batch.kCapacity;
        for (int i = 0; i < batch.count; ++i) {
            batch.rasterX[i] = 102.5f * float(i);
            batch.rasterY[i] = 0.25f + 97.5f * float(row);
            batch.given[i] = false;
        }
    };
    constexpr int kRows = 16;
    for (const unsigned char leftEye : {0, 1}) {
        std::vector<KorvoHost::Ray> queued;  // by the packet render, in order
        for (const TraceMode mode : {TraceMode::Packets, TraceMode::PerRay}) {
            traced.clear();
            auto render = LensRender::Begin(*library, *declaration, {leftEye, 0, 0, 0}, camera,
                                            mode, trace, error);
            ASSERT_NE(render, nullptr) << error;
            KorvoHost::CameraSampleBatch batch{};
            int compared = 0;
            for (int row = 0; row < kRows; ++row) {
                fill(batch, row);
                render->Samples(batch);
                for (int i = 0; i < batch.count; ++i) {
                    const KorvoHost::CameraSample single =
                        render->Sample(batch.rasterX[i], batch.rasterY[i]);
                    const std::string where = "sample (" + std::to_string(batch.rasterX[i]) + ", " +
                                              std::to_string(batch.rasterY[i]) + ")";
                    if (const auto* ray = std::get_if<KorvoHost::Ray>(&single)) {
                        ASSERT_FALSE(batch.given[i]) << where;
                        const KorvoHost::Ray inBatch{
                            {batch.originX[i], batch.originY[i], batch.originZ[i]},
                            {batch.directionX[i], batch.directionY[i], batch.directionZ[i]}};
                        EXPECT_EQ(ray->origin, inBatch.origin) << where;
                        EXPECT_EQ(ray->direction, inBatch.direction) << where;
                        queued.push_back(inBatch);
                    } else {
                        ASSERT_TRUE(batch.given[i]) << where;
                        EXPECT_EQ(std::get<KorvoHost::Rgba>(single), batch.colors[i]) << where;
                    }
                    ++compared;
                }
            }
            EXPECT_EQ(compared, kRows * batch.kCapacity);
        }
        // Packets queue every ray. The per-ray render traced each twice: a row's batch, then
        // its samples one by one.
        constexpr std::size_t kLanes = KorvoHost::CameraSampleBatch::kCapacity;
        ASSERT_EQ(queued.size(), kRows * kLanes);
        ASSERT_EQ(traced.size(), 2 * queued.size());
        for (std::size_t i = 0; i < queued.size(); ++i) {
            const std::size_t rowStart = 2 * (i / kLanes) * kLanes, lane = i % kLanes;
            for (const KorvoHost::Ray& ray :
                 {traced[rowStart + lane], traced[rowStart + kLanes + lane]}) {
                EXPECT_EQ(queued[i].origin, ray.origin) << i;
                EXPECT_EQ(queued[i].direction, ray.direction) << i;
            }
        }
    }
}

TEST(InternalSpace, IsNotWorldSpaceAndRoundTrips) {
    const KorvoHost::Vec3 p{12, -34, 56}, v{1, 2, 3};
    const KorvoHost::Vec3 ip = WorldToInternalPoint(p);
    EXPECT_GT(std::abs(ip.x - p.x) + std::abs(ip.y - p.y) + std::abs(ip.z - p.z), 100.0f);
    const KorvoHost::Vec3 back = InternalToWorldPoint(ip);
    EXPECT_NEAR(back.x, p.x, 1e-3);
    EXPECT_NEAR(back.y, p.y, 1e-3);
    EXPECT_NEAR(back.z, p.z, 1e-3);
    const KorvoHost::Vec3 bv = InternalToWorldVector(WorldToInternalVector(v));
    EXPECT_NEAR(bv.x, v.x, 1e-5);
    EXPECT_NEAR(bv.z, v.z, 1e-5);
    // A vector does not move with the space's origin.
    EXPECT_NEAR(KorvoHost::Length(WorldToInternalVector({0, 0, 1})), 2.0f, 1e-5);

    // The shaders' conversions are these, to the bit.
    auto mi = [](void (*convert)(miState*, miVector*, const miVector*), KorvoHost::Vec3 in) {
        const miVector from{in.x, in.y, in.z};
        miVector to{};
        convert(nullptr, &to, &from);
        return KorvoHost::Vec3{to.x, to.y, to.z};
    };
    for (const KorvoHost::Vec3 q : {p, v, KorvoHost::Vec3{-1e4f, 3.3f, 0.07f}}) {
        EXPECT_EQ(mi(mi_point_from_world, q), WorldToInternalPoint(q));
        EXPECT_EQ(mi(mi_vector_from_world, q), WorldToInternalVector(q));
        EXPECT_EQ(mi(mi_point_to_world, q), InternalToWorldPoint(q));
        EXPECT_EQ(mi(mi_vector_to_world, q), InternalToWorldVector(q));
    }
}

}  // namespace
}  // namespace KorvoTest
