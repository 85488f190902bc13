// Command buffers, state loads and the command stream: the words the driver writes, the
// strict decoder, the ring of buffers, and a clear through the driver's own state and commit
// functions executed by the simulated 2D core into video memory.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <vector>

#include "command_stream.h"
#include "gal/gal_internal.h"
#include "gal_dump.h"
#include "gal_states.h"
#include "gpu_sim_fixture.h"

namespace {

using veld::gpusim::Command;
using veld::gpusim::DecodeError;
using veld::gpusim::Op;
using veld::test::GpuSimulator;

class CommandStream : public veld::test::GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        ASSERT_EQ(gcoHAL_GetHardware(nullptr, &hw_), gcvSTATUS_OK);
        ASSERT_NE(hw_->buffer, nullptr);
        faults_ = GpuSimulator::counter("faults");
    }

    // Commits and returns the stream the simulator executed.
    std::vector<uint32_t> commitAndCapture() { return veld::test::commitAndCaptureStream(); }

    void writeWords(std::initializer_list<uint32_t> words) {
        std::vector<uint32_t> v(words);
        ASSERT_EQ(gcoBUFFER_Write(hw_->buffer, v.data(), v.size() * 4, 1), gcvSTATUS_OK);
    }

    gcoHARDWARE hw_ = nullptr;
    uint64_t faults_ = 0;
};

TEST_F(CommandStream, StateLoadsEncodeCountsAndSplits) {
    std::vector<uint32_t> values(1025);
    for (size_t i = 0; i < values.size(); ++i) values[i] = uint32_t(i * 3 + 1);
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, 0x1228, 0xAABBCCDD), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState64(nullptr, 0x1260, 0x00010002, 0x00300040), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState(nullptr, 0x4000, 1024, values.data()), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState(nullptr, 0x8000, 1025, values.data()), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState32x(nullptr, 0x1220, 7), gcvSTATUS_OK);
    const std::vector<uint32_t> w = commitAndCapture();
    ASSERT_GE(w.size(), 8u);
    // One state: command and value, 8 bytes.
    EXPECT_EQ(w[0], 0x08010000u | (0x1228 >> 2));
    EXPECT_EQ(w[1], 0xAABBCCDDu);
    // Two states: command, two values and a zero pad, 16 bytes.
    EXPECT_EQ(w[2], 0x08020000u | (0x1260 >> 2));
    EXPECT_EQ(w[3], 0x00010002u);
    EXPECT_EQ(w[4], 0x00300040u);
    EXPECT_EQ(w[5], 0u);
    // 1024 states: count 0.
    EXPECT_EQ(w[6], 0x08000000u | (0x4000 >> 2));
    size_t at = 6 + 1 + 1024 + 1;
    // 1025 states: 1024, then 1 more.
    EXPECT_EQ(w[at], 0x08000000u | (0x8000 >> 2));
    at += 1 + 1024 + 1;
    EXPECT_EQ(w[at], 0x08010000u | ((0x8000 >> 2) + 1024));
    EXPECT_EQ(w[at + 1], values[1024]);
    at += 2;
    EXPECT_EQ(w[at], 0x0C010000u | (0x1220 >> 2)) << "fixed-point flag";

    std::vector<Command> commands;
    DecodeError error;
    ASSERT_TRUE(veld::gpusim::decodeStream(w, commands, error)) << error.reason;
    ASSERT_EQ(commands.size(), 6u);
    EXPECT_EQ(commands[2].count, 1024u);
    EXPECT_EQ(commands[3].count, 1024u);
    EXPECT_EQ(commands[4].address(), 0x8000u + 4096u);
}

