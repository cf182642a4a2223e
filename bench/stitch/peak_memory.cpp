// Prints the peak resident memory of one strip stitch of the benchmark faces, and what the
// process held before it.

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "interior_faces.h"
#include "stitch/stitcher.h"

namespace {

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;  // kilobytes on Linux
}

double CurrentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

}  // namespace

int main() {
    const auto folder = Korvo::bench::InteriorFaceFolder();
    const double before = CurrentMegabytes();
    const std::string out = (folder / "peak_memory.jpg").string();
    const uint32_t result = Korvo::StitchFaceStrip(out.c_str(), Korvo::kFaceCount, 100);
    std::printf(
        "stitch result %u\nresident before: %.1f MB\npeak: %.1f MB\npeak - before: %.1f MB\n",
        result, before, PeakMegabytes(), PeakMegabytes() - before);
    return result == Korvo::kStitchWritten ? 0 : 1;
}
