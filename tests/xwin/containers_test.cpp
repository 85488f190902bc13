// Lists, ring queues, pools, zeroed allocation and scratch strings of the window system.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "log_lines.h"
#include "xbuffer.h"
#include "xlist.h"
#include "xqueue.h"
#include "xstring.h"

namespace {

struct Item {
    Item* next;
    Item* prev;
    int32_t key;
};

int32_t byKey(void* node, void* other) {
    return static_cast<Item*>(node)->key - static_cast<Item*>(other)->key;
}

int32_t keyMatches(void* node, void* key) {
    return static_cast<Item*>(node)->key - *static_cast<int32_t*>(key);
}

int32_t keyDifferenceOfNodes(void* node, void* key) {
    return static_cast<Item*>(node)->key - static_cast<Item*>(key)->key;
}

// A list over a fixed set of items, plus helpers to read it back.
class XSListTest : public ::testing::Test {
protected:
    void init(bool sorted, XSLIST_MATCH match = keyMatches) {
        XSLIST_InitSystem(&list, sorted ? 1 : 0, byKey, match);
    }
    Item* item(int32_t key) {
        items.push_back(std::make_unique<Item>(Item{nullptr, nullptr, key}));
        return items.back().get();
    }
    std::vector<int32_t> keys() const {
        std::vector<int32_t> out;
        for (auto* n = static_cast<Item*>(list.head); n; n = n->next) out.push_back(n->key);
        return out;
    }
    std::vector<int32_t> keysBackwards() const {
        std::vector<int32_t> out;
        for (auto* n = static_cast<Item*>(list.tail); n; n = n->prev) out.push_back(n->key);
        return out;
    }
    void fill(std::initializer_list<int32_t> ks) {
        for (int32_t k : ks) ASSERT_EQ(XSLIST_InsertObject(&list, item(k)), 0) << k;
    }

    XSList list{};
    std::vector<std::unique_ptr<Item>> items;
};

TEST_F(XSListTest, InitSetsFlagsAndEmpties) {
    list.count = 7;
    XSLIST_InitSystem(&list, 0xFF, byKey, keyMatches);
    EXPECT_EQ(list.flags, 0x3);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.head, nullptr);
    XSLIST_InitSystem(&list, 0, byKey, keyMatches);
    EXPECT_EQ(list.flags, 0x2);
    EXPECT_TRUE(XSLIST_IsEmpty(&list));
}

TEST_F(XSListTest, SortedInsertOrdersAscendingBothWays) {
    init(true);
    fill({5, 3, 9, 4});
    EXPECT_EQ(keys(), (std::vector<int32_t>{3, 4, 5, 9}));
    EXPECT_EQ(keysBackwards(), (std::vector<int32_t>{9, 5, 4, 3}));
    EXPECT_EQ(XSLIST_GetNumElement(&list), 4);
    EXPECT_EQ(static_cast<Item*>(list.head)->prev, nullptr);
    EXPECT_EQ(static_cast<Item*>(list.tail)->next, nullptr);
}

TEST_F(XSListTest, DuplicatesAreRefusedAndLeaveTheListAlone) {
    struct Case {
        bool sorted;
        int32_t duplicate;
    };
    for (Case c : {Case{true, 3}, Case{true, 9}, Case{false, 5}, Case{false, 4}}) {
        init(c.sorted);
        items.clear();
        fill({5, 3, 9, 4});
        const auto before = keys();
        Item* dup = item(c.duplicate);
        EXPECT_EQ(XSLIST_InsertObject(&list, dup), -5) << c.sorted << " " << c.duplicate;
        EXPECT_EQ(list.count, 4);
        EXPECT_EQ(keys(), before);
        EXPECT_EQ(dup->next, nullptr);
    }
}

TEST_F(XSListTest, UnsortedKeepsInsertionOrder) {
    init(false);
    fill({5, 3, 9, 4});
    EXPECT_EQ(keys(), (std::vector<int32_t>{5, 3, 9, 4}));
}

