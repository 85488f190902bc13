// The display driver: size file, event queue on a real System V queue in a private namespace,
// display surface on the simulated frame buffer, forms on the display, the tick thread and the
// platform wrappers.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "log_lines.h"
#include "seam.h"
#include "test_root.h"
#include "veld_framebuffer.h"
#include "veldcore_host.h"
#include "xdrv.h"
#include "xwindow.h"

namespace {

using veld::test::eventually;

constexpr uint32_t kEventQueueKey = 0x00149FBD;

class XdrvTest : public ::testing::Test {
protected:
    void TearDown() override {
        XDRV_StopSystemTimeTick();
        veld::xdrv::setTickCallback(nullptr);
        veld::test::removeQueue(kEventQueueKey);
        VELD_HOST_FB_Unlink(veld::xdrv::kLayer);
    }
    void writeSizeFile(const std::string& text) { root.writeFile(veld::xdrv::kSizeFile, text); }

    veld::test::TestRoot root;
    veld::test::LogLines log;
};

XEvent keyEvent(uint16_t code, uint32_t value) {
    XEvent e{};
    e.type = XEVENT_KEY;
    e.key.code = code;
    e.key.value = value;
    e.key.extra[3] = 0xA5A5A5A5u;
    return e;
}

TEST_F(XdrvTest, MissingSizeFileKeepsTheDefaultButStillCreatesTheQueue) {
    EXPECT_EQ(XDRV_InitTask(0), -5);
    EXPECT_TRUE(log.contains("[xErr] can't open fb0/fbmem"));
    uint16_t w = 0, h = 0;
    veld::xdrv::displaySize(w, h);
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);
    // The queue exists under the namespaced key, so events are not lost.
    EXPECT_GE(msgget(veld::seam::sysvKey(kEventQueueKey), 0), 0);
    const XEvent sent = keyEvent(10, 0);
    ASSERT_EQ(XDRV_SendQueue(0, &sent, 0), 0);
    XEvent got{};
    ASSERT_EQ(XDRV_ReceiveQueue(0, &got, 0), 0);
    EXPECT_EQ(std::memcmp(&got, &sent, sizeof got), 0);
}

TEST_F(XdrvTest, SizeFileGivesTheDisplaySize) {
    struct Case {
        const char* text;
        uint16_t width, height;
    };
    for (Case c : {Case{"0 0 1280 720\n", 1280, 720},
                   Case{"  3c000000\n8294400 3840 2160", 3840, 2160},
                   Case{"0x1f 5 64 32 trailing", 64, 32},
                   Case{"garbage", 1920, 1080},
                   Case{"0 0 0 720", 1920, 1080},
                   Case{"0 0 70000 720", 1920, 1080}}) {
        writeSizeFile(c.text);
        EXPECT_EQ(XDRV_InitTask(0), 0) << c.text;
        uint16_t w = 0, h = 0;
        veld::xdrv::displaySize(w, h);
        EXPECT_EQ(w, c.width) << c.text;
        EXPECT_EQ(h, c.height) << c.text;
    }
}

TEST_F(XdrvTest, QueueCarriesWholeEventsInOrderBetweenThreads) {
    writeSizeFile("0 0 64 32");
    ASSERT_EQ(XDRV_InitTask(0), 0);
    EXPECT_TRUE(log.contains("qname = uxm-evq, hash = 0x00149fbd"));
    constexpr uint32_t kCount = 200;
    std::thread sender([] {
        for (uint32_t i = 0; i < kCount; ++i) {
            const XEvent e = keyEvent(static_cast<uint16_t>(i), i * 7);
            while (XDRV_SendQueue(0, &e, 0) != 0) std::this_thread::yield();
        }
    });
    for (uint32_t i = 0; i < kCount; ++i) {
        XEvent got{};
        ASSERT_EQ(XDRV_ReceiveQueue(0, &got, 0), 0);
        const XEvent want = keyEvent(static_cast<uint16_t>(i), i * 7);
        ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << i;
    }
    sender.join();
}

TEST_F(XdrvTest, NamedQueuesHashTheirNames) {
    const uint32_t id = XDRV_CreateQueue("", 0);
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(log.contains("qname = , hash = 0x00000000"));
    // The empty name's key 0 is namespaced, never the private key: it is found again.
    EXPECT_EQ(static_cast<int>(id), msgget(veld::seam::sysvKey(0), 0));
    msgctl(static_cast<int>(id), IPC_RMID, nullptr);
}

