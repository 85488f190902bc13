// The driver's process and thread state and its HAL: creation once per process, the version
// check, a missing device, fork, thread records, GAL_DEBUG, options, counters, mutexes, strings
// and status names.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "gal_hal.h"
#include "gal/gal_internal.h"
#include "gpu_sim_fixture.h"

namespace {

using veld::test::capturePrinted;
using veld::test::GpuSimulator;
using veld::test::inChild;
using veld::test::openDescriptors;

// Mappings of this process, the heap left out (after a fork it may grow in a second piece).
int mappingCount() {
    std::ifstream in("/proc/self/maps");
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.find("[heap]") == std::string::npos;
    return n;
}

using DriverState = veld::test::GpuTest;

TEST_F(DriverState, WrongKernelVersionIsRefusedAndLeavesNothingBehind) {
    ASSERT_EQ(GpuSimulator::control("version 5 0 11 23084"), "ok\n");
    EXPECT_EQ(inChild([] {
                  const int fds = openDescriptors();
                  gcsTHREAD_DATA* record = nullptr;
                  gceSTATUS status = gcvSTATUS_OK;
                  const std::string printed =
                      capturePrinted([&] { status = gcoOS_GetTLS(&record); });
                  if (status != gcvSTATUS_VERSION_MISMATCH) return 1;
                  if (printed.find("HAL user version 5.0.11 build 23085 Feb 21 2019 10:41:40\n") ==
                          std::string::npos ||
                      printed.find("HAL kernel version 5.0.11 build 23084\n") == std::string::npos)
                      return 2;
                  if (openDescriptors() != fds || gcPLS.os || gcPLS.hal || gcPLS.processId)
                      return 3;
                  // The next call tries again.
                  GpuSimulator::control("version 5 0 11 23085");
                  return gcoOS_GetTLS(&record) == gcvSTATUS_OK ? 0 : 4;
              }),
              0);
}

TEST_F(DriverState, NoDeviceIsDeviceErrorAndLeaksNothing) {
    EXPECT_EQ(inChild([] {
                  ::unsetenv("VELD_SIM");  // the real node under the private root: absent
                  const int fds = openDescriptors();
                  gcsTHREAD_DATA* record = nullptr;
                  if (gcoOS_GetTLS(&record) != gcvSTATUS_DEVICE) return 1;
                  // The first call may set up what lives as long as the process (the thread
                  // key, the fork handler); failures after it add nothing.
                  const int maps = mappingCount();
                  for (int i = 0; i < 3; ++i) {
                      if (gcoOS_GetTLS(&record) != gcvSTATUS_DEVICE) return 1;
                      gcsIO_REQUEST r = gal::request(CMD_VERSION);
                      if (gcoOS_DeviceControl(nullptr, GAL_IOCTL_REQUEST, &r, sizeof r, &r,
                                              sizeof r) != gcvSTATUS_DEVICE)
                          return 2;
                  }
                  if (openDescriptors() != fds || mappingCount() != maps) return 3;
                  return gcPLS.os == nullptr && gcPLS.processId == 0 ? 0 : 4;
              }),
              0);
}

TEST_F(DriverState, TwoThreadsFirstCallCreateTheProcessStateOnce) {
    EXPECT_EQ(inChild([] {
                  gcsTHREAD_DATA* records[2] = {};
                  std::thread a([&] { gcoOS_GetTLS(&records[0]); });
                  std::thread b([&] { gcoOS_GetTLS(&records[1]); });
                  a.join();
                  b.join();
                  if (!records[0] || !records[1]) return 1;
                  // The records of the ended threads are gone; the process remains.
                  int32_t references = 0;
                  gcoOS_AtomGet(nullptr, gcPLS.reference, &references);
                  return references == 1 ? 0 : 2;
              }),
              0);
    EXPECT_EQ(inChild([] {
                  gcsTHREAD_DATA* records[2] = {};
                  int32_t seen = 0;
                  std::atomic<int> ready{0};
                  std::atomic<bool> done{false};
                  auto body = [&](int i) {
                      gcoOS_GetTLS(&records[i]);
                      ++ready;
                      while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  };
                  std::thread a(body, 0), b(body, 1);
                  while (ready < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  gcoOS_AtomGet(nullptr, gcPLS.reference, &seen);
                  done = true;
                  a.join();
                  b.join();
                  return seen == 3 ? 0 : 10 + seen;  // the process plus two threads
              }),
              0);
}

TEST_F(DriverState, ForkedChildStartsAfreshWithoutTheParentsDevice) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    const int parentDevice = gcPLS.os->device;
    const uint64_t nodes = GpuSimulator::counter("nodes");
    EXPECT_EQ(inChild([parentDevice] {
                  if (gcPLS.os || gcPLS.hal || gcPLS.processId || gcPLS.reference) return 1;
                  if (::fcntl(parentDevice, F_GETFD) != -1) return 2;  // closed in the child
                  gcsTHREAD_DATA* own = nullptr;
                  if (gcoOS_GetTLS(&own) != gcvSTATUS_OK) return 3;
                  size_t bytes = 4096;
                  uint32_t gpu = 0, node = 0;
                  void* logical = nullptr;
                  if (gcoOS_AllocateVideoMemory(nullptr, 0, &bytes, &gpu, &logical, &node) != 0)
                      return 4;
                  std::memset(logical, 1, bytes);
                  return 0;
              }),
              0);
    // The child's node went with the child; the parent's connection still serves.
    EXPECT_TRUE(veld::test::eventually([&] { return GpuSimulator::counter("nodes") == nodes; }));
    uint32_t state = 0;
    EXPECT_EQ(gcoHAL_QueryPowerManagementState(nullptr, &state), gcvSTATUS_OK);
}

TEST_F(DriverState, CopiedThreadRecordReleasesNoHardwareWhenItEnds) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    gcoHARDWARE hardware = nullptr;
    ASSERT_EQ(gcoHAL_GetHardware(nullptr, &hardware), gcvSTATUS_OK);
    gco2D engine = nullptr;
    ASSERT_EQ(gcoHAL_Get2DEngine(nullptr, &engine), gcvSTATUS_OK);
    std::thread copy([&] {
        EXPECT_EQ(gcoOS_CopyTLS(record), gcvSTATUS_OK);
        EXPECT_EQ(gcoOS_CopyTLS(record), gcvSTATUS_INVALID_REQUEST);
        gcsTHREAD_DATA* own = nullptr;
        ASSERT_EQ(gcoOS_GetTLS(&own), gcvSTATUS_OK);
        EXPECT_EQ(own->copied, 1u);
        EXPECT_EQ(own->engine2D, engine);
    });
    copy.join();
    // Both objects survived the copy's thread.
    EXPECT_EQ(gcoHARDWARE_Commit(hardware), gcvSTATUS_OK);
    EXPECT_EQ(gcoHARDWARE_Stall(hardware), gcvSTATUS_OK);
    gco2D again = nullptr;
    EXPECT_EQ(gcoHAL_Get2DEngine(nullptr, &again), gcvSTATUS_OK);
    EXPECT_EQ(again, engine);
}

