// Surfaces, the format table and the 2D engine: construction and layout, the engine's error
// codes, the states and rectangle words each operation emits (decoded from the stream the
// simulator executed), and clears and copies that change exactly the clipped rectangle.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "command_stream.h"
#include "gal/engine_state.h"
#include "gal/gal_internal.h"
#include "gal_brush.h"
#include "gal_states.h"
#include "gal_surface.h"
#include "gpu_sim_fixture.h"

namespace {

using veld::gpusim::Command;
using veld::gpusim::DecodeError;
using veld::gpusim::Op;
using veld::test::GpuSimulator;

class Engine2D : public veld::test::GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        ASSERT_EQ(gcoHAL_Get2DEngine(nullptr, &engine_), gcvSTATUS_OK);
        // Settings persist in the thread's engine: every test starts from plain ones.
        ASSERT_EQ(gco2D_SetCurrentSourceIndex(engine_, 0), gcvSTATUS_OK);
        gco2D_SetClipping(engine_, nullptr);
        gco2D_SetBitBlitMirror(engine_, 0, 0);
        gco2D_SetTransparencyAdvanced(engine_, 0, 0, 0);
        gco2D_SetStretchFactors(engine_, 0x10000, 0x10000);
    }

    // Commits with a stall and decodes the stream the simulator executed.
    std::vector<Command> commitAndDecode() {
        words_ = veld::test::commitAndCaptureStream();
        std::vector<Command> commands;
        DecodeError error;
        EXPECT_TRUE(veld::gpusim::decodeStream(words_, commands, error)) << error.reason;
        return commands;
    }

    // The last value loaded into each state.
    static std::map<uint32_t, uint32_t> states(const std::vector<Command>& commands) {
        std::map<uint32_t, uint32_t> out;
        for (const Command& c : commands)
            if (c.op == Op::Load)
                for (uint32_t k = 0; k < c.count; ++k) out[c.address() + 4 * k] = c.data[k];
        return out;
    }

    static std::vector<const Command*> draws(const std::vector<Command>& commands) {
        std::vector<const Command*> out;
        for (const Command& c : commands)
            if (c.op == Op::Draw) out.push_back(&c);
        return out;
    }

    gco2D engine_ = nullptr;
    std::vector<uint32_t> words_;
};

// A surface of video memory filled with a pattern that tells every pixel apart.
struct Surface {
    gcoSURF surface = nullptr;
    uint32_t address = 0;
    uint32_t* pixels = nullptr;
    uint32_t width = 0, height = 0;
    int32_t stride = 0;
    Surface(uint32_t w, uint32_t h, uint32_t format = 212, uint32_t seed = 0x11000000u) {
        EXPECT_EQ(gcoSURF_Construct(nullptr, w, h, 1, 6, format, 1, &surface), gcvSTATUS_OK);
        void* memory[3] = {};
        uint32_t addresses[3] = {};
        EXPECT_EQ(gcoSURF_Lock(surface, addresses, memory), gcvSTATUS_OK);
        address = addresses[0];
        pixels = static_cast<uint32_t*>(memory[0]);
        gcoSURF_GetAlignedSize(surface, &width, &height, &stride);
        if (format == 212)
            for (uint32_t i = 0; i < width * height; ++i) pixels[i] = seed + i;
    }
    ~Surface() {
        gcoSURF_Unlock(surface, nullptr);
        gcoSURF_Destroy(surface);
    }
    uint32_t at(uint32_t x, uint32_t y) const { return pixels[y * (uint32_t(stride) / 4) + x]; }
};