TEST_F(XdrvTest, FullQueueRefusesWithoutWaiting) {
    const uint32_t id = XDRV_CreateQueue("uxm-full", 0);
    ASSERT_NE(id, 0u);
    msqid_ds info{};
    ASSERT_EQ(msgctl(static_cast<int>(id), IPC_STAT, &info), 0);
    info.msg_qbytes = 28 * 3;  // room for three events
    ASSERT_EQ(msgctl(static_cast<int>(id), IPC_SET, &info), 0);
    const XEvent e = keyEvent(1, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(XDRV_SendQueue(id, &e, 0), 0);
    EXPECT_EQ(XDRV_SendQueue(id, &e, 0), -5);
    EXPECT_TRUE(log.contains("[xErr] can't send ipc (0x"));
    msgctl(static_cast<int>(id), IPC_RMID, nullptr);
}

TEST_F(XdrvTest, ReceiveErrorLeavesTheEventAlone) {
    const uint32_t id = XDRV_CreateQueue("uxm-gone", 0);
    ASSERT_NE(id, 0u);
    msgctl(static_cast<int>(id), IPC_RMID, nullptr);
    XEvent e = keyEvent(5, 55);
    const XEvent before = e;
    EXPECT_EQ(XDRV_ReceiveQueue(id, &e, 0), -5);
    EXPECT_EQ(std::memcmp(&e, &before, sizeof e), 0);
    EXPECT_TRUE(log.contains("[xErr] rc<0"));
    EXPECT_EQ(XDRV_SendQueue(id, &e, 0), -5);
}

TEST_F(XdrvTest, DisplayIsAVisibleSurfaceOfTheDisplaySize) {
    writeSizeFile("0 0 64 32");
    ASSERT_EQ(XDRV_InitTask(0), 0);
    XDisplay display;
    std::memset(&display, 0x77, sizeof display);
    ASSERT_EQ(XDRV_CreateDisplay(&display), 0);
    EXPECT_EQ(display.width, 64);
    EXPECT_EQ(display.height, 32);
    EXPECT_EQ(display.palette[5], 0u);  // cleared
    ASSERT_NE(display.surface, nullptr);
    ASSERT_NE(display.pixels, nullptr);
    EXPECT_EQ(display.surface->word[4], 64u);
    EXPECT_EQ(display.surface->word[5], 32u);
    EXPECT_EQ(veld::xdrv::currentDisplay(), &display);
    EXPECT_TRUE(log.contains("[xErr] ++ use VELD_COMPOSER"));

    uint32_t palette[256] = {};
    palette[3] = 0xFFFFFFFFu;
    palette[4] = 0xFF000000u;
    ASSERT_EQ(XDRV_SetPalette(palette), 0);
    EXPECT_EQ(display.palette[3], 0xFFFFFFFFu);
    const uint32_t pitch = display.surface->word[3];
    display.pixels[0] = 3;
    display.pixels[31 * pitch + 63] = 4;
    ASSERT_EQ(XDRV_UpdateScreen(&display), 0);
    EXPECT_TRUE(log.contains("[xDbg] +++ update_ssm_screen to POSD +++"));

    VELD_FB_FRAME frame{};
    std::vector<uint8_t> pixels(64 * 32);
    ASSERT_EQ(VELD_HOST_FB_Read(veld::xdrv::kLayer, 1, 0, &frame, pixels.data(), pixels.size()),
              VELD_FB_OK);
    EXPECT_EQ(frame.visible, 1u);
    EXPECT_EQ(frame.width, 64u);
    EXPECT_EQ(pixels[0], 3);
    EXPECT_EQ(pixels[31 * 64 + 63], 4);
    EXPECT_EQ(pixels[1], 0);
    EXPECT_EQ(frame.palette[3], 0xFFFFFFFFu);
    EXPECT_EQ(frame.palette[4], 0xFF000000u);
    EXPECT_EQ(XDRV_DestroyDisplay(&display), 0);
    EXPECT_EQ(XDRV_ShutdownTask(), 0);
}

TEST_F(XdrvTest, OnlyFormsAttachToTheDisplay) {
    writeSizeFile("0 0 64 32");
    XDRV_InitTask(0);
    XDisplay display;
    ASSERT_EQ(XDRV_CreateDisplay(&display), 0);

    XWindow control{};
    control.flags = 1;  // a control
    control.pitch = 1234;
    const XWindow before = control;
    EXPECT_EQ(XDRV_CreateWindow(&control), -5);
    EXPECT_EQ(std::memcmp(&control, &before, sizeof control), 0);
    EXPECT_EQ(XDRV_DestroyWindow(&control), -5);
    uint8_t* p = nullptr;
    uint32_t pitch = 0;
    EXPECT_EQ(XDRV_LockWindowBuffer(&control, &p, &pitch), -5);
    EXPECT_EQ(control.lockCount, 0u);

    XWindow form{};
    form.position = {10, 20, 30, 40};
    ASSERT_EQ(XDRV_CreateWindow(&form), 0);
    EXPECT_EQ(form.pixels, display.pixels);
    EXPECT_EQ(form.display, &display);
    EXPECT_EQ(form.pitch, display.surface->word[3]);
    ASSERT_EQ(XDRV_LockWindowBuffer(&form, &p, &pitch), 0);
    EXPECT_EQ(form.lockCount, 1u);
    EXPECT_EQ(p, display.pixels);
    EXPECT_EQ(pitch, form.pitch);
    EXPECT_EQ(XDRV_UnlockWindowBuffer(&form), 0);
    EXPECT_EQ(form.lockCount, 0u);
    EXPECT_EQ(XDRV_UpdateFrameBuffer(&display, &form, 10, 20), 0);
    EXPECT_TRUE(log.contains("[xDbg] update_frame_buffer win (10,20,30x40) - do nothing"));
    EXPECT_EQ(XDRV_DestroyWindow(&form), 0);
}

// Threads of this process whose name is `name`.
int threadsNamed(const std::string& name) {
    int n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string line;
        std::getline(comm, line);
        n += line == name;
    }
    return n;
}