TEST_F(DriverState, ProcessStateHoldsPoolsOptionsAndPlsValues) {
    gcsTHREAD_DATA* record = nullptr;
    ASSERT_EQ(gcoOS_GetTLS(&record), gcvSTATUS_OK);
    EXPECT_EQ(record->currentType, uint32_t(HW_TYPE_2D));
    EXPECT_EQ(gcoOS_GetPLSValue(2), 212u);
    gcoOS_SetPLSValue(7, 99);
    EXPECT_EQ(gcoOS_GetPLSValue(7), 0u);
    EXPECT_EQ(gcoHAL_GetOption(nullptr, 1), gcvSTATUS_TRUE);
    EXPECT_EQ(gcoHAL_GetOption(nullptr, 2), gcvSTATUS_OK);
    EXPECT_EQ(gcoHAL_GetOption(nullptr, gcdOPTION_COUNT), gcvSTATUS_INVALID_ARGUMENT);
    int32_t chips = 0;
    EXPECT_EQ(gcoHAL_QueryChipCount(nullptr, &chips), gcvSTATUS_OK);
    EXPECT_EQ(chips, 2);
    EXPECT_EQ(gcoHAL_QuerySeparated2D(nullptr), gcvSTATUS_TRUE);
    EXPECT_EQ(gcoHAL_Is3DAvailable(nullptr), gcvSTATUS_TRUE);
    EXPECT_EQ(gcoHAL_QueryChipFeature(nullptr, 1, 9), gcvSTATUS_TRUE);  // the 2D pipe
    EXPECT_EQ(gcoHAL_QueryChipFeature(nullptr, 2, 9), gcvSTATUS_INVALID_ARGUMENT);
    char* name = nullptr;
    ASSERT_EQ(gcoHAL_GetProductName(nullptr, &name), gcvSTATUS_OK);
    EXPECT_STREQ(name, "GC320");
    gcoOS_Free(nullptr, name);
    ASSERT_EQ(gcoHAL_SetHardwareType(nullptr, HW_TYPE_COMBINED), gcvSTATUS_OK);
    uint32_t base = 1;
    EXPECT_EQ(gcoOS_GetBaseAddress(nullptr, &base), gcvSTATUS_OK);
    EXPECT_EQ(base, 0u);
    EXPECT_EQ(gcoHAL_GetProductName(nullptr, &name), gcvSTATUS_INVALID_ARGUMENT);
    ASSERT_EQ(gcoHAL_SetHardwareType(nullptr, HW_TYPE_2D), gcvSTATUS_OK);
}