TEST(FormatTable, LooksUpCodesNamesAndMasks) {
    gcsSURF_FORMAT_INFO* info = nullptr;
    EXPECT_EQ(gcoSURF_QueryFormat(1700, &info), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gcoSURF_QueryFormat(226, &info), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gcoSURF_QueryFormat(103, &info), gcvSTATUS_NOT_SUPPORTED);
    ASSERT_EQ(gcoSURF_QueryFormat(212, &info), gcvSTATUS_OK);
    EXPECT_STREQ(info->formatName, "A8R8G8B8");
    EXPECT_EQ(info->bitsPerPixel, 32u);
    EXPECT_EQ(info->components[0], 24u | 8u << 8 | 16u << 16 | 8u << 24);
    struct Case {
        uint32_t code;
        const char* name;
        uint32_t formatClass, bits, mask;
    } cases[] = {
        {209, "R5G6B5", 4500, 16, 0xFFFF},    {211, "X8R8G8B8", 4500, 32, 0xFFFFFF},
        {102, "INDEX8", 4502, 8, 0xFF},       {504, "NV12", 4501, 12, 0xFFF},
        {1115, "RG16", 4500, 16, 0},          {1599, nullptr, 0, 0, 0},
        {1527, nullptr, 0, 0, 0},             {1613, "ASTC12x12", 4506, 0, 0},
        {1237, "B10G11R11F_1_A8R8G8B8", 4500, 32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        if (!c.name) continue;
        ASSERT_EQ(gcoSURF_QueryFormat(c.code, &info), gcvSTATUS_OK);
        EXPECT_STREQ(info->formatName, c.name);
        EXPECT_EQ(info->formatClass, c.formatClass);
        if (c.bits) {
            EXPECT_EQ(info->bitsPerPixel, c.bits);
        }
        uint32_t mask = 0;
        if (c.mask) {
            ASSERT_EQ(gcoSURF_ComputeColorMask(info, &mask), gcvSTATUS_OK);
            EXPECT_EQ(mask, c.mask);
        }
    }
    ASSERT_EQ(gcoSURF_QueryFormat(1583, &info), gcvSTATUS_OK);
    EXPECT_STREQ(info->formatName, "B32G32R32UI_3_A8R8G8B8");
    EXPECT_EQ(gcoSURF_QueryFormat(1584, &info), gcvSTATUS_NOT_SUPPORTED);
}

TEST(ColourKeys, RepackIntoArgbLanesWithoutScaling) {
    uint32_t out = 0;
    struct Case {
        uint32_t format, key, argb;
    } cases[] = {
        {209, 0xFFFF, 0xFF1F3F1F},       {209, 0x8410, 0xFF102010},
        {212, 0x12345678, 0x12345678},   {213, 0x12345678, 0x78123456},
        {701, 0x80, 0x80000000},         {102, 0x1234, 0x1234},
        {207, 0x8001, 0x01000001},       {306, 0x11223344, 0x11443322},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(gcoHARDWARE_ColorPackToARGB8(c.format, c.key, &out), gcvSTATUS_OK) << c.format;
        EXPECT_EQ(out, c.argb) << c.format;
    }
    EXPECT_EQ(gcoHARDWARE_ColorPackToARGB8(210, 0, &out), gcvSTATUS_NOT_SUPPORTED);
}

TEST(Rectangles, RotateAndRelativeRotation) {
    gcsRECT r{10, 20, 30, 25};
    ASSERT_EQ(gcsRECT_Rotate(&r, 1, 0, 100, 50), gcvSTATUS_OK);
    EXPECT_EQ(r.left, 75);
    EXPECT_EQ(r.top, 10);
    EXPECT_EQ(r.right, 80);
    EXPECT_EQ(r.bottom, 30);
    r = {10, 20, 30, 25};
    ASSERT_EQ(gcsRECT_Rotate(&r, 2, 0, 100, 50), gcvSTATUS_OK);
    EXPECT_EQ(r.left, 70);
    EXPECT_EQ(r.top, 25);
    r = {10, 10, 10, 20};
    EXPECT_EQ(gcsRECT_Rotate(&r, 1, 0, 100, 50), gcvSTATUS_INVALID_ARGUMENT);
    uint32_t rotation = 1;
    ASSERT_EQ(gcsRECT_RelativeRotation(3, &rotation), gcvSTATUS_OK);
    EXPECT_EQ(rotation, 2u);
    rotation = 4;
    ASSERT_EQ(gcsRECT_RelativeRotation(1, &rotation), gcvSTATUS_OK);
    EXPECT_EQ(rotation, 3u);
    rotation = 7;
    EXPECT_EQ(gcsRECT_RelativeRotation(0, &rotation), gcvSTATUS_NOT_SUPPORTED);
}

TEST_F(Engine2D, SurfacesAlignLayOutPlanesAndCountReferences) {
    gcoSURF s = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 100, 10, 1, 6, 212, 1, &s), gcvSTATUS_OK);
    uint32_t w = 0, h = 0;
    int32_t stride = 0;
    ASSERT_EQ(gcoSURF_GetAlignedSize(s, &w, &h, &stride), gcvSTATUS_OK);
    EXPECT_EQ(w, 112u);
    EXPECT_EQ(h, 12u);
    EXPECT_EQ(stride, 448);
    ASSERT_EQ(gcoSURF_ReferenceSurface(s), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Destroy(s), gcvSTATUS_OK);
    uint32_t count = 0;
    ASSERT_EQ(gcoSURF_QueryReferenceCount(s, &count), gcvSTATUS_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(gcoSURF_Unlock(s, nullptr), gcvSTATUS_MEMORY_UNLOCKED);  // never below zero
    ASSERT_EQ(gcoSURF_Destroy(s), gcvSTATUS_OK);

    // User memory: NV12 of 64 x 32 has its chroma plane at 2048 and 3072 bytes in all.
    gcoSURF nv12 = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 64, 32, 1, 6, 504, GAL_POOL_USER, &nv12), gcvSTATUS_OK);
    uint32_t addresses[3] = {};
    EXPECT_EQ(gcoSURF_Lock(nv12, addresses, nullptr), gcvSTATUS_MEMORY_UNLOCKED);
    std::vector<uint8_t> memory(3072 + 64);
    ASSERT_EQ(gcoSURF_WrapSurface(nv12, 0, memory.data(), 0x01000000u), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Lock(nv12, addresses, nullptr), gcvSTATUS_OK);
    EXPECT_EQ(addresses[1] - addresses[0], 2048u);
    EXPECT_EQ(gcoSURF_WrapSurface(nv12, 0, memory.data() + 1, 0x01000000u), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoSURF_WrapSurface(nv12, 0, memory.data(), 0x01000000u), gcvSTATUS_OK);
    uint32_t node = 0, pool = 0, bytes = 0;
    gcoSURF_QueryVidMemNode(nv12, &node, &pool, &bytes);
    EXPECT_EQ(pool, uint32_t(GAL_POOL_USER));
    gcoSURF_Unlock(nv12, nullptr);
    gcoSURF_Destroy(nv12);

    // YV12 chroma planes start on 64-byte boundaries; sizes that overflow 32 bits are refused.
    gcoSURF yv12 = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 48, 10, 1, 6, 502, GAL_POOL_USER, &yv12), gcvSTATUS_OK);
    std::vector<uint8_t> yuv(4096);
    ASSERT_EQ(gcoSURF_WrapSurface(yv12, 0, yuv.data(), 0x02000000u), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Lock(yv12, addresses, nullptr), gcvSTATUS_OK);
    EXPECT_EQ(addresses[1] % 64, 0u);
    EXPECT_EQ(addresses[2] % 64, 0u);
    gcoSURF_Unlock(yv12, nullptr);
    gcoSURF_Destroy(yv12);
    gcoSURF big = nullptr;
    EXPECT_EQ(gcoSURF_Construct(nullptr, 40000, 40000, 1, 6, 212, 1, &big), gcvSTATUS_OUT_OF_MEMORY);
    EXPECT_EQ(gcoSURF_Construct(nullptr, 4, 4, 1, 6, 1700, 1, &big), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gcoSURF_Clear2D(reinterpret_cast<gcoSURF>(memory.data()), 1, nullptr, 0),
              gcvSTATUS_INVALID_OBJECT);
}