// veldctl gpu decode prints a captured stream with the states' names, and names the offset
// and the reason of a malformed one.
TEST_F(CommandStream, VeldctlDecodesACapturedStream) {
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_TARGET_ADDRESS, 0x40012340u), gcvSTATUS_OK);
    writeWords({GAL_START_DE_WORD, 0, 1 | 2u << 16, 30 | 40u << 16});
    commitAndCapture();
    const std::string stream = veld::seam::path("/tmp/stream.bin");
    auto run = [](const std::string& file, std::string& output) {
        veld::test::Process p;
        const std::string out = veld::seam::path("/tmp/decode.out");
        if (!p.start(veld::test::builtProgram("tools/veldctl"), {"veldctl", "gpu", "decode", file},
                     {}, out))
            return -1;
        const int status = p.wait(std::chrono::seconds(10));
        std::ifstream in(out);
        output.assign(std::istreambuf_iterator<char>(in), {});
        return status;
    };
    std::string output;
    ASSERT_EQ(run(stream, output), 0) << output;
    EXPECT_NE(output.find("0x000000 LOAD 0x01228 target address = 0x40012340\n"), std::string::npos)
        << output;
    EXPECT_NE(output.find("0x000008 DRAW (1, 2) to (30, 40)\n"), std::string::npos) << output;

    const std::string bad = veld::seam::path("/tmp/bad.bin");
    const uint32_t words[4] = {GAL_NOP_WORD, 0, 0x78000000u, 0};
    std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(words), sizeof words);
    EXPECT_EQ(run(bad, output), 1);
    EXPECT_NE(output.find("malformed at offset 0x8: unknown opcode"), std::string::npos) << output;
}

TEST(CommandDecoder, RejectsMalformedStreamsWithOffsetAndReason) {
    struct Case {
        const char* what;
        std::vector<uint32_t> words;
        uint32_t offset;
        const char* reason;
    } cases[] = {
        {"odd length", {GAL_NOP_WORD, 0, GAL_NOP_WORD}, 8, "whole number of 8-byte units"},
        {"unknown opcode", {GAL_NOP_WORD, 0, 0x78000000u, 0}, 8, "unknown opcode"},
        {"load past the end", {0x08050000u | 0x480, 1, 2, 0}, 0, "runs past the stream"},
        {"load outside the registers", {0x0802FFFFu, 1, 2, 0}, 0, "outside the register file"},
        {"load padding", {0x08020000u | 0x48A, 1, 2, 9}, 0, "padding is not zero"},
        {"stall token", {GAL_STALL_WORD, 0x702}, 0, "malformed stall"},
        {"draw without a rectangle", {0x20000000u, 0, 0, 0}, 0, "without a rectangle"},
        {"draw past the end", {GAL_START_DE_WORD, 0}, 0, "runs past the stream"},
        {"draw data past the end", {GAL_START_DE_WORD | (3u << 16), 0, 0, 0x00040004u}, 0,
         "runs past the stream"},
    };
    for (const Case& c : cases) {
        std::vector<Command> commands;
        DecodeError error;
        EXPECT_FALSE(veld::gpusim::decodeStream(c.words, commands, error)) << c.what;
        EXPECT_EQ(error.offset, c.offset) << c.what;
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.what << ": " << error.reason;
    }
}

// A node of w x h 32-bit pixels, filled with a pattern.
struct Surface {
    uint32_t node = 0, gpu = 0;
    size_t bytes = 0;
    uint32_t* pixels = nullptr;
    Surface(uint32_t w, uint32_t h) : bytes(size_t(w) * h * 4) {
        void* logical = nullptr;
        EXPECT_EQ(gcoOS_AllocateVideoMemory(nullptr, 0, &bytes, &gpu, &logical, &node), gcvSTATUS_OK);
        pixels = static_cast<uint32_t*>(logical);
        for (size_t i = 0; i < bytes / 4; ++i) pixels[i] = 0x11000000u + uint32_t(i);
    }
    ~Surface() { gcoOS_FreeVideoMemory(nullptr, node); }
};

