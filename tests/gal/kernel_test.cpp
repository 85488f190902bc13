// The driver against the simulated GPU kernel: the request record through the device seam,
// video memory shared between processes, names, signals, EINTR, and out-of-range requests
// refused and counted as GPU faults.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "gal_hal.h"
#include "gal_hardware.h"
#include "gal_request.h"
#include "gpu_sim_fixture.h"

namespace {

using veld::test::GpuSimulator;
using veld::test::inChild;

// The shared simulator of this test program starts before the first test and stops after the
// last.
[[maybe_unused]] const auto& kEnvironment = veld::test::GpuEnvironment::instance();

class GpuKernel : public veld::test::GpuTest {
protected:
    static gceSTATUS send(gcsIO_REQUEST& r) {
        return gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r, sizeof r);
    }
};

// One 4 KiB node: its handle, GPU address and logical address.
struct Node {
    uint32_t handle = 0, gpu = 0;
    size_t bytes = 4096;
    void* logical = nullptr;
};

gceSTATUS allocate(Node& n) {
    return gcoOS_AllocateVideoMemory(nullptr, 0, &n.bytes, &n.gpu, &n.logical, &n.handle);
}

TEST_F(GpuKernel, RequestRecordRoundTripsWithItsOffsets) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    const uint64_t faults = GpuSimulator::counter("faults");

    gcsIO_REQUEST version = gal::request(CMD_VERSION);
    ASSERT_EQ(send(version), gcvSTATUS_OK);
    EXPECT_EQ(version.hardwareType, uint32_t(HW_TYPE_2D));  // the thread's starting type
    EXPECT_EQ(gal::field<uint32_t>(version, 0), 5u);
    EXPECT_EQ(gal::field<uint32_t>(version, 4), 0u);
    EXPECT_EQ(gal::field<uint32_t>(version, 8), 11u);
    EXPECT_EQ(gal::field<uint32_t>(version, 12), 23085u);

    uint64_t physical[3] = {};
    size_t bytes[3] = {};
    ASSERT_EQ(gcoHAL_QueryVideoMemory(nullptr, &physical[0], &bytes[0], &physical[1], &bytes[1],
                                      &physical[2], &bytes[2]),
              gcvSTATUS_OK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(physical[i], 0u) << i;  // physical addresses have a non-zero base
        EXPECT_GT(bytes[i], 0u) << i;
    }
    EXPECT_EQ(gcPLS.externalPool.physical, physical[1]);
    EXPECT_NE(gcPLS.externalPool.logical, nullptr);

    // A user pointer travels with all its bits: the kernel reads it in our memory.
    std::vector<uint8_t> user(8192, 0x5A);
    uint32_t info = 0, address = 0;
    ASSERT_EQ(gcoHAL_MapUserMemory(nullptr, user.data(), 0xFFFFFFFFu, user.size(), &info, &address),
              gcvSTATUS_OK);
    EXPECT_NE(info, 0u);
    EXPECT_EQ(gcoHAL_UnmapUserMemory(nullptr, user.data(), user.size(), info, address),
              gcvSTATUS_OK);

    gcsIO_REQUEST identity = gal::request(CMD_QUERY_CHIP_IDENTITY);
    ASSERT_EQ(send(identity), gcvSTATUS_OK);
    uint32_t model = 0, revision = 0, features = 0, minor = 0;
    ASSERT_EQ(gcoHAL_QueryChipIdentity(nullptr, &model, &revision, &features, &minor), gcvSTATUS_OK);
    EXPECT_EQ(model, gal::field<uint32_t>(identity, 0));
    EXPECT_EQ(revision, gal::field<uint32_t>(identity, 4));
    EXPECT_EQ(features, gal::field<uint32_t>(identity, 8));
    EXPECT_EQ(minor, gal::field<uint32_t>(identity, 12));
    EXPECT_EQ(GpuSimulator::counter("faults"), faults);
}

TEST_F(GpuKernel, NodeIsMappedWhereItLies) {
    Node n;
    ASSERT_EQ(allocate(n), gcvSTATUS_OK);
    // The node's logical address and the pool mapping at the node's own offset show the same
    // bytes: the pools are mapped at their own physical addresses.
    uint32_t base = 0;
    ASSERT_EQ(gcoOS_GetBaseAddress(nullptr, &base), gcvSTATUS_OK);
    const uint64_t physical = uint64_t(n.gpu) + base;
    const gcsPOOL_INFO& pool = gcPLS.externalPool;
    ASSERT_GE(physical, pool.physical);
    ASSERT_LT(physical - pool.physical, pool.bytes);
    std::memset(n.logical, 0x3C, n.bytes);
    const uint8_t* viaPool = static_cast<uint8_t*>(pool.logical) + (physical - pool.physical);
    EXPECT_EQ(viaPool[0], 0x3C);
    EXPECT_EQ(viaPool[n.bytes - 1], 0x3C);
    EXPECT_EQ(gcoOS_FreeVideoMemory(nullptr, n.handle), gcvSTATUS_OK);
    EXPECT_EQ(viaPool[0], 0xA5) << "freed memory is poisoned";
}