TEST_F(XSListTest, NullCompareRefusesOnlyTheSameNode) {
    XSLIST_InitSystem(&list, 1, nullptr, nullptr);
    Item* a = item(1);
    Item* b = item(1);
    EXPECT_EQ(XSLIST_InsertObject(&list, a), 0);
    EXPECT_EQ(XSLIST_InsertObject(&list, b), 0);
    EXPECT_EQ(XSLIST_InsertObject(&list, a), -5);
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(XSLIST_FetchObject(&list, b), b);  // identity match
}

TEST_F(XSListTest, FetchUnlinksFromEveryPosition) {
    struct Case {
        int32_t key;
        std::vector<int32_t> rest;
    };
    for (const Case& c : {Case{1, {2, 3}}, Case{2, {1, 3}}, Case{3, {1, 2}}, Case{4, {1, 2, 3}}}) {
        init(true);
        items.clear();
        fill({1, 2, 3});
        int32_t key = c.key;
        auto* got = static_cast<Item*>(XSLIST_FetchObject(&list, &key));
        if (c.key == 4) {
            EXPECT_EQ(got, nullptr);
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(got->key, c.key);
            EXPECT_EQ(got->next, nullptr);
            EXPECT_EQ(got->prev, nullptr);
        }
        EXPECT_EQ(keys(), c.rest) << c.key;
        std::vector<int32_t> back(c.rest.rbegin(), c.rest.rend());
        EXPECT_EQ(keysBackwards(), back) << c.key;
        EXPECT_EQ(list.count, c.rest.size());
    }
}

TEST_F(XSListTest, FetchingTheOnlyNodeEmptiesTheList) {
    init(true);
    fill({7});
    int32_t key = 7;
    EXPECT_NE(XSLIST_FetchObject(&list, &key), nullptr);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.count, 0);
    EXPECT_TRUE(XSLIST_IsEmpty(&list));
    EXPECT_EQ(XSLIST_FetchObject(&list, &key), nullptr);
    EXPECT_EQ(XSLIST_FetchObject(nullptr, &key), nullptr);
}

TEST_F(XSListTest, GetObjectSearchesWithoutRemoving) {
    init(false);
    fill({4, 8});
    int32_t key = 8;
    auto* got = static_cast<Item*>(XSLIST_GetObject(&list, &key));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->key, 8);
    EXPECT_EQ(list.count, 2);
    key = 5;
    EXPECT_EQ(XSLIST_GetObject(&list, &key), nullptr);
}

TEST_F(XSListTest, IndexIsByIdentity) {
    init(true, keyDifferenceOfNodes);
    EXPECT_EQ(XSLIST_GetObjectIndex(&list, item(1)), -1);
    fill({10, 20, 30});
    EXPECT_EQ(XSLIST_GetObjectIndex(&list, list.head), 0);
    EXPECT_EQ(XSLIST_GetObjectIndex(&list, list.tail), 2);
    Item twin{nullptr, nullptr, 20};  // same key, different node
    EXPECT_EQ(XSLIST_GetObjectIndex(&list, &twin), -1);
}

TEST_F(XSListTest, PositionalAccess) {
    init(true);
    fill({1, 2, 3});
    auto keyOf = [](void* n) { return n ? static_cast<Item*>(n)->key : -100; };
    struct Case {
        int32_t n;
        int32_t key;  // -100: null
    };
    for (Case c : {Case{0, 1}, Case{1, 2}, Case{2, 3}, Case{3, -100}, Case{-1, 2}, Case{-2, 1},
                   Case{-3, -100}, Case{100, -100}}) {
        EXPECT_EQ(keyOf(XSLIST_GetNthObject(&list, c.n)), c.key) << c.n;
    }
    void* middle = XSLIST_GetNthObject(&list, 1);
    for (Case c : {Case{0, 2}, Case{1, 3}, Case{2, -100}, Case{-1, 1}, Case{-2, -100}}) {
        EXPECT_EQ(keyOf(XSLIST_GetNthObjectFrom(&list, middle, c.n)), c.key) << c.n;
    }
    EXPECT_EQ(XSLIST_GetNthObjectFrom(nullptr, middle, 0), nullptr);
}