TEST_F(CommandStream, ClearChangesExactlyTheClippedRectangle) {
    constexpr uint32_t kW = 64, kH = 48;
    Surface guardBefore(kW, 4), target(kW, kH), guardAfter(kW, 4);
    const uint64_t faults = GpuSimulator::counter("faults");
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_PIPE_SELECT, 1), gcvSTATUS_OK);
    const uint32_t targetStates[3] = {target.gpu, kW * 4, kW};
    ASSERT_EQ(gcoHARDWARE_LoadState(nullptr, GAL_STATE_TARGET_ADDRESS, 3, targetStates), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_TARGET_CONFIG,
                                      GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, GAL_HW_CLEAR)),
              gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState64(nullptr, GAL_STATE_CLIP_TOP_LEFT, 5 | 7u << 16, 40 | 30u << 16),
              gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_CLEAR_COLOR, 0xFF336699u), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_ROP, 0xCC | 0xCC << 8 | 3u << 20),
              gcvSTATUS_OK);
    // The rectangle reaches past the clip on every side.
    writeWords({GAL_START_DE_WORD, 0, 0 | 2u << 16, 60 | 45u << 16});
    writeWords({0x08010000u | (GAL_STATE_FLUSH >> 2), 8});
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);

    for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x) {
            const bool inside = x >= 5 && x < 40 && y >= 7 && y < 30;
            const uint32_t expected = inside ? 0xFF336699u : 0x11000000u + y * kW + x;
            ASSERT_EQ(target.pixels[y * kW + x], expected) << x << ", " << y;
        }
    for (const Surface* guard : {&guardBefore, &guardAfter})
        for (size_t i = 0; i < guard->bytes / 4; ++i)
            ASSERT_EQ(guard->pixels[i], 0x11000000u + i);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
    EXPECT_GE(GpuSimulator::counter("draws"), 1u);
}

TEST_F(CommandStream, DrawOutsideTheNodesIsAFaultAndWritesNothing) {
    Surface target(16, 16);
    const uint64_t faults = GpuSimulator::counter("faults");
    // A stride that carries the rows past the node's end.
    const uint32_t targetStates[3] = {target.gpu, 16 * 4 * 64, 16};
    ASSERT_EQ(gcoHARDWARE_LoadState(nullptr, GAL_STATE_TARGET_ADDRESS, 3, targetStates), gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_TARGET_CONFIG,
                                      GAL_DEST_CONFIG(GAL_HW_FORMAT_A8R8G8B8, GAL_HW_CLEAR)),
              gcvSTATUS_OK);
    ASSERT_EQ(gcoHARDWARE_LoadState64(nullptr, GAL_STATE_CLIP_TOP_LEFT, 0, 16 | 16u << 16), gcvSTATUS_OK);
    writeWords({GAL_START_DE_WORD, 0, 0, 16 | 16u << 16});
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults + 1);
    for (size_t i = 0; i < target.bytes / 4; ++i) ASSERT_EQ(target.pixels[i], 0x11000000u + i);
}

// A stall is one request when the kernel reaches the stall's signal within the commit: the
// kernel takes the signal for the caller, so that it is not left set for a later stall.
TEST_F(CommandStream, StallIsOneRequestAndLeavesItsSignalClear) {
    ASSERT_EQ(gcoHARDWARE_LoadState32(nullptr, GAL_STATE_CLIP_TOP_LEFT, 0), gcvSTATUS_OK);
    const uint64_t requests = GpuSimulator::counter("requests");
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(GpuSimulator::counter("requests"), requests + 1);
    EXPECT_EQ(gcoOS_WaitSignal(nullptr, hw_->stallSignal, 0), gcvSTATUS_TIMEOUT);
    // With nothing to submit the events go on their own and the stall waits as before.
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_WaitSignal(nullptr, hw_->stallSignal, 0), gcvSTATUS_TIMEOUT);
}

