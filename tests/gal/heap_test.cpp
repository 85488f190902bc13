// The heap (gcoHEAP): blocks of several threads never overlap and keep their contents, usage
// returns to where it started, freed space is merged and reused, emptied arenas go back, and
// the error codes (double free, foreign pointers, sizes that overflow).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "gal/heap.h"
#include "gal_os.h"

namespace {

struct HeapHandle {
    gcoHEAP heap = nullptr;
    explicit HeapHandle(size_t arena = 0) {
        EXPECT_EQ(gcoHEAP_Construct(nullptr, arena, &heap), gcvSTATUS_OK);
    }
    ~HeapHandle() { gcoHEAP_Destroy(heap); }
    gal::HeapStatistics statistics() const {
        gal::HeapStatistics s;
        EXPECT_TRUE(gal::heapStatistics(heap, s));
        return s;
    }
};

TEST(Heap, BlocksOfManyThreadsNeverOverlapKeepTheirBytesAndUsageReturnsToTheBaseline) {
    HeapHandle h(16 * 1024);
    const uint64_t baseline = h.statistics().bytesInUse;
    constexpr int kThreads = 4, kRounds = 3000;
    std::mutex lock;
    std::vector<std::pair<uintptr_t, uintptr_t>> live;  // every block held at the end of a round
    std::vector<std::string> failures;
    auto worker = [&](int index) {
        std::mt19937 random(uint32_t(index) * 7919u + 1);
        std::vector<std::pair<uint8_t*, size_t>> mine;
        for (int round = 0; round < kRounds; ++round) {
            if (mine.size() < 40 && random() % 3 != 0) {
                const size_t bytes = random() % 4 == 0 ? 1 + random() % 3000 : 1 + random() % 64;
                void* p = nullptr;
                if (gcoHEAP_Allocate(h.heap, bytes, &p) != gcvSTATUS_OK || !p) {
                    std::lock_guard<std::mutex> guard(lock);
                    failures.push_back("allocation failed");
                    return;
                }
                size_t size = 0;
                gcoHEAP_GetMemorySize(h.heap, p, &size);
                if (size < bytes + 8 || size % 8 != 0 || reinterpret_cast<uintptr_t>(p) % 8 != 0) {
                    std::lock_guard<std::mutex> guard(lock);
                    failures.push_back("block size or alignment");
                }
                std::memset(p, index * 16 + int(bytes % 16), bytes);
                mine.emplace_back(static_cast<uint8_t*>(p), bytes);
            } else if (!mine.empty()) {
                const size_t at = random() % mine.size();
                auto [p, bytes] = mine[at];
                const uint8_t expected = uint8_t(index * 16 + int(bytes % 16));
                if (std::any_of(p, p + bytes, [&](uint8_t b) { return b != expected; })) {
                    std::lock_guard<std::mutex> guard(lock);
                    failures.push_back("a block was overwritten");
                }
                EXPECT_EQ(gcoHEAP_Free(h.heap, p), gcvSTATUS_OK);
                mine.erase(mine.begin() + long(at));
            }
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            for (auto [p, bytes] : mine)
                live.emplace_back(reinterpret_cast<uintptr_t>(p), reinterpret_cast<uintptr_t>(p) + bytes);
        }
        for (auto [p, bytes] : mine) {
            const uint8_t expected = uint8_t(index * 16 + int(bytes % 16));
            if (std::any_of(p, p + bytes, [&](uint8_t b) { return b != expected; })) {
                std::lock_guard<std::mutex> guard(lock);
                failures.push_back("a block was overwritten");
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back(worker, i);
    for (std::thread& t : threads) t.join();
    EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first: " << failures.front();
    std::sort(live.begin(), live.end());
    for (size_t i = 1; i < live.size(); ++i)
        EXPECT_LE(live[i - 1].second, live[i].first) << "blocks " << i - 1 << " and " << i << " overlap";
    for (auto [begin, end] : live) EXPECT_EQ(gcoHEAP_Free(h.heap, reinterpret_cast<void*>(begin)), gcvSTATUS_OK);
    const gal::HeapStatistics s = h.statistics();
    EXPECT_EQ(s.bytesInUse, baseline);
    EXPECT_GT(s.peakBytesInUse, baseline);
    EXPECT_GE(s.bytesHandedOut, s.peakBytesInUse);
}

TEST(Heap, FreedSpaceIsMergedAndReusedAndEmptiedArenasGoBack) {
    HeapHandle h(4096);
    std::vector<void*> blocks;
    for (int i = 0; i < 300; ++i) {  // small blocks over several arenas
        void* p = nullptr;
        ASSERT_EQ(gcoHEAP_Allocate(h.heap, 40, &p), gcvSTATUS_OK);
        blocks.push_back(p);
    }
    const gal::HeapStatistics full = h.statistics();
    EXPECT_GT(full.arenas, 2u);
    for (void* p : blocks) ASSERT_EQ(gcoHEAP_Free(h.heap, p), gcvSTATUS_OK);
    // Nothing fits until the arenas are compacted: they are all free, so they go back, and one
    // new arena serves a block that none of the small free nodes could have held alone.
    void* big = nullptr;
    ASSERT_EQ(gcoHEAP_Allocate(h.heap, 3000, &big), gcvSTATUS_OK);
    gal::HeapStatistics s = h.statistics();
    EXPECT_EQ(s.arenas, 1u);
    EXPECT_EQ(s.peakArenas, full.arenas);
    EXPECT_EQ(s.bytesInUse, 3008u);
    // A block too large for an arena gets one of its own, and arenas grow with it.
    void* huge = nullptr;
    ASSERT_EQ(gcoHEAP_Allocate(h.heap, 10000, &huge), gcvSTATUS_OK);
    size_t size = 0;
    ASSERT_EQ(gcoHEAP_GetMemorySize(h.heap, huge, &size), gcvSTATUS_OK);
    EXPECT_EQ(size, 10008u);
    s = h.statistics();
    EXPECT_EQ(s.arenas, 2u);
    EXPECT_GE(s.arenaBytes, 4096u + 2 * 10008u);
    std::memset(huge, 0x5A, 10000);
    std::memset(big, 0xA5, 3000);
    EXPECT_EQ(gcoHEAP_Free(h.heap, big), gcvSTATUS_OK);
    EXPECT_EQ(gcoHEAP_Free(h.heap, huge), gcvSTATUS_OK);
    EXPECT_EQ(h.statistics().bytesInUse, 0u);
    // ProfileStart clears the counters but keeps what is in use.
    ASSERT_EQ(gcoHEAP_ProfileStart(h.heap), gcvSTATUS_OK);
    s = h.statistics();
    EXPECT_EQ(s.allocations, 0u);
    EXPECT_EQ(s.bytesHandedOut, 0u);
    EXPECT_EQ(s.peakArenas, s.arenas);
    EXPECT_EQ(gcoHEAP_ProfileEnd(h.heap, "test"), gcvSTATUS_OK);
}

TEST(Heap, ErrorCodes) {
    HeapHandle h;
    void* p = nullptr;
    EXPECT_EQ(gcoHEAP_Construct(nullptr, 0, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHEAP_Allocate(nullptr, 8, &p), gcvSTATUS_INVALID_OBJECT);
    EXPECT_EQ(gcoHEAP_Allocate(h.heap, 8, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    // Sizes whose node or arena would not fit 32 bits (or wrap) are refused, nothing taken.
    for (size_t bytes : {SIZE_MAX, SIZE_MAX - 7, size_t(0xFFFFFFFFu), size_t(0xFFFFFFF0u)}) {
        EXPECT_EQ(gcoHEAP_Allocate(h.heap, bytes, &p), gcvSTATUS_OUT_OF_MEMORY) << bytes;
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(h.statistics().arenas, 0u);
    ASSERT_EQ(gcoHEAP_Allocate(h.heap, 24, &p), gcvSTATUS_OK);
    std::memset(p, 0, 24);
    void* other = nullptr;
    ASSERT_EQ(gcoHEAP_Allocate(h.heap, 0, &other), gcvSTATUS_OK);  // a block of its own
    EXPECT_NE(other, p);
    size_t size = 0;
    EXPECT_EQ(gcoHEAP_GetMemorySize(h.heap, nullptr, &size), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHEAP_GetMemorySize(h.heap, p, &size), gcvSTATUS_OK);
    EXPECT_EQ(size, 32u);
    // A pointer the heap did not hand out, one inside a block, and a double free.
    int local = 0;
    EXPECT_EQ(gcoHEAP_Free(h.heap, &local), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHEAP_Free(h.heap, static_cast<uint8_t*>(p) + 8), gcvSTATUS_HEAP_CORRUPTED);
    EXPECT_EQ(gcoHEAP_Free(h.heap, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHEAP_Free(h.heap, p), gcvSTATUS_OK);
    EXPECT_EQ(gcoHEAP_Free(h.heap, p), gcvSTATUS_HEAP_CORRUPTED);
    EXPECT_EQ(gcoHEAP_GetMemorySize(h.heap, p, &size), gcvSTATUS_HEAP_CORRUPTED);
    EXPECT_EQ(h.statistics().bytesInUse, 16u);  // only the other block
    EXPECT_EQ(gcoHEAP_Free(h.heap, other), gcvSTATUS_OK);
    EXPECT_EQ(gcoHEAP_Destroy(nullptr), gcvSTATUS_INVALID_OBJECT);
}

}  // namespace
