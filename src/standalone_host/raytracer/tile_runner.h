// Runs independent tiles on worker threads while the calling thread reports progress.
#pragma once

#include <functional>

#include "standalone_host/raytracer/ray_tracer.h"

namespace KorvoHost {

// Called for one tile on worker number `worker` (0 .. threads − 1); a worker runs its tiles one
// after another, so per-worker scratch needs no locking.
using TileFunction = std::function<void(int tile, int worker)>;

// The number of workers RunTiles uses for a requested count (0: one per hardware thread).
int WorkerCount(int requestedThreads, int tileCount);

// Runs renderTile for every tile in [0, passes · tileCount): `passes` rounds over the same
// tileCount tiles, tile t of round k numbered k · tileCount + t. No tile of a round starts before
// every tile of the round before it has finished, so a round may read what any tile of the
// previous one wrote. `progress` runs on the calling thread only: once with (0, total) before any
// tile, then between tiles with the number finished, total being passes · tileCount. When it
// answers false no worker starts another tile, and RunTiles returns false as soon as the tiles
// in flight are done; no thread outlives the call. An exception from a tile or from `progress`
// stops the workers the same way and is rethrown here.
bool RunTiles(int tileCount, int requestedThreads, const TileFunction& renderTile,
              const TracerProgress& progress, int passes = 1);

}  // namespace KorvoHost
