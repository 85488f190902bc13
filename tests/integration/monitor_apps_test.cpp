// The monitor's quick menu in a running veldd, driven with keys as the platform's other
// processes send them: into an app and back with key 109, checked on the frame buffer.
#include <gtest/gtest.h>

#include "daemon_process.h"
#include "frame_probe.h"

namespace {

using veld::test::DaemonProcess;
using veld::test::Frame;
using veld::test::sendKeys;
using veld::test::TestRoot;
using veld::test::waitFrame;

// The menu window at (20, 20), 180 wide: a 24-pixel title bar, then lines of 24 pixels.
constexpr int kMenuX = 20, kMenuY = 20, kMenuWidth = 180, kLine = 24;
constexpr uint16_t kUp = 91, kDown = 47, kSelect = 10, kClose = 109;

int lineTop(int line) { return kMenuY + kLine * (line + 1); }
bool titleShown(const Frame& f) { return f.at(kMenuX + 170, kMenuY + 2) == 5; }
bool cursorOn(const Frame& f, int line) { return f.at(kMenuX + 175, lineTop(line) + 2) == 2; }
// White label pixels on a line that is not the cursor's.
bool lineHasText(const Frame& f, int line) { return f.count(kMenuX, lineTop(line), kMenuWidth, kLine, 3) > 0; }

class MonitorApps : public ::testing::Test {
protected:
    void SetUp() override {
        veld::test::Process board;
        ASSERT_TRUE(board.start(veld::test::builtProgram("sim/veld_board"),
                                {"veld_board", "--root", root_.root(), "--once"}, {}, root_.path("/board.out")));
        ASSERT_EQ(board.wait(std::chrono::milliseconds(5000)), 0);
        ASSERT_TRUE(veldd_.startAndWait());
        veld::test::sendMessage(0x4bf10003);
        // The menu opens with the monitor: six folded headers, the cursor on the first.
        ASSERT_TRUE(waitFrame(frame_, 0, [](const Frame& f) {
            return titleShown(f) && cursorOn(f, 0) && lineHasText(f, 5) && !lineHasText(f, 6);
        })) << veldd_.log();
    }

    TestRoot root_;
    DaemonProcess veldd_{root_};
    Frame frame_;
};

TEST_F(MonitorApps, LogErrorCountsFromTheQuickMenuAndBackWithKey109) {
    sendKeys({kSelect});  // unfold "SYSTEM/Info": seven items below it
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) {
        return cursorOn(f, 0) && lineHasText(f, 7) && lineHasText(f, 11);
    })) << veldd_.log();

    // "LOGM Info": one line per module with errors, in the app window that takes the menu's
    // place; a module without errors is left out.
    root_.writeFile("/proc/logm/vdec", "module vdec\n\terror log count=5\n");
    root_.writeFile("/proc/logm/adec", "module adec\n\terror log count=0\n");
    root_.writeFile("/proc/logm/gpu", "module gpu\n\terror log count=12\n");
    sendKeys({kDown, kDown, kSelect});
    const auto viewerShown = [](const Frame& f) {
        return f.at(kMenuX + 250, kMenuY + 5) == 1 && f.at(kMenuX + 170, kMenuY + 2) != 5 &&
               f.count(kMenuX + 10, kMenuY + 10, 200, 30, 3) > 0;
    };
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, viewerShown)) << veldd_.log();
    // Text lines 15 pixels apart from y 30 of the screen: two modules, nothing after them.
    EXPECT_GT(frame_.count(30, 30, 300, 15, 3), 0);
    EXPECT_GT(frame_.count(30, 45, 300, 15, 3), 0);
    EXPECT_EQ(frame_.count(30, 60, 300, 60, 3), 0) << "a module without errors is not listed";

    sendKeys({kClose});
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) {
        return titleShown(f) && cursorOn(f, 2) && f.at(kMenuX + 250, kMenuY + 5) == 0;
    })) << veldd_.log();
}

TEST_F(MonitorApps, SettingsFromTheQuickMenuAndBackWithKey109) {
    sendKeys({kDown, kDown, kDown, kDown, kDown, kSelect});  // unfold "TV CTRL"
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) {
        return cursorOn(f, 5) && lineHasText(f, 6) && lineHasText(f, 7) && !lineHasText(f, 8);
    })) << veldd_.log();

    sendKeys({kDown, kSelect});  // "Settings": the 380 x 600 app window takes the place
    const auto settingsShown = [](const Frame& f) {
        return f.at(kMenuX + 300, kMenuY + 5) == 1 && f.at(kMenuX + 250, kMenuY + 62) == 2 &&
               f.at(kMenuX + 379, kMenuY + 599) == 1 && f.at(kMenuX + 380, kMenuY + 5) == 0;
    };
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, settingsShown)) << veldd_.log();
    EXPECT_NE(frame_.at(kMenuX + 170, kMenuY + 2), 5) << "no menu title over the app";
    EXPECT_GT(frame_.count(kMenuX + 10, kMenuY + 10, 360, 24, 3), 0) << "the note at the top";

    sendKeys({kDown});  // the second row becomes current in the app, not in the menu
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) {
        return f.at(kMenuX + 250, kMenuY + 62) == 1 && f.at(kMenuX + 250, kMenuY + 94) == 2;
    })) << veldd_.log();

    sendKeys({kClose});  // the app stops, the menu comes back as it was
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) {
        return titleShown(f) && cursorOn(f, 6) && f.at(kMenuX + 300, kMenuY + 5) == 0;
    })) << veldd_.log();
    EXPECT_EQ(frame_.at(kMenuX + 250, kMenuY + 340), 0);

    sendKeys({kUp, kClose});  // keys move the menu again; 109 on the menu hides it
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) {
        return f.count(kMenuX, kMenuY, kMenuWidth, 320, 0) == kMenuWidth * 320;
    })) << veldd_.log();
    sendKeys({kClose});
    ASSERT_TRUE(waitFrame(frame_, frame_.info.frame, [](const Frame& f) { return titleShown(f) && cursorOn(f, 5); }))
        << veldd_.log();
}

}  // namespace