TEST_F(Engine2D, UserSurfacesMapOnceAndUnmapAfterTheirCommands) {
    const uint64_t faults = GpuSimulator::counter("faults");
    gcoSURF s = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 30, 8, 1, 6, 212, GAL_POOL_USER, &s), gcvSTATUS_OK);
    uint32_t w = 0, h = 0;
    int32_t stride = 0;
    std::vector<uint32_t> memory(64 * 8);
    ASSERT_EQ(gcoSURF_MapUserSurface(s, 64, memory.data(), 0xFFFFFFFFu), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_GetAlignedSize(s, &w, &h, &stride), gcvSTATUS_OK);
    EXPECT_EQ(stride, 128);  // the stride rounded up to the alignment, in bytes
    uint32_t addresses[3] = {};
    void* logical[3] = {};
    ASSERT_EQ(gcoSURF_Lock(s, addresses, logical), gcvSTATUS_OK);
    EXPECT_EQ(logical[0], memory.data());
    EXPECT_NE(addresses[0], 0u);
    EXPECT_EQ(gcoSURF_MapUserSurface(s, 64, memory.data() + 8, 0xFFFFFFFFu), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoSURF_MapUserSurface(s, 64, memory.data(), 0xFFFFFFFFu), gcvSTATUS_OK);
    gcoSURF_Unlock(s, nullptr);
    ASSERT_EQ(gcoSURF_Destroy(s), gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);  // the unmap runs as an event
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
    gcoSURF kernel = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 16, 4, 1, 6, 212, 1, &kernel), gcvSTATUS_OK);
    EXPECT_EQ(gcoSURF_MapUserSurface(kernel, 0, memory.data(), 0xFFFFFFFFu), gcvSTATUS_NOT_SUPPORTED);
    gcoSURF_Destroy(kernel);
}

// User memory at the 64-byte alignment the 2D engine's strict rules ask of surface addresses
// (the allocator guarantees only 8 bytes on the device).
class UserPixels {
public:
    UserPixels(size_t count, uint32_t fill) : storage_(count + 16, fill), count_(count) {}
    uint32_t* data() {
        return reinterpret_cast<uint32_t*>((reinterpret_cast<uintptr_t>(storage_.data()) + 63) & ~uintptr_t(63));
    }
    uint32_t& operator[](size_t i) { return data()[i]; }
    std::vector<uint32_t> copy() { return std::vector<uint32_t>(data(), data() + count_); }

private:
    std::vector<uint32_t> storage_;
    size_t count_;
};

// The 2D core reaches user memory through its mapping: a clear lands in the caller's buffer,
// and a blit reads one user buffer into another, scaled and in another rectangle.
TEST_F(Engine2D, TheCoreDrawsIntoAndReadsFromUserMemory) {
    const uint64_t faults = GpuSimulator::counter("faults");
    UserPixels source(16 * 8, 0), target(32 * 8, 0x11111111u);
    for (size_t i = 0; i < 16 * 8; ++i) source[i] = 0xFF000000u | uint32_t(i * 0x010203u);
    gcoSURF from = nullptr, to = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 16, 8, 1, 6, 212, GAL_POOL_USER, &from), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Construct(nullptr, 32, 8, 1, 6, 212, GAL_POOL_USER, &to), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_MapUserSurface(from, 64, source.data(), 0xFFFFFFFFu), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_MapUserSurface(to, 64, target.data(), 0xFFFFFFFFu), gcvSTATUS_OK);

    const gcsRECT left{0, 0, 16, 8}, right{16, 0, 32, 8};
    ASSERT_EQ(gcoSURF_Clear2D(to, 1, &left, 0xFF336699u), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Blit(from, to, 1, &left, &right, nullptr, 0xCC, 0xCC, 0, 0, nullptr, 0),
              gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint32_t want = x < 16 ? 0xFF336699u : source[size_t(y) * 16 + size_t(x - 16)];
            ASSERT_EQ(target[size_t(y) * 32 + size_t(x)], want) << "at " << x << ", " << y;
        }
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);

    // A rectangle beyond the mapped buffer is a fault and leaves the buffer as it was.
    const std::vector<uint32_t> before = target.copy();
    const gcsRECT beyond{0, 0, 32, 8};
    ASSERT_EQ(gcoSURF_Blit(from, to, 1, &beyond, &beyond, nullptr, 0xCC, 0xCC, 0, 0, nullptr, 0),
              gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults + 1);
    EXPECT_EQ(target.copy(), before);
    gcoSURF_Destroy(from);
    gcoSURF_Destroy(to);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
}