TEST_F(CommandStream, FullRingNeverHangsAndReusesBuffersAfterTheirSignal) {
    // Ten buffers' worth of loads without a stall: the ring grows to at most 8 and reuses a
    // buffer only after the GPU has released it.
    std::vector<uint32_t> values(1000, 0x5A5A5A5Au);
    const uint64_t commits = GpuSimulator::counter("commits");
    const uint64_t faults = GpuSimulator::counter("faults");
    for (int i = 0; i < 10 * 32; ++i)
        ASSERT_EQ(gcoHARDWARE_LoadState(nullptr, 0x8000, uint32_t(values.size()), values.data()),
                  gcvSTATUS_OK)
            << i;
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_GE(GpuSimulator::counter("commits"), commits + 9);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
    EXPECT_LE(GpuSimulator::counter("allocations"), 2u * 8u);
}

TEST_F(CommandStream, TemporaryBufferOverflowIsAnError) {
    gcsTEMPCMDBUF* temp = nullptr;
    ASSERT_EQ(gcoBUFFER_StartTEMPCMDBUF(hw_->buffer, &temp), gcvSTATUS_OK);
    temp->currentByteSize = gcdTEMP_CMDBUF_BYTES + 8;
    const std::string printed = veld::test::capturePrinted(
        [&] { EXPECT_EQ(gcoBUFFER_EndTEMPCMDBUF(hw_->buffer), gcvSTATUS_BUFFER_TOO_SMALL); });
    EXPECT_EQ(printed, " Temp command buffer is overflowed!\n");
}

// Atomic mode: a reservation needs 8 bytes more than it takes, the stream holds only what was
// written, and every commit counts itself (up to 63) and leaves the state at 1.
TEST_F(CommandStream, AtomicModeKeepsHeadroomAndCountsCommits) {
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    gcsBUFFER_ATOMIC record{};
    EXPECT_EQ(gcoBUFFER_SetAtomic(hw_->buffer, nullptr, 1), gcvSTATUS_INVALID_ARGUMENT);
    ASSERT_EQ(gcoBUFFER_SetAtomic(hw_->buffer, &record, 1), gcvSTATUS_OK);
    EXPECT_EQ(record.state, 1u);

    gcoCMDBUF cmdbuf = nullptr;
    ASSERT_EQ(gcoBUFFER_Reserve(hw_->buffer, 8, 1, 2, &cmdbuf), gcvSTATUS_OK);
    const uint32_t freeBytes = cmdbuf->freeBytes, offset = cmdbuf->offset;
    std::memcpy(reinterpret_cast<void*>(static_cast<uintptr_t>(cmdbuf->lastReserve)),
                std::array<uint32_t, 2>{GAL_NOP_WORD, 0}.data(), 8);
    // Exactly the free bytes no longer fit: the request moves to the next buffer.
    gcoCMDBUF next = nullptr;
    ASSERT_EQ(gcoBUFFER_Reserve(hw_->buffer, freeBytes, 0, 2, &next), gcvSTATUS_OK);
    EXPECT_TRUE(next != cmdbuf || next->offset != offset + freeBytes);
    std::memset(reinterpret_cast<void*>(static_cast<uintptr_t>(next->lastReserve)), 0, freeBytes);
    for (uint32_t i = 0; i < freeBytes / 8; ++i)
        reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(next->lastReserve))[2 * i] = GAL_NOP_WORD;
    const uint32_t counter = record.counter;
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_GT(record.counter, counter);
    EXPECT_EQ(record.state, 1u);
    EXPECT_EQ(GpuSimulator::counter("faults"), faults_) << "the stream carried only written words";

    record.counter = 62;
    writeWords({GAL_NOP_WORD, 0});
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    writeWords({GAL_NOP_WORD, 0});
    ASSERT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_EQ(record.counter, 63u);
    ASSERT_EQ(gcoBUFFER_SetAtomic(hw_->buffer, nullptr, 0), gcvSTATUS_OK);
    EXPECT_EQ(record.state, 0u);
}

}  // namespace

