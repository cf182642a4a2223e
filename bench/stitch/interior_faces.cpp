#include "interior_faces.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "stitch/stitcher.h"

namespace Korvo::bench {
namespace {

struct Colour {
    double r, g, b;
};

Colour Scale(Colour c, double s) { return {c.r * s, c.g * s, c.b * s}; }

// Hash of a pixel: deterministic noise without state.
uint64_t Hash(uint64_t x) {
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    return x ^ (x >> 33);
}

double Uniform(uint64_t key) { return double(Hash(key) >> 11) / double(1ull << 53); }

struct Box {
    double x0, y0, x1, y1;
    Colour colour;
    double texture;  // amplitude of the fabric or wood pattern
};

}  // namespace

std::vector<uint8_t> InteriorFace(int index, int size) {
    std::vector<uint8_t> rgb(size_t(size) * size * 3);
    const double s = size;
    const double horizon = s * (0.58 + 0.03 * (index % 4));
    const Colour wall = {190.0 + 8 * (index % 3), 170.0 + 5 * (index % 5),
                         140.0 + 10 * (index % 2)};
    const Colour wood = {140, 95, 60};
    const double lampX = s * (0.2 + 0.1 * (index % 7)), lampY = s * 0.25;
    const Box boxes[] = {
        {s * 0.08, horizon - s * 0.16, s * 0.45, horizon + s * 0.12, {70, 80, 110}, 9},  // sofa
        {s * 0.55, horizon + s * 0.02, s * 0.82, horizon + s * 0.22, {120, 80, 50}, 6},  // table
        {s * 0.60, s * 0.18, s * 0.90, s * 0.42, {230, 240, 250}, 0},                    // window
        {s * 0.15, s * 0.20, s * 0.33, s * 0.36, {200, 90, 60}, 4},                      // picture
    };
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Colour c;
            if (y < s * 0.08) {
                c = Scale({228, 226, 220}, 0.85 + 0.15 * y / (s * 0.08));
            } else if (y < horizon) {
                const double dx = x - lampX, dy = y - lampY;
                const double light = 0.55 + 0.45 * std::exp(-(dx * dx + dy * dy) / (s * s * 0.08));
                c = Scale(wall, light);
                const double pattern = 4 * std::sin(x * 0.31) * std::sin(y * 0.29);
                c = {c.r + pattern, c.g + pattern, c.b + pattern};
            } else {
                // Floor planks in perspective, with grain and dark seams.
                const double depth = (y - horizon) / (s - horizon) + 0.15;
                const double u = (x - s / 2) / depth;
                const int plank = int(std::floor(u / 90.0));
                const double within = u - plank * 90.0;
                const double tone = 0.8 + 0.25 * Uniform(uint64_t(plank) * 977 + index);
                const double grain = 9 * std::sin(u * 0.09 + 3 * std::sin(y * 0.021 + plank));
                c = Scale(wood, tone * (0.6 + 0.4 * depth));
                c = {c.r + grain, c.g + grain * 0.7, c.b + grain * 0.4};
                if (within < 2.5) c = Scale(c, 0.45);
            }
            for (const Box& box : boxes) {
                if (x < box.x0 || x >= box.x1 || y < box.y0 || y >= box.y1) continue;
                const double v = (y - box.y0) / (box.y1 - box.y0);
                const double h = (x - box.x0) / (box.x1 - box.x0);
                c = Scale(box.colour, 0.75 + 0.3 * (1 - v) * (0.8 + 0.2 * h));
                if (box.texture > 0) {
                    const double weave = box.texture * std::sin(x * 1.7) * std::cos(y * 1.3);
                    c = {c.r + weave, c.g + weave, c.b + weave};
                }
                // Frames and bars: hard edges.
                const double edge = std::min({x - box.x0, box.x1 - x, y - box.y0, box.y1 - y});
                if (edge < 6 || (box.texture == 0 && std::abs(h - 0.5) * (box.x1 - box.x0) < 4)) {
                    c = {45, 40, 38};
                }
            }
            // Render grain: independent per channel, roughly Gaussian.
            const uint64_t key = (uint64_t(index) << 48) ^ (uint64_t(y) << 24) ^ uint64_t(x);
            uint8_t* p = rgb.data() + (size_t(y) * size + x) * 3;
            const double channels[3] = {c.r, c.g, c.b};
            for (int i = 0; i < 3; ++i) {
                const double grain = 3.2 * (Uniform(key * 3 + i) + Uniform(key * 3 + i + 7) - 1);
                p[i] = uint8_t(std::clamp(std::lround(channels[i] + grain), 0L, 255L));
            }
        }
    }
    return rgb;
}

namespace {

void WritePng(const std::filesystem::path& path, const std::vector<uint8_t>& rgb, int size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        throw std::runtime_error("libpng failed on " + path.string());
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, uint32_t(size), uint32_t(size), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (int y = 0; y < size; ++y) {
        png_write_row(png, const_cast<png_bytep>(rgb.data() + size_t(y) * size * 3));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

}  // namespace

std::filesystem::path InteriorFaceFolder() {
    const auto folder = std::filesystem::temp_directory_path() / "korvo_stitch_bench_faces";
    std::filesystem::create_directories(folder);
    // Face i of the strip order gets interior i, so the strip shows twelve different views.
    for (int i = 0; i < kFaceCount; ++i) {
        const auto path = folder / kStripFaceFiles[i];
        if (!std::filesystem::exists(path))
            WritePng(path, InteriorFace(i, int(kFaceSize)), int(kFaceSize));
    }
    return folder;
}

}  // namespace Korvo::bench
