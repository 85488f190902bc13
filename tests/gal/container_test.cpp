// The record container (gcsCONTAINER): allocation order and reuse through the free list,
// FreeAll, growth over many chunks, the refused arguments, and Destroy leaving no memory
// behind (the sanitizer stage checks the last).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "gal_container.h"

namespace {

struct Container {
    gcsCONTAINER c{};
    Container(size_t perChunk, size_t size) {
        EXPECT_EQ(gcsCONTAINER_Construct(&c, perChunk, size), 0);
    }
    ~Container() { EXPECT_EQ(gcsCONTAINER_Destroy(&c), 0); }
    void* take() {
        void* r = nullptr;
        EXPECT_EQ(gcsCONTAINER_AllocateRecord(&c, &r), 0);
        return r;
    }
};

TEST(Container, RecordsComeInAddressOrderAndAFreedOneReturnsAfterTheOthersAlreadyFree) {
    Container k(4, 12);
    void* a = k.take();
    void* b = k.take();
    EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), static_cast<ptrdiff_t>(k.c.nodeSize));
    ASSERT_EQ(gcsCONTAINER_FreeRecord(&k.c, a), 0);
    void* c = k.take();
    void* d = k.take();
    EXPECT_EQ(static_cast<char*>(c) - static_cast<char*>(b), static_cast<ptrdiff_t>(k.c.nodeSize));
    EXPECT_EQ(static_cast<char*>(d) - static_cast<char*>(c), static_cast<ptrdiff_t>(k.c.nodeSize));
    EXPECT_EQ(k.take(), a);  // the freed record went to the tail of the free list
    EXPECT_EQ(k.c.chunks != nullptr && *static_cast<void**>(k.c.chunks) == nullptr, true);
}

TEST(Container, FreeAllReturnsEveryRecordInUseOrderWithoutANewChunk) {
    Container k(3, 8);
    std::vector<void*> taken{k.take(), k.take(), k.take()};
    ASSERT_EQ(gcsCONTAINER_FreeAll(&k.c), 0);
    void* chunk = k.c.chunks;
    for (void* r : taken) EXPECT_EQ(k.take(), r);
    EXPECT_EQ(k.c.chunks, chunk);
}

TEST(Container, ManyChunksHandOutDistinctRecordsThatKeepTheirBytes) {
    Container k(5, 24);
    std::vector<void*> taken;
    std::set<void*> seen;
    for (int i = 0; i < 203; ++i) {
        void* r = k.take();
        std::memset(r, i & 0xff, 24);
        EXPECT_TRUE(seen.insert(r).second);
        taken.push_back(r);
    }
    for (size_t i = 0; i < taken.size(); ++i)
        for (int j = 0; j < 24; ++j)
            ASSERT_EQ(static_cast<unsigned char*>(taken[i])[j], i & 0xff) << i;
    for (size_t i = 0; i < taken.size(); i += 2) ASSERT_EQ(gcsCONTAINER_FreeRecord(&k.c, taken[i]), 0);
    ASSERT_EQ(gcsCONTAINER_FreeAll(&k.c), 0);
}

TEST(Container, RefusesNullZeroAndOverflowingArguments) {
    gcsCONTAINER c{};
    void* r = nullptr;
    EXPECT_EQ(gcsCONTAINER_Construct(nullptr, 1, 1), -1);
    EXPECT_EQ(gcsCONTAINER_Construct(&c, 0, 1), -1);
    EXPECT_EQ(gcsCONTAINER_Construct(&c, 1, 0), -1);
    EXPECT_EQ(gcsCONTAINER_Construct(&c, 1, SIZE_MAX - 4), -1);
    EXPECT_EQ(gcsCONTAINER_Construct(&c, SIZE_MAX / 8, 64), -1);
    EXPECT_EQ(gcsCONTAINER_AllocateRecord(nullptr, &r), -1);
    ASSERT_EQ(gcsCONTAINER_Construct(&c, 2, 4), 0);
    EXPECT_EQ(gcsCONTAINER_AllocateRecord(&c, nullptr), -1);
    EXPECT_EQ(gcsCONTAINER_FreeRecord(&c, nullptr), -1);
    EXPECT_EQ(gcsCONTAINER_FreeAll(nullptr), -1);
    EXPECT_EQ(gcsCONTAINER_Destroy(nullptr), -1);
    EXPECT_EQ(gcsCONTAINER_Destroy(&c), 0);
}

}  // namespace
