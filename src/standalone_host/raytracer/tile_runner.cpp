#include "standalone_host/raytracer/tile_runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace KorvoHost {
namespace {

struct TileQueue {
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;         // for the calling thread
    std::condition_variable_any roundsDone;  // for workers waiting for a round to finish
    int done = 0;                            // guarded by mutex
    int running = 0;                         // workers still running; guarded by mutex
    std::exception_ptr failure;              // the first exception of a tile; guarded by mutex
};

// Tells the workers to take no more tiles, waking those that wait for a round.
void Stop(TileQueue& queue) {
    {
        std::lock_guard lock(queue.mutex);
        queue.stop = true;
    }
    queue.roundsDone.notify_all();
}

void Work(std::stop_token token, TileQueue& queue, int tileCount, int total, int worker,
          const TileFunction& renderTile) {
    std::exception_ptr failure;
    try {
        while (!token.stop_requested() && !queue.stop.load(std::memory_order_relaxed)) {
            const int tile = queue.next.fetch_add(1, std::memory_order_relaxed);
            if (tile >= total) break;
            // The tiles of earlier rounds are all handed out by now; wait for them to finish.
            if (const int roundStart = tile - tile % tileCount; roundStart > 0) {
                std::unique_lock lock(queue.mutex);
                if (!queue.roundsDone.wait(
                        lock, token, [&] { return queue.done >= roundStart || queue.stop; }) ||
                    queue.stop) {
                    break;
                }
            }
            renderTile(tile, worker);
            bool roundFinished;
            {
                std::lock_guard lock(queue.mutex);
                roundFinished = ++queue.done % tileCount == 0;
            }
            if (roundFinished) queue.roundsDone.notify_all();
            queue.changed.notify_one();
        }
    } catch (...) {
        failure = std::current_exception();
        Stop(queue);
    }
    {
        std::lock_guard lock(queue.mutex);
        if (failure && !queue.failure) queue.failure = failure;
        --queue.running;
    }
    queue.changed.notify_one();
}

}  // namespace

int WorkerCount(int requestedThreads, int tileCount) {
    int threads = requestedThreads > 0 ? requestedThreads
                                       : static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(threads, 1, std::max(tileCount, 1));
}

bool RunTiles(int tileCount, int requestedThreads, const TileFunction& renderTile,
              const TracerProgress& progress, int passes) {
    const int total = tileCount * std::max(passes, 1);
    if (progress && !progress(0, total)) return false;
    if (tileCount <= 0) return true;

    TileQueue queue;
    bool cancelled = false;
    {
        const int threads = WorkerCount(requestedThreads, tileCount);
        queue.running = threads;
        // Declared after the queue so the threads are joined before it goes away; a jthread
        // asks its worker to stop and joins it when destroyed, which also covers an exception
        // thrown by the progress callback or by starting a thread.
        std::vector<std::jthread> workers;
        workers.reserve(threads);
        for (int worker = 0; worker < threads; ++worker) {
            workers.emplace_back(Work, std::ref(queue), tileCount, total, worker,
                                 std::cref(renderTile));
        }

        std::unique_lock lock(queue.mutex);
        int reported = 0;
        for (;;) {
            queue.changed.wait(lock, [&] { return queue.done != reported || queue.running == 0; });
            if (queue.failure) break;
            if (queue.done != reported) {
                reported = queue.done;
                if (progress) {
                    lock.unlock();
                    const bool go = progress(reported, total);
                    lock.lock();
                    if (!go) {
                        cancelled = true;
                        queue.stop = true;
                        queue.roundsDone.notify_all();
                        break;
                    }
                }
            }
            if (queue.running == 0) break;
        }
    }
    if (queue.failure) std::rethrow_exception(queue.failure);
    return !cancelled && queue.done == total;
}

}  // namespace KorvoHost