// The surface-level line and monochrome blit draw into the surface itself, in its format.
TEST_F(Engine2D, SurfaceLinesAndMonochromeBlitsDrawIntoTheSurface) {
    UserPixels pixels(16 * 4, 0xFF000000u);
    gcoSURF s = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 16, 4, 1, 6, 212, GAL_POOL_USER, &s), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_MapUserSurface(s, 64, pixels.data(), 0xFFFFFFFFu), gcvSTATUS_OK);
    gcoBRUSH red = nullptr;
    ASSERT_EQ(gcoBRUSH_ConstructSingleColor(nullptr, 1, 0xFFFF0000u, 0, &red), gcvSTATUS_OK);
    const gcsRECT line{0, 0, 16, 0};  // the top row
    ASSERT_EQ(gcoSURF_Line(s, 1, &line, red, 0xF0, 0xF0), gcvSTATUS_OK);
    const uint8_t stream[2] = {0xA5, 0x3C};
    const gcsPOINT size{8, 2};
    const gcsRECT streamRect{0, 0, 8, 2}, dest{4, 2, 12, 4};
    ASSERT_EQ(gcoSURF_MonoBlit(s, stream, &size, &streamRect, 0, 0, &dest, 0xFFFFFFFFu,
                               0xFF0000FFu, 0xCC, 0xCC),
              gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(pixels[size_t(x)], 0xFFFF0000u) << x;
    EXPECT_EQ(pixels[16], 0xFF000000u) << "the line is one row high";
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool set = (stream[y] >> (7 - x)) & 1;  // the most significant bit first
            EXPECT_EQ(pixels[size_t(2 + y) * 16 + size_t(4 + x)], set ? 0xFFFFFFFFu : 0xFF0000FFu)
                << x << ", " << y;
        }
    EXPECT_EQ(gcoSURF_Line(nullptr, 1, &line, red, 0xF0, 0xF0), gcvSTATUS_INVALID_OBJECT);
    gcoBRUSH_Destroy(red);
    gcoSURF_Destroy(s);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
}

// Destroying a surface whose clear has not run yet: the memory stays until the commands that
// use it have run, then goes back to the kernel.
TEST_F(Engine2D, DestroyReleasesMemoryOnlyAfterItsCommandsRan) {
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    const uint64_t faults = GpuSimulator::counter("faults");
    const uint64_t nodes = GpuSimulator::counter("nodes");
    gcoSURF s = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 64, 64, 1, 6, 212, 1, &s), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("nodes"), nodes + 1);
    ASSERT_EQ(gcoSURF_Clear2D(s, 1, nullptr, 0xFF000000u), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Destroy(s), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("nodes"), nodes + 1);
    const auto commands = commitAndDecode();
    EXPECT_EQ(draws(commands).size(), 1u);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
    EXPECT_EQ(GpuSimulator::counter("nodes"), nodes);
}

TEST_F(Engine2D, NodesLockCountAndSharedSettingsTravel) {
    // Releases queued by earlier tests go first, so that the count below is this test's own.
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    const uint64_t nodes = GpuSimulator::counter("nodes");
    gcsSURF_NODE node{};
    ASSERT_EQ(gcsSURF_NODE_Construct(&node, 4096, 64, 6, 0, 1), gcvSTATUS_OK);
    EXPECT_EQ(node.physical, 0xFFFFFFFFu);
    uint32_t address = 0;
    void* memory = nullptr;
    ASSERT_EQ(gcoSURF_LockNode(&node, &address, &memory), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_LockNode(&node, nullptr, nullptr), gcvSTATUS_OK);
    EXPECT_NE(memory, nullptr);
    EXPECT_EQ(address % 64, 0u);
    EXPECT_EQ(gcoSURF_UnLockNode(&node, 6), gcvSTATUS_OK);
    EXPECT_EQ(gcoSURF_UnLockNode(&node, 6), gcvSTATUS_OK);
    EXPECT_EQ(gcoSURF_UnLockNode(&node, 6), gcvSTATUS_MEMORY_UNLOCKED);
    EXPECT_EQ(gcoSURF_NODE_CPUCacheOperation(&node, 6, 0, 64, 4), gcvSTATUS_INVALID_ARGUMENT);
    ASSERT_EQ(gcoHARDWARE_ScheduleVideoMemory(&node), gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("nodes"), nodes);
    gcsSURF_NODE user{};
    user.pool = GAL_POOL_USER;
    EXPECT_EQ(gcoHARDWARE_ScheduleVideoMemory(&user), gcvSTATUS_OK);

    // A surface's settings through a shared buffer into another surface.
    gcoSURF a = nullptr, b = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 16, 4, 1, 6, 212, 1, &a), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_Construct(nullptr, 16, 4, 1, 6, 212, 1, &b), gcvSTATUS_OK);
    uint64_t id = 0;
    ASSERT_EQ(gcoSURF_AllocShBuffer(a, &id), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_BindShBuffer(b, id), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_PopSharedInfo(b), gcvSTATUS_OK);  // nothing pushed: unchanged
    ASSERT_EQ(gcoSURF_SetOrientation(a, 1), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_SetColorSpace(a, 3), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_PushSharedInfo(a), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_PopSharedInfo(b), gcvSTATUS_OK);
    uint32_t value = 0;
    ASSERT_EQ(gcoSURF_QueryOrientation(b, &value), gcvSTATUS_OK);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(gcoSURF_GetColorSpace(b, &value), gcvSTATUS_OK);
    EXPECT_EQ(value, 3u);
    gcoSURF_Destroy(b);
    gcoSURF_Destroy(a);

    // A user surface takes a new size before it is mapped.
    gcoSURF u = nullptr;
    ASSERT_EQ(gcoSURF_Construct(nullptr, 8, 8, 1, 6, 212, GAL_POOL_USER, &u), gcvSTATUS_OK);
    ASSERT_EQ(gcoSURF_ResetSurWH(u, 20, 10, 32, 10, 209), gcvSTATUS_OK);
    uint32_t w = 0, h = 0;
    int32_t stride = 0;
    ASSERT_EQ(gcoSURF_GetAlignedSize(u, &w, &h, &stride), gcvSTATUS_OK);
    EXPECT_EQ(stride, 64);
    EXPECT_EQ(gcoSURF_ResetSurWH(u, 20, 10, 16, 10, 209), gcvSTATUS_INVALID_ARGUMENT);
    gcoSURF_Destroy(u);
}

