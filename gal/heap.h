// Inside the heap (gcoHEAP): its statistics, for the driver's profiling and for tests.
#pragma once

#include <cstdint>

#include "gal_os.h"

namespace gal {

struct HeapStatistics {
    uint32_t allocations = 0;      // blocks handed out since the statistics were cleared
    uint64_t bytesInUse = 0;       // node sizes (headers included) of the blocks in use
    uint64_t peakBytesInUse = 0;
    uint64_t bytesHandedOut = 0;   // every node size handed out
    uint32_t arenas = 0, peakArenas = 0;
    uint64_t arenaBytes = 0, peakArenaBytes = 0;
};

// A copy of the heap's statistics taken under its mutex; false for a null or foreign object.
bool heapStatistics(gcoHEAP heap, HeapStatistics& statistics);

}  // namespace gal