TEST_F(XSListTest, NthOfATwoNodeList) {
    init(false);
    fill({1, 2});
    EXPECT_EQ(XSLIST_GetNthObject(&list, 0), list.head);
    EXPECT_EQ(XSLIST_GetNthObject(&list, 2), nullptr);
}

TEST_F(XSListTest, FetchNthRemovesThatNodeAndPastTheEndNeverCallsMatch) {
    init(true, keyDifferenceOfNodes);
    fill({1, 2, 3});
    auto* got = static_cast<Item*>(XSLIST_FetchNthObject(&list, 1));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->key, 2);
    EXPECT_EQ(keys(), (std::vector<int32_t>{1, 3}));
    // keyDifferenceOfNodes dereferences its key: a null key would crash.
    EXPECT_EQ(XSLIST_FetchNthObject(&list, 5), nullptr);
    EXPECT_EQ(XSLIST_FetchNthObject(&list, -2), nullptr);
    EXPECT_EQ(list.count, 2);
}

TEST_F(XSListTest, IteratorWalksBothWays) {
    init(true);
    fill({1, 2, 3});
    XSListIter it;
    XSLIST_InitIterator(&it, &list);
    EXPECT_EQ(it.current, nullptr);
    EXPECT_EQ(XSLIST_GetNextObject(&it), nullptr);  // not started
    std::vector<int32_t> seen;
    for (void* n = XSLIST_GetFirstObject(&it); n; n = XSLIST_GetNextObject(&it))
        seen.push_back(static_cast<Item*>(n)->key);
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(it.current, nullptr);
    seen.clear();
    for (void* n = XSLIST_GetLastObject(&it); n; n = XSLIST_GetPrevObject(&it))
        seen.push_back(static_cast<Item*>(n)->key);
    EXPECT_EQ(seen, (std::vector<int32_t>{3, 2, 1}));

    void* middle = XSLIST_GetNthObject(&list, 1);
    EXPECT_EQ(XSLIST_SetIterator(&it, middle), middle);
    EXPECT_EQ(XSLIST_GetNextObject(&it), list.tail);
    EXPECT_EQ(XSLIST_GetNextObjectEx(&it, middle), list.tail);
    EXPECT_EQ(it.current, list.tail);
    EXPECT_EQ(XSLIST_GetPrevObjectEx(&it, middle), list.head);
    EXPECT_EQ(it.current, list.head);
}

TEST(XQueue, CapacityFourHoldsThreeInOrder) {
    std::array<int32_t, 4> storage{};
    XQueue q;
    ASSERT_EQ(XQUEUE_InitSystem(&q, storage.data(), sizeof(int32_t), 4), 0);
    EXPECT_TRUE(XQUEUE_IsEmpty(&q));
    for (int32_t v : {10, 20, 30}) EXPECT_EQ(XQUEUE_AddObjectToRear(&q, &v), 0);
    EXPECT_TRUE(XQUEUE_IsFull(&q));
    int32_t v = 40;
    EXPECT_EQ(XQUEUE_AddObjectToRear(&q, &v), -5);
    EXPECT_EQ(XQUEUE_AddObjectToFront(&q, &v), -5);
    std::vector<int32_t> out;
    int32_t got = 0;
    while (XQUEUE_FetchObject(&q, &got) == 0) out.push_back(got);
    EXPECT_EQ(out, (std::vector<int32_t>{10, 20, 30}));
    got = 99;
    EXPECT_EQ(XQUEUE_FetchObject(&q, &got), -5);
    EXPECT_EQ(got, 99);
}

TEST(XQueue, FrontOfEmptyQueueUsesTheLastSlot) {
    std::array<int32_t, 4> storage{};
    XQueue q;
    XQUEUE_InitSystem(&q, storage.data(), sizeof(int32_t), 4);
    int32_t v = 7;
    ASSERT_EQ(XQUEUE_AddObjectToFront(&q, &v), 0);
    EXPECT_EQ(q.front, 3);
    EXPECT_EQ(storage[3], 7);
    int32_t rear = 8;
    ASSERT_EQ(XQUEUE_AddObjectToRear(&q, &rear), 0);
    int32_t got = 0;
    ASSERT_EQ(XQUEUE_FetchObject(&q, &got), 0);
    EXPECT_EQ(got, 7);
    ASSERT_EQ(XQUEUE_FetchObject(&q, &got), 0);
    EXPECT_EQ(got, 8);
    EXPECT_TRUE(XQUEUE_IsEmpty(&q));
}

