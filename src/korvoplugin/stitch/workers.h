#pragma once

// The stitcher's threads: a few of them, the caller's among them, sharing one piece of work.

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace Korvo::stitching {

constexpr int kMaxWorkers = 4;

// Threads for `jobs` units of work: one per core, at most kMaxWorkers, at least one.
inline unsigned WorkerCount(size_t jobs) {
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
    return unsigned(std::min<size_t>({cores, size_t(kMaxWorkers), std::max<size_t>(jobs, 1)}));
}

// Runs `work` on up to `workers` threads, the caller's included; joins them before returning.
template <typename Work>
void RunOnWorkers(unsigned workers, Work&& work) {
    std::vector<std::jthread> helpers;
    try {
        for (unsigned w = 1; w < workers; ++w) helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than hoped for: the ones running share the work.
    }
    work();
}

}  // namespace Korvo::stitching