TEST_F(Engine2D, SettersRefuseWhatTheRulesRefuse) {
    gco2D e = engine_;
    EXPECT_EQ(gco2D_SetCurrentSourceIndex(e, 8), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetKernelSize(e, 9, 1), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_SetKernelSize(e, 8, 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetKernelSize(e, 11, 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetFilterType(e, 3), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetPorterDuffBlending(e, 12), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetSourceColorKeyRangeAdvanced(e, 5, 4), gcvSTATUS_INVALID_ARGUMENT);
    const uint32_t key = 0;
    // Strict alignment (no relaxed-alignment feature): 16-byte addresses and strides.
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1001, 64, 209, 0, 16, 16, 0, 0, key), gcvSTATUS_NOT_ALIGNED);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1008, 64, 212, 0, 16, 16, 0, 0, key), gcvSTATUS_NOT_ALIGNED);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 64, 210, 0, 16, 16, 0, 0, key), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 64, 504, 0, 16, 16, 0, 0, key), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 64, 212, 0, 0x10000, 16, 0, 0, key), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 0x40000, 212, 0, 16, 16, 0, 0, key), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 64, 212, 6, 16, 16, 0, 0, key), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 64, 212, 0, 16, 16, 0, 4, key), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetColorSourceEx(e, 0x1000, 64, 212, 0, 16, 16, 0, 1, key), gcvSTATUS_OK);
    const gcsRECT outside{0, 0, 0x10000, 4};
    EXPECT_EQ(gco2D_SetSource(e, &outside), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetSource(e, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    std::vector<uint32_t> palette(256, 0xFF000000u);
    EXPECT_EQ(gco2D_LoadPalette(e, 200, 100, palette.data(), 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_LoadPalette(e, 256, 1, palette.data(), 1), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_LoadPalette(e, 0, 256, palette.data(), 1), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_LoadMonochromeBrush(e, 8, 0, 1, 0, 0, 0, 0), gcvSTATUS_INVALID_ARGUMENT);
    uint32_t bits = 0, count = 0;
    EXPECT_EQ(gco2D_GetPackSize(1, &bits, &count), gcvSTATUS_OK);
    EXPECT_EQ(bits * 100 + count, 1602u);
    EXPECT_EQ(gco2D_GetPackSize(4, &bits, &count), gcvSTATUS_NOT_SUPPORTED);
    uint32_t factor = 0;
    EXPECT_EQ(gco2D_CalcStretchFactor(e, 100, 50, &factor), gcvSTATUS_OK);
    EXPECT_EQ(factor, 0x20539u);
    EXPECT_EQ(gco2D_CalcStretchFactor(e, 0, 50, &factor), gcvSTATUS_NOT_SUPPORTED);
}

TEST_F(Engine2D, StateKeysTablesAndBlendingFollowTheirRules) {
    gco2D e = engine_;
    std::vector<int32_t> coefficients(12, 100);
    coefficients[8] = 32768;
    EXPECT_EQ(gco2D_SetStateArrayI32(e, 0x10003, coefficients.data(), 12), gcvSTATUS_INVALID_DATA);
    EXPECT_EQ(e->coefficients[0][0], 0);  // nothing stored
    coefficients[8] = 32767;
    coefficients[11] = -0x1000000;
    EXPECT_EQ(gco2D_SetStateArrayI32(e, 0x10003, coefficients.data(), 12), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_SetStateArrayI32(e, 0x10003, coefficients.data(), 11), gcvSTATUS_INVALID_ARGUMENT);
    std::vector<uint32_t> table(256, 7);
    EXPECT_EQ(gco2D_SetStateArrayU32(e, 0x10002, table.data(), 256), gcvSTATUS_OK);
    EXPECT_EQ(gco2D_SetStateArrayU32(e, 0x10005, table.data(), 256), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetStateU32(e, 6, 1), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetStateU32(e, 2, 4), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetStateU32(e, 8, 0), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetTargetRect(e, nullptr), gcvSTATUS_NOT_SUPPORTED);  // no feature 118
    EXPECT_EQ(gco2D_SetSourceTileStatus(e, 8, 212, 0, 0), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_SetTargetTileStatus(e, 4, 212, 0, 0), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_SetSourceTileStatus(e, 0, 0, 0, 0), gcvSTATUS_OK);
    // Porter-Duff rule 2 (SrcOver): source factor one, target factor inverse alpha.
    Surface target(32, 8);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetPorterDuffBlending(e, 2), gcvSTATUS_OK);
    const gcsRECT r{0, 0, 4, 4};
    ASSERT_EQ(gco2D_Clear(e, 1, &r, 0, 0xCC, 0xCC, 212), gcvSTATUS_OK);
    const auto values = states(commitAndDecode());
    EXPECT_EQ(values.at(GAL_STATE_ALPHA_CONTROL) & 1, 1u);
    EXPECT_EQ(values.at(GAL_STATE_ALPHA_MODES) >> 8 & 7, 1u);
    EXPECT_EQ(values.at(GAL_STATE_ALPHA_MODES) >> 12 & 7, 3u);
    ASSERT_EQ(gco2D_DisableAlphaBlend(e), gcvSTATUS_OK);
    // A source colour mode of 1 with a source alpha mode is refused on chips with feature 14.
    EXPECT_EQ(gco2D_EnableAlphaBlend(e, 0xFF, 0xFF, 1, 0, 0, 0, 1, 3, 1, 0), gcvSTATUS_NOT_SUPPORTED);
}

TEST_F(Engine2D, BadRectanglesAndFormatsAreRefusedBeforeAnyWord) {
    Surface target(32, 16);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    const uint64_t drawn = GpuSimulator::counter("draws");
    const gcsRECT bad[] = {{4, 4, 4, 8}, {-1, 0, 4, 4}, {0, 0, 0x10000, 4}, {5, 5, 2, 9}};
    for (const gcsRECT& r : bad) {
        EXPECT_EQ(gco2D_Clear(engine_, 1, &r, 0, 0xCC, 0xCC, 212), gcvSTATUS_INVALID_ARGUMENT);
        EXPECT_EQ(gco2D_Blit(engine_, 1, &r, 0xCC, 0xCC, 212), gcvSTATUS_INVALID_ARGUMENT);
    }
    const gcsRECT good{0, 0, 4, 4};
    EXPECT_EQ(gco2D_Blit(engine_, 0, &good, 0xCC, 0xCC, 212), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_Blit(engine_, 1, &good, 0xCC, 0xCC, 0), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gco2D_Clear(engine_, 1, &good, 0, 0xCC, 0xCC, 502), gcvSTATUS_NOT_SUPPORTED);
    EXPECT_EQ(gco2D_StretchBlit(engine_, 1, &good, 0xCC, 0xCC, 500), gcvSTATUS_INVALID_ARGUMENT);
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("draws"), drawn);
}

