#include "standalone_host/panorama/equirect.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <new>
#include <numbers>
#include <system_error>
#include <thread>

#include "stitch/jpeg_encoder.h"

namespace KorvoHost {
namespace {

// Rows [first, last) of one eye's picture into `target`, whose rows are `stride` bytes apart.
void RenderRows(const CubePanorama& panorama, PanoramaEye eye, int width, int first, int last,
                std::uint8_t* target, std::size_t stride) {
    std::vector<double> sines(width), cosines(width);
    for (int x = 0; x < width; ++x) {
        const double longitude = (x + 0.5) / width * 2 * std::numbers::pi - std::numbers::pi;
        sines[x] = std::sin(longitude);
        cosines[x] = std::cos(longitude);
    }
    const int height = width / 2;
    for (int y = first; y < last; ++y) {
        const double latitude = std::numbers::pi / 2 - (y + 0.5) / height * std::numbers::pi;
        const double horizontal = std::cos(latitude), vertical = std::sin(latitude);
        std::uint8_t* out = target + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            const auto rgb =
                panorama.Sample(eye, {horizontal * sines[x], horizontal * cosines[x], vertical});
            std::copy(rgb.begin(), rgb.end(), out + 3 * x);
        }
    }
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

std::array<double, 3> EquirectDirection(int width, double column, double row) {
    const double longitude = (column + 0.5) / width * 2 * std::numbers::pi - std::numbers::pi;
    const double latitude = std::numbers::pi / 2 - (row + 0.5) / (width / 2) * std::numbers::pi;
    return {std::cos(latitude) * std::sin(longitude), std::cos(latitude) * std::cos(longitude),
            std::sin(latitude)};
}

RgbImage RenderEquirect(const CubePanorama& panorama, StereoPacking packing, int eyeWidth) {
    const int eyeHeight = eyeWidth / 2;
    struct Placement {
        PanoramaEye eye;
        int x, y;
    };
    std::vector<Placement> placements;
    RgbImage image;
    switch (packing) {
        case StereoPacking::TopBottom:
            image.width = eyeWidth, image.height = 2 * eyeHeight;
            placements = {{PanoramaEye::Left, 0, 0}, {PanoramaEye::Right, 0, eyeHeight}};
            break;
        case StereoPacking::SideBySide:
            image.width = 2 * eyeWidth, image.height = eyeHeight;
            placements = {{PanoramaEye::Left, 0, 0}, {PanoramaEye::Right, eyeWidth, 0}};
            break;
        case StereoPacking::LeftEye:
        case StereoPacking::RightEye:
            image.width = eyeWidth, image.height = eyeHeight;
            placements = {
                {packing == StereoPacking::LeftEye ? PanoramaEye::Left : PanoramaEye::Right, 0, 0}};
            break;
    }
    image.pixels.resize(std::size_t(image.width) * image.height * 3);
    const std::size_t stride = std::size_t(image.width) * 3;

    // Bands of rows, handed out to the cores in turn.
    const int threads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
    constexpr int kBand = 32;
    const int bandsPerEye = (eyeHeight + kBand - 1) / kBand;
    const int bands = bandsPerEye * int(placements.size());
    std::atomic<int> next{0};
    auto work = [&] {
        for (int band; (band = next++) < bands;) {
            const Placement& p = placements[band / bandsPerEye];
            const int first = (band % bandsPerEye) * kBand;
            RenderRows(panorama, p.eye, eyeWidth, first, std::min(first + kBand, eyeHeight),
                       image.pixels.data() + std::size_t(p.y) * stride + std::size_t(p.x) * 3,
                       stride);
        }
    };
    {
        std::vector<std::jthread> pool;
        for (int t = 1; t < threads; ++t) pool.emplace_back(work);
        work();
    }
    return image;
}

bool ConvertPanorama(const ConvertRequest& request, std::string* error) try {
    int width = 0, height = 0;
    if (ImageFileStatus status = ReadJpegSize(request.input, width, height); !status) {
        *error = status.message;
        return false;
    }
    const std::optional<PanoramaLayout> layout = LayoutOfSize(width, height);
    if (!layout) {
        *error = Quoted(request.input) + ": " + UnknownLayoutMessage(width, height);
        return false;
    }
    RgbImage picture;
    {
        ImageRgba8 decoded;
        if (ImageFileStatus status = ReadJpeg(request.input, decoded); !status) {
            *error = status.message;
            return false;
        }
        const CubePanorama panorama(decoded.View(), *layout);
        decoded = {};
        picture = RenderEquirect(panorama, request.packing, request.eyeWidth);
    }

    // Written beside the target and renamed into place, so a failed write leaves no half file
    // and never damages one that was there.
    namespace fs = std::filesystem;
    fs::path pending = request.output;
    pending += "." + std::to_string(::getpid()) + ".partial";
    Korvo::JpegParams params;
    params.quality = 92;
    if (!Korvo::WriteJpegFile(pending.c_str(), picture.width, picture.height, 3,
                              picture.pixels.data(), params)) {
        std::error_code ignored;
        fs::remove(pending, ignored);
        *error = Quoted(request.output) + ": cannot write the file";
        return false;
    }
    std::error_code renamed;
    fs::rename(pending, request.output, renamed);
    if (renamed) {
        std::error_code ignored;
        fs::remove(pending, ignored);
        *error = Quoted(request.output) + ": cannot write the file: " + renamed.message();
        return false;
    }
    return true;
} catch (const std::bad_alloc&) {
    *error = Quoted(request.input) + ": out of memory";
    return false;
}

}  // namespace KorvoHost