namespace {

// A frame written through the 2D window into reserved command-buffer space.
std::vector<uint32_t> frameWords(gcoHARDWARE hw, uint32_t words,
                                 const std::function<gceSTATUS()>& body, gceSTATUS& status) {
    gcoCMDBUF cmdbuf = nullptr;
    EXPECT_EQ(gcoBUFFER_Reserve(hw->buffer, words * 4, 1, 1, &cmdbuf), gcvSTATUS_OK);
    hw->window2D = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(cmdbuf->lastReserve));
    hw->windowIndex = 0;
    hw->windowSize = words;
    status = body();
    if (status < 0) gcoHARDWARE_2DAppendNop(hw);  // a failed frame is filled whole
    std::vector<uint32_t> out(hw->window2D, hw->window2D + words);
    hw->window2D = nullptr;
    hw->windowIndex = hw->windowSize = 0;
    return out;
}

TEST_F(CommandStream, FrameEndsWithFlushSemaphoreAndStall) {
    gceSTATUS status = gcvSTATUS_OK;
    const std::vector<uint32_t> w = frameWords(hw_, 16, [&] {
        gceSTATUS s = gcoHARDWARE_Load2DState32(hw_, GAL_STATE_PIPE_SELECT, 1);
        return s < 0 ? s : gcoHARDWARE_End2DFrame(hw_);
    }, status);
    ASSERT_EQ(status, gcvSTATUS_OK);
    const std::vector<uint32_t> expected = {
        0x08010E00, 1,                     // pipe select 2D
        0x08010E03, 8,                     // flush the 2D pipe
        0x08010E02, GAL_SEMAPHORE_TOKEN,   // semaphore
        GAL_STALL_WORD, GAL_SEMAPHORE_TOKEN,
        GAL_NOP_WORD, 0, GAL_NOP_WORD, 0, GAL_NOP_WORD, 0, GAL_NOP_WORD, 0};
    EXPECT_EQ(w, expected);
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);

    // A frame that does not fit is refused and left as no-ops, never half written.
    const std::vector<uint32_t> failed = frameWords(hw_, 4, [&] {
        const uint32_t values[5] = {1, 2, 3, 4, 5};
        return gcoHARDWARE_Load2DState(hw_, 0x1200, 5, values);
    }, status);
    EXPECT_EQ(status, gcvSTATUS_OUT_OF_MEMORY);
    EXPECT_EQ(failed, (std::vector<uint32_t>{GAL_NOP_WORD, 0, GAL_NOP_WORD, 0}));
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
}

TEST(StretchFactors, GdiAndPlainModes) {
    EXPECT_EQ(gcoHARDWARE_GetStretchFactor(0, 100, 50), 0x20539u);
    EXPECT_EQ(gcoHARDWARE_GetStretchFactor(1, 100, 50), 0x20000u);
    EXPECT_EQ(gcoHARDWARE_GetStretchFactor(0, 1, 50), (1u << 16) / 50);
    EXPECT_EQ(gcoHARDWARE_GetStretchFactor(0, 0, 50), 0u);
    const gcsRECT source{0, 0, 100, 10}, dest{0, 0, 50, 20};
    uint32_t h = 0, v = 0;
    ASSERT_EQ(gcoHARDWARE_GetStretchFactors(0, &source, &dest, &h, &v), gcvSTATUS_OK);
    EXPECT_EQ(h, 0x20539u);
    EXPECT_EQ(v, (9u << 16) / 19);
    uint32_t hw = 0;
    EXPECT_EQ(gcoHARDWARE_TranslateCommand(3, &hw), gcvSTATUS_OK);
    EXPECT_EQ(hw, 4u);
    EXPECT_EQ(gcoHARDWARE_TranslateCommand(6, &hw), gcvSTATUS_OK);
    EXPECT_EQ(hw, 8u);
    EXPECT_EQ(gcoHARDWARE_TranslateCommand(7, &hw), gcvSTATUS_NOT_SUPPORTED);
}

