// veldctl metrics and the daemon's start-up metrics log over the simulated board: live lines and
// CSV from a running monitor, the start-up log bounded in size and rotated once, and a clear
// message without a hang when no collectors run.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "daemon_process.h"
#include "frame_probe.h"
#include "ssm_metrics.h"

namespace {

using namespace std::chrono_literals;
using veld::test::DaemonProcess;
using veld::test::Process;
using veld::test::TestRoot;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Runs veldctl with the arguments; returns its exit status (-1 when it hangs) and its output.
int veldctl(const TestRoot& root, const std::vector<std::string>& args, std::string& output,
            std::chrono::milliseconds timeout = 5000ms) {
    std::vector<std::string> argv = {"veldctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p;
    std::remove(root.path("/veldctl.out").c_str());
    if (!p.start(veld::test::builtProgram("tools/veldctl"), argv, {}, root.path("/veldctl.out"))) return -2;
    const int status = p.wait(timeout);
    output = root.readFile("/veldctl.out");
    return status;
}

// The index of a CSV column by name.
size_t column(const std::string& header, const std::string& name) {
    const auto cells = [&] {
        std::vector<std::string> out;
        std::istringstream in(header);
        for (std::string cell; std::getline(in, cell, ',');) out.push_back(cell);
        return out;
    }();
    return static_cast<size_t>(std::find(cells.begin(), cells.end(), name) - cells.begin());
}

std::string cell(const std::string& row, size_t index) {
    std::istringstream in(row);
    std::string c;
    for (size_t i = 0; i <= index && std::getline(in, c, ','); ++i) {
    }
    return c;
}

TEST(Metrics, NoCollectorsSaysHowToStartThemAndDoesNotHang) {
    TestRoot root;
    std::string out;
    EXPECT_EQ(veldctl(root, {"metrics"}, out, 3000ms), 1) << out;
    EXPECT_NE(out.find("collectors are not running in namespace " + root.ns()), std::string::npos) << out;
    EXPECT_NE(out.find("veldctl monitor"), std::string::npos) << out;

    EXPECT_EQ(veldctl(root, {"metrics", "--plot", "x.png"}, out), 2) << "--plot without a CSV: " << out;
    EXPECT_EQ(veldctl(root, {"metrics", "--duration", "0"}, out), 2) << out;
}

TEST(Metrics, LiveLinesCsvAndTheBoundedStartupLogOverTheSimulatedBoard) {
    TestRoot root;
    Process board;
    ASSERT_TRUE(board.start(veld::test::builtProgram("sim/veld_board"), {"veld_board", "--root", root.root()}, {},
                            root.path("/board.out")));
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "ssm.metrics_log=/tmp/metrics.csv ssm.metrics_log_kb=1"));
    ASSERT_TRUE(veld::test::eventually([&] { return veldd.ping(); })) << veldd.log();
    veld::test::sendMessage(0x4bf10003);  // veldctl gives a starting monitor a moment

    // veldctl follows the record: a header with units, lines of at most 100 characters, the
    // CSV and the summary.
    std::string out;
    ASSERT_EQ(veldctl(root, {"metrics", "--duration", "3.5", "--csv", root.path("/live.csv")}, out, 10000ms), 0)
        << out << veldd.log();
    const auto lines = linesOf(out);
    ASSERT_GE(lines.size(), 5u) << out;
    EXPECT_NE(lines[1].find("MB/s"), std::string::npos) << out;
    size_t samples = 0;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 100u) << line;
        if (line.size() == lines[0].size() && &line != &lines[0] && &line != &lines[1]) ++samples;
    }
    EXPECT_GE(samples, 2u) << out;
    EXPECT_NE(out.find("summary of "), std::string::npos) << out;
    EXPECT_NE(out.find("cpu_pct"), std::string::npos) << out;

    const auto csv = linesOf(root.readFile("/live.csv"));
    ASSERT_GE(csv.size(), 3u);
    EXPECT_EQ(csv[0] + "\n", veld::ssm::metrics::csvHeader());
    const std::string& last = csv.back();
    for (const char* name : {"mono_s", "wall_utc", "cpu_pct", "mem_used_MB", "ddr0_pct", "fb0_fps"})
        EXPECT_FALSE(cell(last, column(csv[0], name)).empty()) << name << " in " << last;
    const double fps = std::stod(cell(last, column(csv[0], "fb0_fps")));
    // The board flips fb0 60 times a second; a loaded machine may starve it of a few frames, but
    // the rate never exceeds its pace and does not collapse.
    EXPECT_LE(fps, 63.0) << last;
    EXPECT_GE(fps, 30.0) << last;

    // Ctrl-C ends a run like --duration does: with the summary, and successfully.
    Process interrupted;
    ASSERT_TRUE(interrupted.start(veld::test::builtProgram("tools/veldctl"), {"veldctl", "metrics"}, {},
                                  root.path("/interrupted.out")));
    ASSERT_TRUE(veld::test::eventually([&] { return linesOf(root.readFile("/interrupted.out")).size() >= 3; }))
        << root.readFile("/interrupted.out");
    interrupted.kill(SIGINT);
    EXPECT_EQ(interrupted.wait(3000ms), 0);
    EXPECT_NE(root.readFile("/interrupted.out").find("summary of "), std::string::npos)
        << root.readFile("/interrupted.out");

    // The start-up log rotates once at 1 KiB: both files bounded, whole lines of whole rows.
    const std::string log = root.path("/tmp/metrics.csv");
    ASSERT_TRUE(veld::test::eventually([&] { return std::filesystem::exists(log + ".1"); }, 15000ms))
        << root.readFile("/tmp/metrics.csv") << veldd.log();
    const size_t cells = static_cast<size_t>(std::count(csv[0].begin(), csv[0].end(), ','));
    for (const std::string& file : {std::string("/tmp/metrics.csv"), std::string("/tmp/metrics.csv.1")}) {
        const std::string text = root.readFile(file);
        EXPECT_LE(text.size(), 1024u) << file;
        ASSERT_FALSE(text.empty()) << file;
        EXPECT_EQ(text.back(), '\n') << file;
        const auto rows = linesOf(text);
        EXPECT_EQ(rows[0] + "\n", veld::ssm::metrics::csvHeader()) << file;
        for (const std::string& row : rows)
            EXPECT_EQ(static_cast<size_t>(std::count(row.begin(), row.end(), ',')), cells) << file << ": " << row;
    }
    EXPECT_NE(veldd.log().find("<!> metrics log /tmp/metrics.csv (1 KiB"), std::string::npos) << veldd.log();

    // A daemon that is gone leaves its record behind: veldctl notices and says so.
    veldd.process().kill(SIGKILL);
    veldd.process().wait(2000ms);
    EXPECT_EQ(veldctl(root, {"metrics"}, out, 3000ms), 1) << out;
    EXPECT_NE(out.find("the daemon that published them is gone"), std::string::npos) << out;
    board.kill(SIGTERM);
    board.wait(2000ms);

    // The recorded CSV plots.
    ASSERT_EQ(veldctl(root, {"metrics", "--plot", root.path("/live.png"), "--csv", root.path("/live.csv")}, out), 0)
        << out;
    EXPECT_TRUE(std::filesystem::file_size(root.path("/live.png")) > 1000);
}

}  // namespace