TEST_F(GpuKernel, AllocationsOfTwoProcessesNeverOverlapAndAreReclaimed) {
    const uint64_t baseline = GpuSimulator::counter("external_used");
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    int hold[2];
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // The child allocates 16 nodes, reports them and waits to be killed holding them.
        for (int i = 0; i < 16; ++i) {
            Node n;
            if (allocate(n) != gcvSTATUS_OK) ::_exit(1);
            const uint32_t range[2] = {n.gpu, uint32_t(n.bytes)};
            if (::write(report[1], range, sizeof range) != sizeof range) ::_exit(2);
        }
        ::close(hold[1]);
        char c;
        while (::read(hold[0], &c, 1) > 0) {
        }
        ::_exit(0);
    }
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (int i = 0; i < 16; ++i) {
        uint32_t range[2];
        ASSERT_EQ(::read(report[0], range, sizeof range), ssize_t(sizeof range));
        ranges.emplace_back(range[0], range[1]);
    }
    std::vector<Node> ours(16);
    for (Node& n : ours) {
        ASSERT_EQ(allocate(n), gcvSTATUS_OK);
        ranges.emplace_back(n.gpu, uint32_t(n.bytes));
    }
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        EXPECT_LE(uint64_t(ranges[i - 1].first) + ranges[i - 1].second, ranges[i].first);

    for (Node& n : ours) ASSERT_EQ(gcoOS_FreeVideoMemory(nullptr, n.handle), gcvSTATUS_OK);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(veld::test::eventually(
        [&] { return GpuSimulator::counter("external_used") == baseline; }))
        << GpuSimulator::control("status");
    ::close(report[0]);
    ::close(report[1]);
    ::close(hold[0]);
    ::close(hold[1]);
}

TEST_F(GpuKernel, SharedNameImportsInAnotherProcessWithTheSameBytes) {
    Node n;
    ASSERT_EQ(allocate(n), gcvSTATUS_OK);
    for (size_t i = 0; i < n.bytes; ++i) static_cast<uint8_t*>(n.logical)[i] = uint8_t(i * 7);
    uint32_t name = 0;
    ASSERT_EQ(gcoHAL_NameVideoMemory(n.handle, &name), gcvSTATUS_OK);
    const int result = inChild([name] {
        gcsTHREAD_DATA* record = nullptr;
        if (gcoOS_GetTLS(&record) != gcvSTATUS_OK) return 4;
        uint32_t node = 0;
        if (gcoHAL_ImportVideoMemory(name, &node) != gcvSTATUS_OK) return 1;
        gcsIO_REQUEST lock = gal::request(CMD_LOCK_VIDEO_MEMORY);
        gal::setField<uint32_t>(lock, 0, node);
        if (gcoHAL_Call(nullptr, &lock) != gcvSTATUS_OK) return 2;
        const auto* bytes = static_cast<const uint8_t*>(gal::pointerField(lock, 16));
        for (size_t i = 0; i < 4096; ++i)
            if (bytes[i] != uint8_t(i * 7)) return 3;
        return 0;
    });
    EXPECT_EQ(result, 0);
    // The child's reference died with it; ours keeps the node alive until we free it.
    EXPECT_EQ(static_cast<uint8_t*>(n.logical)[1], 7);
    EXPECT_EQ(gcoOS_FreeVideoMemory(nullptr, n.handle), gcvSTATUS_OK);
    uint32_t stale = 0;
    EXPECT_EQ(gcoHAL_ImportVideoMemory(name, &stale), gcvSTATUS_NOT_FOUND);
}

TEST_F(GpuKernel, InterruptedRequestsAreRetried) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    ASSERT_EQ(GpuSimulator::control("interrupt 3"), "ok\n");
    uint32_t state = 0;
    EXPECT_EQ(gcoHAL_QueryPowerManagementState(nullptr, &state), gcvSTATUS_OK);
    // 10000 interrupted attempts in a row give up with a generic I/O error.
    ASSERT_EQ(GpuSimulator::control("interrupt 10000"), "ok\n");
    EXPECT_EQ(gcoHAL_QueryPowerManagementState(nullptr, &state), gcvSTATUS_GENERIC_IO);
    EXPECT_EQ(gcoHAL_QueryPowerManagementState(nullptr, &state), gcvSTATUS_OK);
}

