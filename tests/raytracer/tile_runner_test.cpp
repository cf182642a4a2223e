#include "standalone_host/raytracer/tile_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace KorvoHost {
namespace {

// Every tile of a round runs after all tiles of the round before, on any number of workers, and
// progress counts the tiles of every round.
TEST(TileRunner, RoundsFollowOneAnother) {
    const int tileCount = 9, passes = 3;
    for (const int threads : {1, 2, 4}) {
        std::vector<std::atomic<int>> finished(passes);
        std::atomic<int> early{0}, runs{0};
        int lastDone = -1, lastTotal = -1;
        const bool done = RunTiles(
            tileCount, threads,
            [&](int tile, int) {
                const int round = tile / tileCount;
                if (round > 0 && finished[round - 1].load() != tileCount) ++early;
                ++runs;
                // Uneven tiles, so that a quick worker would run ahead if it could
                if (tile % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ++finished[round];
            },
            [&](int done, int total) {
                lastDone = done;
                lastTotal = total;
                return true;
            },
            passes);
        EXPECT_TRUE(done);
        EXPECT_EQ(early.load(), 0) << threads << " threads";
        EXPECT_EQ(runs.load(), tileCount * passes);
        EXPECT_EQ(lastDone, tileCount * passes);
        EXPECT_EQ(lastTotal, tileCount * passes);
    }
}

// Workers waiting for the next round must not keep the call from returning when the round ends
// early: cancelled, or failed in a tile.
TEST(TileRunner, WaitingWorkersLeaveOnCancelAndFailure) {
    std::atomic<int> secondRound{0};
    auto slowLastTile = [&](int tile, int) {
        if (tile >= 4) ++secondRound;
        if (tile == 3) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    EXPECT_FALSE(RunTiles(
        4, 3, slowLastTile, [](int done, int) { return done < 3; }, 2));
    EXPECT_EQ(secondRound.load(), 0) << "the second round started after the cancel";

    const TileFunction failing = [&](int tile, int worker) {
        slowLastTile(tile, worker);
        if (tile == 3) throw std::runtime_error("tile failed");
    };
    EXPECT_THROW(RunTiles(4, 3, failing, {}, 2), std::runtime_error);
    EXPECT_EQ(secondRound.load(), 0);
}

}  // namespace
}  // namespace KorvoHost