TEST_F(DriverState, MessageLevelFromGalDebug) {
    struct Case {
        const char* value;
        uint32_t level;
    } cases[] = {
        {"-MSG_LEVEL:WARNING", 2},   {"-MSG_LEVEL:ERROR:WARNING", 2}, {"-MSG_LEVEL:ERROR", 1},
        {"x -MSG_LEVEL:ERROR:BOGUS:WARNING", 1}, {"-MSG_LEVEL WARNING", 0}, {"WARNING", 0},
    };
    for (const Case& c : cases) {
        ::setenv("GAL_DEBUG", c.value, 1);
        // The variable is read once per process, at HAL creation: each case in a child.
        EXPECT_EQ(inChild([] {
                      gcsTHREAD_DATA* record = nullptr;
                      if (gcoOS_GetTLS(&record) != gcvSTATUS_OK) return 100;
                      return int(*gcGetUserDebugOption());
                  }),
                  int(c.level))
            << c.value;
    }
    ::unsetenv("GAL_DEBUG");
}

TEST(GalOs, MutexTimeOutZeroOnAHeldMutexFailsAtOnce) {
    gcsMUTEX_PTR mutex = nullptr;
    ASSERT_EQ(gcoOS_CreateMutex(nullptr, &mutex), gcvSTATUS_OK);
    ASSERT_EQ(gcoOS_AcquireMutex(nullptr, mutex, 0xFFFFFFFFu), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_AcquireMutex(nullptr, mutex, 0), gcvSTATUS_OK) << "recursive";
    gceSTATUS other = gcvSTATUS_OK, timed = gcvSTATUS_OK;
    std::thread t([&] {
        other = gcoOS_AcquireMutex(nullptr, mutex, 0);
        timed = gcoOS_AcquireMutex(nullptr, mutex, 5);
    });
    t.join();
    EXPECT_EQ(other, gcvSTATUS_TIMEOUT);
    EXPECT_EQ(timed, gcvSTATUS_TIMEOUT);
    gcoOS_ReleaseMutex(nullptr, mutex);
    gcoOS_ReleaseMutex(nullptr, mutex);
    EXPECT_EQ(gcoOS_DeleteMutex(nullptr, mutex), gcvSTATUS_OK);
}

TEST(GalOs, FrameCounterUnderflowPrintsAndWraps) {
    uint32_t value = 7;
    ASSERT_EQ(gcoHAL_FrameInfoOps(nullptr, 2, 2, nullptr), gcvSTATUS_OK);
    const std::string printed =
        capturePrinted([] { gcoHAL_FrameInfoOps(nullptr, 2, 1, nullptr); });
    EXPECT_EQ(printed, "GAL: FramInfo(2) underflowed\n");
    ASSERT_EQ(gcoHAL_FrameInfoOps(nullptr, 2, 3, &value), gcvSTATUS_OK);
    EXPECT_EQ(value, 0xFFFFFFFFu);
    EXPECT_EQ(gcoHAL_FrameInfoOps(nullptr, 4, 0, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHAL_FrameInfoOps(nullptr, 0, 4, nullptr), gcvSTATUS_INVALID_ARGUMENT);
    EXPECT_EQ(gcoHAL_FrameInfoOps(nullptr, 0, 3, nullptr), gcvSTATUS_INVALID_ARGUMENT);
}

TEST(GalOs, BoundedStringsAndStatusNames) {
    char buffer[8] = "abc";
    EXPECT_EQ(gcoOS_StrCatSafe(buffer, sizeof buffer, "defghij"), gcvSTATUS_OK);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(gcoOS_StrCopySafe(buffer, sizeof buffer, "0123456789"), gcvSTATUS_OK);
    EXPECT_STREQ(buffer, "0123456");
    uint32_t offset = 0;
    char line[10];
    EXPECT_EQ(gcoOS_PrintStrSafe(line, sizeof line, &offset, "%s", "hello"), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_PrintStrSafe(line, sizeof line, &offset, "%d", 123456), gcvSTATUS_OK);
    EXPECT_STREQ(line, "hello1234");
    EXPECT_EQ(offset, 9u);
    EXPECT_EQ(gcoOS_PrintStrSafe(line, sizeof line, &offset, "more"), gcvSTATUS_OK);
    EXPECT_EQ(offset, 9u);

    EXPECT_STREQ(gcoOS_DebugStatus2Name(-27), "gcvSTATUS_DEVICE");
    EXPECT_STREQ(gcoOS_DebugStatus2Name(19), "gcvSTATUS_TERMINATE");
    EXPECT_STREQ(gcoOS_DebugStatus2Name(-2001), "gcvSTATUS_COMPILER_FE_PARSER_ERROR");
    EXPECT_STREQ(gcoOS_DebugStatus2Name(-29), "nil");
}

TEST(GalOs, AllocatorBlocksAreAlignedAndOverflowIsRefused) {
    void* p = nullptr;
    ASSERT_EQ(gcoOS_AllocateMemory(nullptr, 24, &p), gcvSTATUS_OK);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
    EXPECT_EQ(gcoOS_FreeMemory(nullptr, p), gcvSTATUS_OK);
    EXPECT_EQ(gcoOS_AllocateMemory(nullptr, SIZE_MAX - 2, &p), gcvSTATUS_OUT_OF_MEMORY);
    EXPECT_EQ(p, nullptr);
}

}  // namespace