TEST_F(GpuKernel, OutOfRangeRequestsAreRefusedAndCountedAsFaults) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    uint8_t outsideVideoMemory[256] = {};
    gcsCMDBUF_RECORD buffer{};
    buffer.magic = GAL_CMDBUF_MAGIC;
    buffer.size = 4096;
    buffer.logical = reinterpret_cast<uintptr_t>(outsideVideoMemory);
    struct Case {
        const char* what;
        gcsIO_REQUEST request;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, uint32_t command, auto fill) {
        gcsIO_REQUEST r = gal::request(command);
        fill(r);
        cases.push_back({what, r});
    };
    add("video memory larger than any pool", CMD_ALLOCATE_VIDEO_MEMORY, [](gcsIO_REQUEST& r) {
        gal::setField<uint32_t>(r, 0, 0xFFFFFFF0u);
        gal::setField<uint32_t>(r, 16, GAL_POOL_DEFAULT);
    });
    add("register beyond the register file", CMD_READ_REGISTER,
        [](gcsIO_REQUEST& r) { gal::setField<uint32_t>(r, 0, 0x7FFFFFFCu); });
    add("user memory that wraps", CMD_MAP_USER_MEMORY, [](gcsIO_REQUEST& r) {
        gal::setField<uint64_t>(r, 0, ~uint64_t(0) - 16);
        gal::setField<uint64_t>(r, 16, 64);
    });
    add("free of memory never allocated", CMD_FREE_CONTIGUOUS_MEMORY, [](gcsIO_REQUEST& r) {
        gal::setField<uint64_t>(r, 8, 0x12345000u);
    });
    add("commit of a buffer outside video memory", CMD_COMMIT,
        [&](gcsIO_REQUEST& r) { gal::setPointer(r, 8, &buffer); });
    add("cache operation outside video memory", CMD_CACHE, [&](gcsIO_REQUEST& r) {
        gal::setField<uint32_t>(r, 0, 1);
        gal::setPointer(r, 16, outsideVideoMemory);
        gal::setField<uint64_t>(r, 24, sizeof outsideVideoMemory);
    });
    const uint64_t first = GpuSimulator::counter("faults");
    for (Case& c : cases) {
        const uint64_t before = GpuSimulator::counter("faults");
        EXPECT_LT(gcoHAL_Call(nullptr, &c.request), 0) << c.what;
        EXPECT_EQ(GpuSimulator::counter("faults"), before + 1) << c.what;
    }
    EXPECT_NE(GpuSimulator::control("status").find("GPU faults: " + std::to_string(first + 6)),
              std::string::npos)
        << GpuSimulator::control("status");
}

TEST_F(GpuKernel, SignalsWaitTimeOutAndWakeAnotherThread) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    gcsSIGNAL_PTR signal = nullptr;
    ASSERT_EQ(gcoOS_CreateSignal(nullptr, 0, &signal), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_WaitSignal(nullptr, signal, 0), gcvSTATUS_TIMEOUT);
    EXPECT_EQ(gcoOS_WaitSignal(nullptr, signal, 20), gcvSTATUS_TIMEOUT);
    ASSERT_EQ(gcoOS_Signal(nullptr, signal, 1), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_WaitSignal(nullptr, signal, 0), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_WaitSignal(nullptr, signal, 0), gcvSTATUS_TIMEOUT) << "auto-reset";

    // A thread waiting without limit does not hold up the thread that signals it.
    gceSTATUS waited = gcvSTATUS_INVALID_ARGUMENT;
    std::thread waiter([&] { waited = gcoOS_WaitSignal(nullptr, signal, 0xFFFFFFFFu); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(gcoOS_Signal(nullptr, signal, 1), gcvSTATUS_OK);
    waiter.join();
    EXPECT_EQ(waited, gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_DestroySignal(nullptr, signal), gcvSTATUS_OK);

    // A stall is a signal event that the GPU reaches.
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    EXPECT_GE(GpuSimulator::counter("events"), 1u);
}

TEST_F(GpuKernel, SharedBuffersCarryBytesBetweenCalls) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    uint64_t id = 0;
    ASSERT_EQ(gcoHAL_CreateShBuffer(64, &id), gcvSTATUS_OK);
    const char text[] = "frame 42";
    ASSERT_EQ(gcoHAL_WriteShBuffer(id, text, sizeof text), gcvSTATUS_OK);
    char back[sizeof text] = {};
    uint32_t read = 0;
    ASSERT_EQ(gcoHAL_ReadShBuffer(id, back, sizeof back, &read), gcvSTATUS_OK);
    EXPECT_EQ(read, sizeof text);
    EXPECT_STREQ(back, text);
    EXPECT_LT(gcoHAL_ReadShBuffer(id, back, 65, &read), 0);
    EXPECT_EQ(gcoHAL_DestroyShBuffer(id), gcvSTATUS_OK);
}

}  // namespace
