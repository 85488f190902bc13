// The system status monitor in a running veldd: started by 0x4bf10003, panels toggled with
// key 73, checked on the pixels of the frame buffer.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "daemon_process.h"
#include "frame_probe.h"

namespace {

using namespace std::chrono_literals;
using veld::test::DaemonProcess;
using veld::test::TestRoot;

using veld::test::Frame;
using veld::test::waitFrame;

void send(uint32_t id, uint32_t data1 = 0) { veld::test::sendMessage(id, data1); }

TEST(Monitor, PanelsStackAtTheRightEdgeAndToggleWithKey73) {
    TestRoot root;
    veld::test::Process board;
    ASSERT_TRUE(board.start(veld::test::builtProgram("sim/veld_board"),
                            {"veld_board", "--root", root.root(), "--once"}, {}, root.path("/board.out")));
    ASSERT_EQ(board.wait(5000ms), 0);
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    send(0x4bf10003);

    Frame f;
    // At start the panels run but are hidden: the screen is clear.
    ASSERT_TRUE(waitFrame(f, 0, [](const Frame&) { return true; })) << veldd.log();
    EXPECT_EQ(f.info.width, 1920u);
    EXPECT_EQ(f.at(1700, 30), 0);

    send(0x4bf20001, 73);
    // The panels' text comes with their first one-second refresh: white glyph pixels
    // (index 3) inside the CPU panel.
    const auto panelsShown = [](const Frame& fr) {
        for (int y = 20; y < 140; ++y)
            for (int x = 1590; x < 1890; ++x)
                if (fr.at(x, y) == 3) return fr.at(1585, 25) == 1;
        return false;
    };
    ASSERT_TRUE(waitFrame(f, f.info.frame, panelsShown)) << veldd.log();
    // The column starts 340 pixels from the right edge and is 320 wide; CPU 120 high at
    // y 20, then memory (255), bandwidth (33) and frame rate (33), 8 pixels apart.
    struct Probe {
        int x, y;
        uint8_t index;
    } probes[] = {
        {1579, 25, 0},  {1580, 25, 1},  {1899, 25, 1},  {1900, 25, 0},   // CPU panel edges
        {1585, 19, 0},  {1585, 20, 1},  {1585, 139, 1}, {1585, 140, 0},  // CPU top and bottom
        {1585, 148, 1}, {1585, 402, 1}, {1585, 405, 0},                  // memory
        {1585, 411, 1}, {1585, 443, 1}, {1585, 447, 0},                  // bandwidth
        {1585, 452, 1}, {1585, 484, 1}, {1585, 486, 0},                  // frame rate
    };
    for (const Probe& p : probes) EXPECT_EQ(f.at(p.x, p.y), p.index) << p.x << "," << p.y;
    EXPECT_EQ(f.info.palette[1], 0xc0404040u);

    send(0x4bf20001, 73);
    ASSERT_TRUE(waitFrame(f, f.info.frame, [](const Frame& fr) { return fr.at(1585, 25) == 0; }))
        << "a second key 73 hides the panels";
    EXPECT_EQ(f.at(1585, 452), 0);
}

TEST(Monitor, LogPanelWritesALoadLineEverySecond) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    send(0x4bf10003);
    send(0x4bf20001, 49);
    ASSERT_TRUE(veld::test::eventually(
        [&] { return veld::test::countOf(veldd.log(), "CPU: ") >= 2; }, 6000ms))
        << veldd.log();
    send(0x4bf20001, 49);  // off again: the lines stop
    std::this_thread::sleep_for(1200ms);
    const size_t lines = veld::test::countOf(veldd.log(), "CPU: ");
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(veld::test::countOf(veldd.log(), "CPU: "), lines);
}

// The simulated board: the bus monitor's columns stand under their headers, files keep changing
// while the board runs, and its spare files never show in the folders that readers list.
TEST(SimulatedBoard, ColumnsLineUpAndFilesChangeInPlace) {
    TestRoot root;
    veld::test::Process board;
    ASSERT_TRUE(board.start(veld::test::builtProgram("sim/veld_board"),
                            {"veld_board", "--root", root.root(), "--period", "20"}, {}, root.path("/board.out")));
    std::string first;
    ASSERT_TRUE(veld::test::eventually([&] {
        first = root.readFile("/proc/qv/fbdev/fb0/status");
        return !first.empty();
    }));
    EXPECT_TRUE(veld::test::eventually([&] { return root.readFile("/proc/qv/fbdev/fb0/status") != first; }))
        << "the frame counter moves";

    std::istringstream pmt(root.readFile("/proc/qv/qvbus/pmtinfo"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(pmt, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    // The right edge of every header word, and of every number below it.
    auto rightEdges = [](const std::string& line, size_t from) {
        std::vector<size_t> edges;
        for (size_t i = from; i < line.size(); ++i)
            if (line[i] != ' ' && (i + 1 == line.size() || line[i + 1] == ' ')) edges.push_back(i);
        return edges;
    };
    const std::vector<size_t> header = rightEdges(lines[1], 0);
    ASSERT_EQ(header.size(), 4u) << lines[1];
    for (size_t row = 2; row < lines.size(); ++row)
        EXPECT_EQ(rightEdges(lines[row], lines[row].find(' ')), header) << lines[1] << "\n" << lines[row];

    for (const char* folder : {"/proc/logm", "/proc/hma/surface", "/proc/qv/fbdev/fb0"})
        for (const auto& entry : std::filesystem::directory_iterator(root.path(folder)))
            EXPECT_EQ(entry.path().filename().string().rfind('.', 0), std::string::npos) << entry.path();
    board.kill(SIGTERM);
    EXPECT_EQ(board.wait(5000ms), 0);
}

}  // namespace