TEST_F(Engine2D, ClearThroughTheSurfaceChangesExactlyTheClippedRectangle) {
    Surface guard(64, 8), target(64, 48), after(64, 8);
    const uint64_t faults = GpuSimulator::counter("faults");
    const gcsRECT clip{5, 7, 40, 30};
    ASSERT_EQ(gco2D_SetClipping(engine_, &clip), gcvSTATUS_OK);
    const gcsRECT rect{0, 2, 60, 45};
    ASSERT_EQ(gcoSURF_Clear2D(target.surface, 1, &rect, 0xFF336699u), gcvSTATUS_OK);
    const auto commands = commitAndDecode();
    for (uint32_t y = 0; y < target.height; ++y)
        for (uint32_t x = 0; x < target.width; ++x) {
            const bool inside = x >= 5 && x < 40 && y >= 7 && y < 30;
            ASSERT_EQ(target.at(x, y), inside ? 0xFF336699u : 0x11000000u + y * target.width + x)
                << x << ", " << y;
        }
    for (const Surface* s : {&guard, &after})
        for (uint32_t i = 0; i < s->width * s->height; ++i) ASSERT_EQ(s->pixels[i], 0x11000000u + i);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
    const auto values = states(commands);
    // The surface's own format and ROP 0xCC.
    EXPECT_EQ(values.at(GAL_STATE_TARGET_CONFIG) & 0x1F, GAL_HW_FORMAT_A8R8G8B8);
    EXPECT_EQ(values.at(GAL_STATE_ROP), 0x30CCCCu);
    EXPECT_EQ(values.at(GAL_STATE_CLEAR_COLOR), 0xFF336699u);

    // The default clip never reaches past the target.
    gco2D_SetClipping(engine_, nullptr);
    const gcsRECT all{0, 0, 200, 100};
    ASSERT_EQ(gcoSURF_Clear2D(target.surface, 1, &all, 0x01020304u), gcvSTATUS_OK);
    commitAndDecode();
    EXPECT_EQ(target.at(63, 47), 0x01020304u);
    for (const Surface* s : {&guard, &after})
        for (uint32_t i = 0; i < s->width * s->height; ++i) ASSERT_EQ(s->pixels[i], 0x11000000u + i);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(Engine2D, BlitCopiesEachRectangleFromItsOwnSourcePosition) {
    Surface source(64, 32, 212, 0x22000000u), target(64, 32);
    const uint64_t faults = GpuSimulator::counter("faults");
    const gcsRECT sources[] = {{0, 0, 8, 4}, {20, 10, 28, 14}};
    const gcsRECT dests[] = {{2, 2, 10, 6}, {40, 20, 48, 24}};
    ASSERT_EQ(gcoSURF_Blit(source.surface, target.surface, 2, sources, dests, nullptr, 0xCC, 0xCC,
                           0, 0, nullptr, 0),
              gcvSTATUS_OK);
    const auto commands = commitAndDecode();
    for (int i = 0; i < 2; ++i)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(target.at(uint32_t(dests[i].left + x), uint32_t(dests[i].top + y)),
                          source.at(uint32_t(sources[i].left + x), uint32_t(sources[i].top + y)))
                    << i << ": " << x << ", " << y;
    EXPECT_EQ(target.at(1, 1), 0x11000000u + 1 * target.width + 1);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
    const auto d = draws(commands);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[1]->data[0], 40u | 20u << 16);
    EXPECT_EQ(d[1]->data[1], 48u | 24u << 16);
    // Per rectangle with a source rectangle: the source load, the draw and three dummy loads,
    // 14 words on a chip without the per-rectangle stall.
    const size_t drawAt = size_t(d[1]->offset / 4);
    EXPECT_EQ(words_[drawAt - 4], 0x08020000u | (GAL_STATE_SOURCE_ORIGIN >> 2));
    EXPECT_EQ(words_[drawAt - 3], 20u | 10u << 16);
    EXPECT_EQ(words_[drawAt - 2], 8u | 4u << 16);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(words_[drawAt + 4 + 2 * k], 0x08010000u | (GAL_STATE_DUMMY >> 2));
}