std::atomic<int> gTicks{0};

TEST_F(XdrvTest, TickThreadStartsOnceAndRestartsAfterStop) {
    veld::xdrv::setTickCallback([] { ++gTicks; });
    ASSERT_EQ(XDRV_StartSystemTimeTick(5), 0);
    const VELD_THREAD first = veld::xdrv::tickThread();
    EXPECT_NE(first, 0u);
    ASSERT_EQ(XDRV_StartSystemTimeTick(5), 0);
    EXPECT_EQ(veld::xdrv::tickThread(), first);
    EXPECT_EQ(threadsNamed("uxm_tmr"), 1);
    const int start = gTicks.load();
    EXPECT_TRUE(eventually([&] { return gTicks.load() >= start + 3; }));

    ASSERT_EQ(XDRV_StopSystemTimeTick(), 0);
    EXPECT_EQ(veld::xdrv::tickThread(), 0u);
    // Joined; the kernel drops the thread's /proc entry a moment after the join returns (under
    // qemu-user a good while after).
    EXPECT_TRUE(eventually([] { return threadsNamed("uxm_tmr") == 0; }));
    const int stopped = gTicks.load();
    XDRV_Sleep(20);
    EXPECT_EQ(gTicks.load(), stopped);  // joined: no tick after the stop returned
    EXPECT_EQ(XDRV_StopSystemTimeTick(), 0);  // stopping twice is harmless

    ASSERT_EQ(XDRV_StartSystemTimeTick(5), 0);
    EXPECT_NE(veld::xdrv::tickThread(), 0u);
    EXPECT_EQ(threadsNamed("uxm_tmr"), 1);
    EXPECT_TRUE(eventually([&] { return gTicks.load() >= stopped + 2; }));
}

TEST_F(XdrvTest, UtilityWrappersReachThePlatform) {
    const uint64_t ns = XUTIL_GetNsTick();
    const uint32_t ms = XUTIL_GetTick();
    XUTIL_Sleep(2);
    EXPECT_GT(XUTIL_GetNsTick(), ns);
    EXPECT_GE(XUTIL_GetTick() - ms, 1u);

    static std::atomic<int> ran{0};
    static int argument = 42;
    const VELD_THREAD t = XUTIL_CreateThread("xdrv_t", 0, [](void* arg) -> void* {
        ran = *static_cast<int*>(arg);
        return nullptr;
    }, &argument);
    ASSERT_NE(t, 0u);
    EXPECT_EQ(XUTIL_JoinThread(t), 0);
    EXPECT_EQ(ran.load(), 42);

    const std::string name = "/xdrv-test-mtx";
    const VELD_HANDLE mutex = XUTIL_CreateMutex(name.c_str());
    ASSERT_NE(mutex, 0u);
    EXPECT_EQ(XUTIL_LockMutex(mutex), 0);
    EXPECT_NE(VELD_OSA_LockSema(mutex, 0), 0);  // one unit: already taken
    EXPECT_EQ(XUTIL_UnlockMutex(mutex), 0);
    EXPECT_EQ(VELD_OSA_LockSema(mutex, 0), 0);
    XUTIL_UnlockMutex(mutex);
    VELD_HOST_UnlinkSema(name.c_str());
}

}  // namespace