TEST(XQueue, WrapsAroundManyTimes) {
    std::array<uint16_t, 3> storage{};
    XQueue q;
    XQUEUE_InitSystem(&q, storage.data(), sizeof(uint16_t), 3);
    for (uint16_t i = 0; i < 20; ++i) {
        ASSERT_EQ(XQUEUE_AddObjectToRear(&q, &i), 0);
        uint16_t got = 0;
        ASSERT_EQ(XQUEUE_FetchObject(&q, &got), 0);
        EXPECT_EQ(got, i);
    }
}

TEST(XQueue, UnusableStorageIsRefusedWithoutCrashing) {
    int32_t storage[2];
    struct Case {
        void* buffer;
        int32_t size;
        int32_t capacity;
    };
    for (Case c : {Case{nullptr, 4, 2}, Case{storage, 0, 2}, Case{storage, 4, 0},
                   Case{storage, 4, -1}, Case{storage, 4, 40000}}) {
        XQueue q;
        EXPECT_EQ(XQUEUE_InitSystem(&q, c.buffer, c.size, c.capacity), -5);
        int32_t v = 1;
        EXPECT_EQ(XQUEUE_AddObjectToRear(&q, &v), -5);
        EXPECT_EQ(XQUEUE_AddObjectToFront(&q, &v), -5);
        EXPECT_EQ(XQUEUE_FetchObject(&q, &v), -5);
        EXPECT_TRUE(XQUEUE_IsEmpty(&q));
    }
}

class XBufferTest : public ::testing::Test {
protected:
    void TearDown() override { XBUFFER_Destroy(&pool); }
    XBuffer pool{};
};

TEST_F(XBufferTest, HandsOutInAddressOrderThenUnderflows) {
    ASSERT_EQ(XBUFFER_Create(&pool, 32, 3), 0);
    EXPECT_EQ(pool.elementCount, 3u);
    EXPECT_EQ(XSLIST_GetNumElement(&pool.freeList), 3);
    auto* a = static_cast<char*>(XBUFFER_Alloc(&pool));
    auto* b = static_cast<char*>(XBUFFER_Alloc(&pool));
    auto* c = static_cast<char*>(XBUFFER_Alloc(&pool));
    EXPECT_EQ(a, pool.poolStart);
    EXPECT_EQ(b, a + 32);
    EXPECT_EQ(c, a + 64);
    EXPECT_EQ(c + 32, pool.poolEnd);
    veld::test::LogLines log;
    EXPECT_EQ(XBUFFER_Alloc(&pool), nullptr);
    EXPECT_TRUE(log.contains("[xDbg] [XBUFFER] -- data underflow --"));
}

TEST_F(XBufferTest, FreedElementsComeBackFirstInFirstOutAndCleared) {
    ASSERT_EQ(XBUFFER_Create(&pool, 16, 3), 0);
    void* first = XBUFFER_Alloc(&pool);
    void* second = XBUFFER_Alloc(&pool);
    XBUFFER_Alloc(&pool);
    std::memset(first, 0xAB, 16);
    std::memset(second, 0xCD, 16);
    void* keepFirst = first;
    void* keepSecond = second;
    XBUFFER_FreeSafe(&pool, &second);
    XBUFFER_FreeSafe(&pool, &first);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
    auto* again = static_cast<unsigned char*>(XBUFFER_Alloc(&pool));
    EXPECT_EQ(again, keepSecond);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(again[i], 0) << i;
    EXPECT_EQ(XBUFFER_Alloc(&pool), keepFirst);
}

TEST_F(XBufferTest, DoubleFreeKeepsOneCopy) {
    ASSERT_EQ(XBUFFER_Create(&pool, 16, 3), 0);
    void* e = XBUFFER_Alloc(&pool);
    void* copy = e;
    XBUFFER_FreeSafe(&pool, &e);
    XBUFFER_FreeSafe(&pool, &copy);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(XSLIST_GetNumElement(&pool.freeList), 3);
    std::vector<void*> handed;
    while (void* p = XBUFFER_Alloc(&pool)) handed.push_back(p);
    EXPECT_EQ(handed.size(), 3u);
}