// On an older chip every frame ends with its state 0x1650 and the 34-word patch, whose
// target is the hardware's own 16 x 16 surface.
TEST(OlderChip, FrameEndCarriesThePatch) {
    EXPECT_EQ(veld::test::inChild([] {
                  veld::test::TestRoot root;
                  GpuSimulator sim(root, "old");
                  if (!sim.ok()) return 10;
                  gcoHARDWARE hw = nullptr;
                  if (gcoHAL_GetHardware(nullptr, &hw) != gcvSTATUS_OK || !hw->needsPatch) return 11;
                  gceSTATUS status = gcvSTATUS_OK;
                  const std::vector<uint32_t> w =
                      frameWords(hw, 48, [&] { return gcoHARDWARE_End2DFrame(hw); }, status);
                  if (status != gcvSTATUS_OK) return 12;
                  if (w[0] != 0x08010E03 || w[1] != 8) return 13;
                  if (w[2] != (0x08010000u | (GAL_STATE_END_FRAME_OLD >> 2)) || w[3] != 1) return 14;
                  if (w[4] != 0x08010483 || w[12] != 0x0804048A || w[13] != hw->patchAddress ||
                      w[14] != 0x20 || w[34] != 0x20000100 || w[37] != 0x00040004)
                      return 15;
                  if (w[38] != 0x08010E02 || w[40] != GAL_STALL_WORD) return 16;
                  // The frame runs on the core: the patch clears into its own surface only.
                  if (gcoHAL_Commit(nullptr, 1) != gcvSTATUS_OK) return 17;
                  return GpuSimulator::counter("faults") == 0 ? 0 : 18;
              }),
              0);
}

}  // namespace

namespace {

std::vector<uint32_t> fileWords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

// Two frames of one 16-byte command span each: the header is patched with the totals, and the
// commands in the dump are the ones the simulator executed.
TEST_F(CommandStream, DumpHoldsTheCommittedStream) {
    gcoDUMP dump = nullptr;
    ASSERT_EQ(gcoHAL_GetDump(nullptr, &dump), gcvSTATUS_OK);
    const std::string path = veld::seam::path("/tmp/frames.gcdb");
    ASSERT_EQ(gcoHAL_Commit(nullptr, 0), gcvSTATUS_OK);  // nothing earlier in the dump
    ASSERT_EQ(gcoDUMP_Control(dump, path.c_str()), gcvSTATUS_OK);
    std::vector<uint32_t> executed;
    for (uint32_t frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(gcoDUMP_FrameBegin(dump), gcvSTATUS_OK);
        ASSERT_EQ(gcoHARDWARE_LoadState64(nullptr, 0x1260, frame, 0x00100010), gcvSTATUS_OK);
        const std::vector<uint32_t> w = commitAndCapture();
        executed.insert(executed.end(), w.begin(), w.end());
        ASSERT_EQ(gcoDUMP_FrameEnd(dump), gcvSTATUS_OK);
    }
    ASSERT_EQ(gcoDUMP_FrameBegin(dump), gcvSTATUS_OK);  // left open: closing ends it
    ASSERT_EQ(gcoDUMP_Control(dump, nullptr), gcvSTATUS_OK);

    const std::vector<uint32_t> d = fileWords(path);
    ASSERT_GE(d.size(), 3u);
    EXPECT_EQ(d[0], GAL_DUMP_TAG('g', 'c', 'D', 'B'));
    EXPECT_EQ(d[1], 3 * 12 + 2 * 28u);
    EXPECT_EQ(d[2], 3u);
    ASSERT_EQ(d.size(), 3 + d[1] / 4);
    std::vector<uint32_t> dumped;
    uint32_t frames = 0;
    for (size_t at = 3; at < d.size();) {
        if (d[at] == GAL_DUMP_TAG('f', 'r', 'm', ' ')) {
            EXPECT_EQ(d[at + 2], ++frames);
            at += 3;
        } else {
            ASSERT_EQ(d[at], GAL_DUMP_TAG_COMMAND);
            dumped.insert(dumped.end(), d.begin() + long(at) + 3, d.begin() + long(at + 3 + d[at + 1] / 4));
            at += 3 + d[at + 1] / 4;
        }
    }
    EXPECT_EQ(frames, 3u);
    EXPECT_EQ(dumped, executed);
}

}  // namespace