TEST_F(Engine2D, OperationsProgramTheirStates) {
    Surface source(32, 32, 209), target(64, 32);
    ASSERT_EQ(gcoSURF_Set2DTarget(target.surface, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetColorSourceEx(engine_, source.address, uint32_t(source.stride), 209, 0, 32,
                                     32, 0, 1, 0xF800),
              gcvSTATUS_OK);
    const gcsRECT src{0, 0, 100, 20};
    const gcsRECT dst{0, 0, 50, 10};
    ASSERT_EQ(gco2D_SetSource(engine_, &src), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetStretchRectFactors(engine_, &src, &dst), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetBitBlitMirror(engine_, 1, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_LoadSolidBrush(engine_, 212, 1, 0xFF00FF00u, 0), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_StretchBlit(engine_, 1, &dst, 0xE2, 0xE2, 212), gcvSTATUS_OK);
    const auto values = states(commitAndDecode());
    EXPECT_EQ(values.at(GAL_STATE_STRETCH_H), 0x20539u);
    EXPECT_EQ(values.at(GAL_STATE_STRETCH_V), (19u << 16) / 9);
    EXPECT_EQ(values.at(GAL_STATE_ROP), 0x30E2E2u);
    EXPECT_EQ(values.at(GAL_STATE_MIRROR), 17u);
    EXPECT_EQ(values.at(GAL_STATE_PATTERN_COLOR), 0xFF00FF00u);
    EXPECT_EQ(values.at(GAL_STATE_TRANSPARENCY), 1u);
    EXPECT_EQ(values.at(GAL_STATE_SOURCE_KEY_LOW), 0xFF1F0000u);
    EXPECT_EQ(GAL_SOURCE_CONFIG_FORMAT(values.at(GAL_STATE_SOURCE_CONFIG)), GAL_HW_FORMAT_R5G6B5);
    EXPECT_EQ(values.at(GAL_STATE_TARGET_CONFIG) >> 12 & 0xF, GAL_HW_STRETCH);
    EXPECT_EQ(values.at(GAL_STATE_SOURCE_ADDRESS), source.address);

    // An INDEX8 source carries its palette; a monochrome blit its stream inline.
    Surface indexed(32, 8, 102);
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | i;
    ASSERT_EQ(gco2D_LoadPalette(engine_, 0, 256, palette.data(), 1), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetColorSourceEx(engine_, indexed.address, uint32_t(indexed.stride), 102, 0,
                                     32, 8, 0, 0, 0),
              gcvSTATUS_OK);
    const gcsRECT small{0, 0, 8, 8};
    ASSERT_EQ(gco2D_SetSource(engine_, &small), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_Blit(engine_, 1, &small, 0xCC, 0xCC, 212), gcvSTATUS_OK);
    ASSERT_EQ(gco2D_SetMonochromeSource(engine_, 1, 0, 0, 0, 0, 0xFFFFFFFFu, 0xFF000000u), gcvSTATUS_OK);
    const uint8_t stream[2] = {0xA5, 0x3C};
    const gcsPOINT size{8, 2};
    const gcsRECT streamRect{0, 0, 8, 2};
    const gcsRECT monoDest{4, 4, 12, 6};
    ASSERT_EQ(gco2D_MonoBlit(engine_, stream, &size, &streamRect, 0, 0, &monoDest, 0xCC, 0xCC, 212),
              gcvSTATUS_OK);
    const auto commands = commitAndDecode();
    const auto loaded = states(commands);
    EXPECT_EQ(loaded.at(GAL_STATE_PALETTE + 4 * 7), 0xFF000007u);
    EXPECT_EQ(GAL_SOURCE_CONFIG_FORMAT(loaded.at(GAL_STATE_SOURCE_CONFIG)), GAL_HW_FORMAT_MONOCHROME);
    EXPECT_EQ(loaded.at(0x121C), 0xFFFFFFFFu);
    const auto d = draws(commands);
    ASSERT_FALSE(d.empty());
    const Command& mono = *d.back();
    EXPECT_EQ(mono.inlineWords(), 1u);  // two rows of one byte each, padded to a word
    EXPECT_EQ(mono.data[2], 0xA5u | 0x3Cu << 8);
}

// An older chip: plain ROPs only, a flush and stall after every rectangle, quarter-turn blits
// in stripes 16 pixels wide, its clear colour state, and the patch at every frame's end.
TEST(OlderChip2D, FramesFollowTheChipsRules) {
    EXPECT_EQ(veld::test::inChild([] {
                  veld::test::TestRoot root;
                  GpuSimulator sim(root, "old");
                  if (!sim.ok()) return 10;
                  gco2D e = nullptr;
                  if (gcoHAL_Get2DEngine(nullptr, &e) != gcvSTATUS_OK) return 11;
                  Surface source(64, 64, 212, 0x22000000u), target(64, 64);
                  if (gcoSURF_Set2DTarget(target.surface, 0) != gcvSTATUS_OK) return 12;
                  // Only 0 and 90 degrees without the any-rotation features.
                  if (gcoSURF_Set2DSource(source.surface, 2) != gcvSTATUS_INVALID_ARGUMENT) return 25;
                  if (gcoSURF_Set2DSource(source.surface, 1) != gcvSTATUS_OK) return 13;
                  const gcsRECT src{0, 0, 40, 8}, dst{4, 4, 44, 12};
                  if (gco2D_SetSource(e, &src) != gcvSTATUS_OK) return 14;
                  if (gco2D_Blit(e, 1, &dst, 0xE2, 0xE2, 212) != gcvSTATUS_NOT_SUPPORTED) return 15;
                  if (gco2D_Blit(e, 1, &dst, 0xCC, 0xCC, 212) != gcvSTATUS_OK) return 16;
                  std::vector<uint32_t> words = veld::test::commitAndCaptureStream();
                  std::vector<Command> commands;
                  DecodeError error;
                  if (!veld::gpusim::decodeStream(words, commands, error)) return 17;
                  std::vector<const Command*> d;
                  for (const Command& c : commands)
                      if (c.op == Op::Draw) d.push_back(&c);
                  if (d.size() < 3) return 18;
                  // Three stripes (16, 16 and 8 pixels), each after its own source origin.
                  const uint32_t lefts[3] = {4, 20, 36}, rights[3] = {20, 36, 44};
                  for (size_t i = 0; i < 3; ++i) {
                      const Command& c = *d[i];
                      if ((c.data[0] & 0xFFFF) != lefts[i] || (c.data[1] & 0xFFFF) != rights[i])
                          return 19;
                      const size_t at = c.offset / 4;
                      if (words[at - 3] != uint32_t(16 * i)) return 20;
                      // Behind each: three dummy loads, then flush, semaphore and stall.
                      if (words[at + 10] != (0x08010000u | (GAL_STATE_FLUSH >> 2)) ||
                          words[at + 14] != GAL_STALL_WORD)
                          return 21;
                  }
                  // A wide quarter-turn blit: 64 stripes, in frames that each fit a 4 KB page
                  // (the simulator keeps the stream of the last submission).
                  Surface tall(1024, 1024, 212, 0x33000000u), wide(1024, 8);
                  if (gcoSURF_Set2DTarget(wide.surface, 0) != gcvSTATUS_OK) return 26;
                  if (gcoSURF_Set2DSource(tall.surface, 1) != gcvSTATUS_OK) return 27;
                  const gcsRECT wideRect{0, 0, 1024, 4};
                  if (gco2D_SetSource(e, &wideRect) != gcvSTATUS_OK) return 28;
                  const uint64_t drawn = GpuSimulator::counter("draws");
                  if (gco2D_Blit(e, 1, &wideRect, 0xCC, 0xCC, 212) != gcvSTATUS_OK) return 29;
                  words = veld::test::commitAndCaptureStream();
                  // Every frame of an older chip also ends with the patch's own 4 x 4 draw.
                  const uint64_t draws = GpuSimulator::counter("draws") - drawn;
                  if (draws < 64 + 2 || draws > 64 + 8) return 30;
                  commands.clear();
                  if (!veld::gpusim::decodeStream(words, commands, error)) return 31;
                  size_t since = 0, largest = 0;
                  for (const Command& c : commands) {
                      if (c.op == Op::Load && c.address() == GAL_STATE_PIPE_SELECT) since = c.offset;
                      if (c.op == Op::Stall) largest = std::max<size_t>(largest, c.offset - since);
                  }
                  if (largest == 0 || largest >= 4096) return 33;
                  // A clear: the older clear-colour state, the pixels, and no fault.
                  const gcsRECT rect{8, 8, 24, 24};
                  if (gcoSURF_Clear2D(target.surface, 1, &rect, 0xFF102030u) != gcvSTATUS_OK) return 22;
                  words = veld::test::commitAndCaptureStream();
                  if (target.at(8, 8) != 0xFF102030u || target.at(23, 23) != 0xFF102030u ||
                      target.at(24, 24) != 0x11000000u + 24 * target.width + 24)
                      return 23;
                  return GpuSimulator::counter("faults") == 0 ? 0 : 24;
              }),
              0);
}

}  // namespace