TEST_F(XBufferTest, ForeignAndMisalignedPointersOnlyNullTheCaller) {
    ASSERT_EQ(XBUFFER_Create(&pool, 16, 2), 0);
    void* a = XBUFFER_Alloc(&pool);
    XBUFFER_Alloc(&pool);
    int outside = 0;
    void* candidates[] = {&outside, static_cast<char*>(a) + 4, pool.poolEnd, nullptr};
    for (void* p : candidates) {
        void* q = p;
        XBUFFER_FreeSafe(&pool, &q);
        EXPECT_EQ(q, nullptr);
        EXPECT_EQ(XSLIST_GetNumElement(&pool.freeList), 0);
    }
}

TEST_F(XBufferTest, FlushRelistsEverythingInAddressOrder) {
    ASSERT_EQ(XBUFFER_Create(&pool, 24, 4), 0);
    std::vector<void*> all;
    while (void* p = XBUFFER_Alloc(&pool)) all.push_back(p);
    std::memset(all[2], 0x5A, 24);
    XBUFFER_FreeSafe(&pool, &all[3]);
    XBUFFER_Flush(&pool);
    EXPECT_EQ(XSLIST_GetNumElement(&pool.freeList), 4);
    auto* p = static_cast<char*>(pool.poolStart);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(XSLIST_GetNthObject(&pool.freeList, static_cast<int32_t>(i)),
                  p + i * pool.elementSize);
    }
    // Flushing does not clear: the payload after the links is still there.
    EXPECT_EQ(static_cast<unsigned char>(p[2 * pool.elementSize + 20]), 0x5A);
}

TEST_F(XBufferTest, SmallOrOddElementsGetAStrideThatHoldsTheLinks) {
    for (uint32_t size : {1u, 8u, 12u, 17u}) {
        XBuffer small{};
        ASSERT_EQ(XBUFFER_Create(&small, size, 5), 0) << size;
        EXPECT_GE(small.elementSize, sizeof(XSListNode));
        EXPECT_GE(small.elementSize, size);
        EXPECT_EQ(small.elementSize % alignof(void*), 0u);
        std::vector<void*> got;
        while (void* e = XBUFFER_Alloc(&small)) got.push_back(e);
        EXPECT_EQ(got.size(), 5u);
        XBUFFER_Destroy(&small);
    }
}

TEST_F(XBufferTest, DestroyedPoolHandsOutNothingAndDestroysOnce) {
    ASSERT_EQ(XBUFFER_Create(&pool, 16, 2), 0);
    EXPECT_EQ(XBUFFER_Destroy(&pool), 0);
    EXPECT_EQ(pool.poolStart, nullptr);
    EXPECT_EQ(XBUFFER_Destroy(&pool), 0);
    EXPECT_EQ(XBUFFER_Alloc(&pool), nullptr);
}

TEST_F(XBufferTest, TooManyElementsForTheFreeListAreRefused) {
    EXPECT_EQ(XBUFFER_Create(&pool, 16, 70000), -5);
    EXPECT_EQ(pool.poolStart, nullptr);
    EXPECT_EQ(XBUFFER_Alloc(&pool), nullptr);
}

TEST(XMem, ZeroedRoundedAndFreedSafely) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{100}}) {
        auto* p = static_cast<unsigned char*>(XMEM_Alloc(size));
        ASSERT_NE(p, nullptr) << size;
        for (size_t i = 0; i < ((size + 7) & ~size_t{7}); ++i) EXPECT_EQ(p[i], 0);
        void* block = p;
        XMEM_FreeSafe(&block);
        EXPECT_EQ(block, nullptr);
        XMEM_FreeSafe(&block);  // null stays harmless
    }
    XMEM_FreeSafe(nullptr);
}

TEST(XString, AllocatedStringsHaveRoomForTheTerminator) {
    XString s = XUTIL_AllocString(10);
    ASSERT_NE(s.data, nullptr);
    EXPECT_EQ(s.length, 0u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(s.data[i], 0);  // (10 + 8) & ~7 = 16 bytes
    XUTIL_FreeString(s);
    XUTIL_FreeString(XString{0, nullptr});
}

TEST(XString, FormattedCopies) {
    XString s = XUTIL_AllocFormatedString("%s-%d", "cpu", 42);
    ASSERT_NE(s.data, nullptr);
    EXPECT_EQ(s.length, 6u);
    EXPECT_STREQ(s.data, "cpu-42");
    XUTIL_FreeString(s);
}

TEST(XString, StaticStringsRotateThroughEightBuffers) {
    XString first = XUTIL_GetStaticString();
    std::vector<char*> seen{first.data};
    for (int i = 0; i < 7; ++i) seen.push_back(XUTIL_GetStaticStringEx(0).data);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());  // eight distinct buffers
    EXPECT_EQ(XUTIL_GetStaticFormatedString("x").data, first.data);  // the ninth
}

TEST(XString, StaticFormattingClearsAsAsked) {
    XString a = XUTIL_GetStaticFormatedString("%s", std::string(100, 'z').c_str());
    for (int i = 0; i < 7; ++i) XUTIL_GetStaticStringEx(0);
    XString b = XUTIL_GetStaticFormatedStringEx(10, "ab");
    ASSERT_EQ(b.data, a.data);
    EXPECT_EQ(b.length, 2u);
    EXPECT_STREQ(b.data, "ab");
    EXPECT_EQ(b.data[10], 'z');  // beyond the cleared part, the old text stays
    for (int i = 0; i < 7; ++i) XUTIL_GetStaticStringEx(0);
    XString c = XUTIL_GetStaticFormatedString("ab");
    ASSERT_EQ(c.data, a.data);
    EXPECT_EQ(c.data[10], 0);
    for (int i = 0; i < 7; ++i) XUTIL_GetStaticStringEx(0);
    XString d = XUTIL_GetStaticStringEx(100000);  // a clear length past the buffer is capped
    EXPECT_EQ(d.data[0], 0);
}

TEST(XString, FormattingPastTheBufferTruncates) {
    struct Case {
        size_t length;
        uint32_t expected;
    };
    for (Case c : {Case{4095, 4095}, Case{4096, 4095}, Case{10000, 4095}, Case{0, 0}}) {
        const std::string text(c.length, 'q');
        XString st = XUTIL_GetStaticFormatedString("%s", text.c_str());
        EXPECT_EQ(st.length, c.expected) << c.length;
        EXPECT_EQ(std::strlen(st.data), c.expected);
        XString al = XUTIL_AllocFormatedString("%s", text.c_str());
        ASSERT_NE(al.data, nullptr);
        EXPECT_EQ(al.length, c.expected);
        EXPECT_EQ(std::strlen(al.data), c.expected);
        XUTIL_FreeString(al);
    }
}

TEST(XString, MakeStringWraps) {
    const char text[] = "abcdef";
    XString s = XUTIL_MakeString(text, 3);
    EXPECT_EQ(s.data, text);
    EXPECT_EQ(s.length, 3u);
}

TEST(XRand, SeededSequenceRepeatsAndStaysInRange) {
    XUTIL_InitRandomNumber();
    std::vector<int32_t> first;
    for (int i = 0; i < 50; ++i) first.push_back(XUTIL_Rand(-3, 3));
    XUTIL_InitRandomNumber();
    bool sawLow = false;
    bool sawHigh = false;
    for (int i = 0; i < 50; ++i) {
        const int32_t v = XUTIL_Rand(-3, 3);
        EXPECT_EQ(v, first[static_cast<size_t>(i)]);
        EXPECT_GE(v, -3);
        EXPECT_LE(v, 3);
        sawLow |= v == -3;
        sawHigh |= v == 3;
    }
    EXPECT_TRUE(sawLow);
    EXPECT_TRUE(sawHigh);
    EXPECT_EQ(XUTIL_Rand(5, 5), 5);
    const double u = XUTIL_UniformRand();
    EXPECT_GE(u, 0.0);
    EXPECT_LE(u, 1.0);
}

}  // namespace
