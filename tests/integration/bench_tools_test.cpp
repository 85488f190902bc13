// The daemon's bench tools as a whole process: the companion launcher and its limits, the
// serial register tool over a pseudo-terminal, the debug keyboard reading input events from
// a FIFO into the monitor's queue, and the low-power command file against the simulated board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <linux/input.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "daemon_process.h"
#include "seam.h"
#include "veldcore_host.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using veld::test::countOf;
using veld::test::DaemonProcess;
using veld::test::eventually;
using veld::test::Process;
using veld::test::TestRoot;

// ---- helpers ------------------------------------------------------------------------------

// The board is mapped once per process, so every look at it happens in a short-lived child
// of the test (which has the test's VELD_NS) and comes back through a pipe.
template <typename Result, typename F>
std::optional<Result> inChild(F work) {
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const Result result = work();
        const ssize_t n = write(fds[1], &result, sizeof result);
        _exit(n == static_cast<ssize_t>(sizeof result) ? 0 : 1);
    }
    close(fds[1]);
    Result result{};
    const ssize_t n = child > 0 ? read(fds[0], &result, sizeof result) : -1;
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    if (n != static_cast<ssize_t>(sizeof result)) return std::nullopt;
    return result;
}

VELD_BOARD_STATE boardState() {
    auto state = inChild<VELD_BOARD_STATE>([] {
        VELD_BOARD_STATE s{};
        VELD_HOST_BoardSnapshot(&s, nullptr, 0);
        return s;
    });
    EXPECT_TRUE(state) << "board snapshot";
    return state.value_or(VELD_BOARD_STATE{});
}

struct RegisterValue {
    bool written;
    uint32_t value;
};

RegisterValue boardRegister(uint32_t address) {
    auto value = inChild<RegisterValue>([address] {
        static VELD_BOARD_REGISTER registers[VELD_BOARD_REGISTERS];
        VELD_BOARD_STATE s{};
        RegisterValue r{false, 0};
        if (VELD_HOST_BoardSnapshot(&s, registers, VELD_BOARD_REGISTERS) != 0) return r;
        for (uint32_t i = 0; i < s.registerCount && i < VELD_BOARD_REGISTERS; ++i)
            if (registers[i].address == address) r = {true, registers[i].value};
        return r;
    });
    return value.value_or(RegisterValue{false, 0});
}

void setBoardRegister(uint32_t address, uint32_t value) {
    auto rc = inChild<int32_t>([=] { return VELD_SYS_RegWriteSimple(address, value); });
    ASSERT_TRUE(rc && *rc == 0);
}

// Removes the board region of the test's namespace (the root removes it too; a test that
// fails halfway still leaves nothing behind).
struct BoardCleanup {
    ~BoardCleanup() { VELD_HOST_UnlinkMemory(VELD_BOARD_REGION); }
};

// Waits until `needle` occurs at least `count` times in the daemon's log.
bool logCount(const DaemonProcess& veldd, const std::string& needle, size_t count,
              std::chrono::milliseconds timeout = 5000ms) {
    return eventually([&] { return countOf(veldd.log(), needle) >= count; }, timeout);
}

std::string builtCompanion() { return fs::canonical(veld::test::builtProgram("daemon/se_veldd")); }

// The secure-engine daemon's start line, which carries its pid.
constexpr const char* kCompanionRunning = "Start SE Daemon Process (";

// Pid from the companion's start line number `index`.
pid_t companionPid(const std::string& log, size_t index) {
    const std::string running = kCompanionRunning;
    size_t at = log.find(running);
    for (size_t seen = 0; seen < index && at != std::string::npos; ++seen)
        at = log.find(running, at + 1);
    if (at == std::string::npos) return -1;
    return static_cast<pid_t>(std::stol(log.substr(at + running.size())));
}

// The companion runs for as long as its netlink peer, the simulated driver, is there.
std::map<std::string, std::string> simulated() { return {{"VELD_SIM", "1"}}; }

std::map<std::string, std::string> daemonEnv(const TestRoot& root, const std::string& log,
                                             const std::string& cmdline = "") {
    return {{"VELD_ROOT", root.root()},
            {"VELD_NS", root.ns()},
            {"VELD_LOG", log},
            {"VELD_CMDLINE", cmdline}};
}

// ---- companion launcher -------------------------------------------------------------------

TEST(Launcher, CompanionEndedBySignalIsStartedAgain) {
    TestRoot root;
    BoardCleanup board;
    veld::test::TrustedWorldSim world(root);
    ASSERT_TRUE(world.ready());
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "", simulated()));
    const std::string companion = builtCompanion();
    ASSERT_TRUE(logCount(veldd, kCompanionRunning, 1)) << veldd.log();
    const pid_t first = companionPid(veldd.log(), 0);
    ASSERT_GT(first, 0);
    EXPECT_NE(veldd.log().find("Launch : " + companion + "\n"), std::string::npos);

    ASSERT_EQ(kill(first, SIGKILL), 0);
    ASSERT_TRUE(logCount(veldd, kCompanionRunning, 2)) << veldd.log();
    const std::string log = veldd.log();
    const size_t signaled = log.find("Signaled - " + companion + " : 9\n");
    ASSERT_NE(signaled, std::string::npos) << log;
    EXPECT_NE(log.find("Launch : " + companion + "\n", signaled), std::string::npos) << log;
    const pid_t second = companionPid(log, 1);
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);

    // The companion ends cleanly on SIGTERM, which is an exit, so it stays down.
    ASSERT_EQ(kill(second, SIGTERM), 0);
    EXPECT_TRUE(logCount(veldd, "Terminated - " + companion + " : 0\n", 1)) << veldd.log();
}

TEST(Launcher, CompanionStopsWithTheDaemon) {
    TestRoot root;
    BoardCleanup board;
    veld::test::TrustedWorldSim world(root);
    ASSERT_TRUE(world.ready());
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "", simulated()));
    ASSERT_TRUE(logCount(veldd, kCompanionRunning, 1)) << veldd.log();
    const pid_t companion = companionPid(veldd.log(), 0);
    ASSERT_GT(companion, 0);
    // Only the daemon is killed, not its process group.
    ASSERT_EQ(kill(veldd.process().pid(), SIGKILL), 0);
    EXPECT_EQ(veldd.process().wait(5000ms), 128 + SIGKILL);
    EXPECT_TRUE(logCount(veldd, "se_veldd(" + std::to_string(companion) + ") stopping on signal 15",
                         1))
        << veldd.log();
}

// A companion that ends by itself, or can't be executed, is started once and never again.
TEST(Launcher, CompanionThatEndsByItselfIsNotRestarted) {
    struct Case {
        const char* script;  // null: no companion at all
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"#!/bin/sh\nexit 3\n", {"Terminated - @ : 3\n"}},
        {nullptr,
         {"execl(@) : No such file or directory(2)\n", "Terminate : @\n", "Terminated - @ : 0\n"}},
    };
    for (const Case& c : cases) {
        TestRoot root;
        BoardCleanup board;
        const fs::path bin = fs::path(root.root()) / "bin";
        fs::create_directories(bin);
        fs::copy_file(DaemonProcess::program(), bin / "veldd");
        const std::string companion = (bin / "se_veldd").string();
        if (c.script) {
            std::ofstream(companion) << c.script;
            fs::permissions(companion, fs::perms::owner_all);
        }
        Process veldd;
        const std::string log = root.path("/veldd.log");
        ASSERT_TRUE(veldd.start((bin / "veldd").string(), {(bin / "veldd").string(), "-f"},
                                daemonEnv(root, log), root.path("/veldd.out")));
        auto text = [&] { return root.readFile("/veldd.log"); };
        for (std::string line : c.lines) {
            line.replace(line.find('@'), 1, companion);
            EXPECT_TRUE(eventually([&] { return text().find(line) != std::string::npos; }))
                << line << text();
        }
        // Longer than the launcher's pause before a restart.
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(countOf(text(), "Launch : " + companion + "\n"), 1u) << text();
        veldd.kill(SIGKILL);
    }
}

// The executable's path must fit the launcher's 256-byte buffer with the companion's name.
TEST(Launcher, ExecutablePathLimits) {
    struct Case {
        size_t executableLength;  // bytes of the daemon's own path
        const char* expected;
    };
    // "veldd" is 5 bytes: a 254-byte path has a 249-byte directory part, too long for the
    // 8-byte companion name; 252 leaves exactly 255 bytes for the companion's path.
    const Case cases[] = {
        {256, "Too long path (256)\n"},
        {300, "Too long path (256)\n"},
        {254, "Too long daemon name (se_veldd)\n"},
        {252, "Launch : "},
    };
    for (const Case& c : cases) {
        TestRoot root;
        BoardCleanup board;
        std::string dir = fs::canonical(root.root()).string() + "/d";
        const size_t dirLength = c.executableLength - std::strlen("/veldd");
        ASSERT_LT(dir.size(), dirLength);
        while (dir.size() < dirLength) {
            const size_t room = dirLength - dir.size();
            // Components of at most 200 bytes, never a 1-byte remainder after a '/'.
            const size_t part = room <= 201 ? room - 1 : (room - 201 >= 2 ? 200 : 150);
            dir += "/" + std::string(part, 'p');
        }
        ASSERT_EQ(dir.size(), dirLength);
        fs::create_directories(dir);
        const std::string program = dir + "/veldd";
        fs::copy_file(DaemonProcess::program(), program);
        ASSERT_EQ(program.size(), c.executableLength);

        Process veldd;
        ASSERT_TRUE(veldd.start(program, {program, "-f"}, daemonEnv(root, root.path("/veldd.log")),
                                root.path("/veldd.out")));
        auto text = [&] { return root.readFile("/veldd.log"); };
        EXPECT_TRUE(eventually([&] { return text().find(c.expected) != std::string::npos; }))
            << c.executableLength << "\n" << text();
        if (std::string(c.expected) == "Launch : ")
            EXPECT_NE(text().find("Launch : " + dir + "/se_veldd\n"), std::string::npos);
        else
            EXPECT_EQ(text().find("Launch : "), std::string::npos);
        veldd.kill(SIGKILL);
    }
}

// ---- serial register tool -----------------------------------------------------------------

class RegisterTool : public ::testing::Test {
protected:
    static constexpr unsigned long kPrefixBytes = 3;

    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slaveName_ = ptsname(master_);
        fs::create_symlink(slaveName_, root_.path("/dev/ttyAMA1"));
        ASSERT_TRUE(veldd_.startAndWait());
        startTool();
    }

    void TearDown() override { hangUp(); }

    // The port goes away and the line hangs up. The link goes first: a pseudo-terminal number
    // is soon reused (by a test running beside this one), and the tool must not reopen that.
    void hangUp() {
        std::error_code ec;
        fs::remove(root_.path("/dev/ttyAMA1"), ec);
        if (master_ >= 0) close(master_);
        master_ = -1;
    }

    void startTool() {
        const size_t started = countOf(veldd_.log(), "+ starting regster_access_tool_task...");
        std::string error;
        auto client = veld::tools::DaemonClient::open(error);
        ASSERT_TRUE(client) << error;
        auto reply =
            client->request(veld::tools::makeRequest(veld::msg::kSysRegTool, true), 2000, error);
        ASSERT_TRUE(reply) << error;
        EXPECT_EQ(reply->flags, veld::msg::kFlagReply);
        // The line settings are in place once the task says it started.
        ASSERT_TRUE(logCount(veldd_, "+ starting regster_access_tool_task...", started + 1))
            << veldd_.log();
    }

    void send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Up to `count` bytes that arrive within `timeout`.
    std::vector<uint8_t> receive(size_t count, std::chrono::milliseconds timeout = 2000ms) {
        std::vector<uint8_t> bytes;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd ready{master_, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t chunk[64];
            const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    int pendingOnLine() {
        int pending = -1;
        ioctl(master_, FIONREAD, &pending);
        return pending;
    }

    // The register tool's thread in the kernel's view, "" when there is none.
    std::string toolTask() {
        const std::string tasks = "/proc/" + std::to_string(veldd_.process().pid()) + "/task";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(tasks, ec)) {
            std::ifstream comm(entry.path() / "comm");
            std::string name;
            std::getline(comm, name);
            if (name == "reg_tool_task") return entry.path();
        }
        return "";
    }

    // Whether the tool sleeps in read(2) for a request's 3-byte prefix.
    bool toolWaitsForPrefix() {
        const std::string task = toolTask();
        if (task.empty()) return false;
        std::ifstream syscall(task + "/syscall");
        long number = -1;
        std::string fd, buffer, count;
        syscall >> number >> fd >> buffer >> count;
        return syscall && number == SYS_read && std::stoul(count, nullptr, 16) == kPrefixBytes;
    }

    // How often the tool has gone to sleep: it sleeps once more after every wake-up.
    long toolSwitches() {
        std::ifstream status(toolTask() + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
        return -1;
    }

    static std::vector<uint8_t> readRequest(uint32_t address) {
        return {'r', 'd', 0x00, static_cast<uint8_t>(address >> 24),
                static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(address), 0x00};
    }

    TestRoot root_;
    BoardCleanup board_;
    DaemonProcess veldd_{root_};
    int master_ = -1;
    std::string slaveName_;
};

TEST_F(RegisterTool, ReadIsAnsweredByteForByte) {
    setBoardRegister(0x12345678, 0xCAFEF00D);
    send({'r', 'd', 0x00, 0x12, 0x34, 0x56, 0x78, 0x00});
    EXPECT_EQ(receive(8, 300ms), (std::vector<uint8_t>{'r', 'd', 0xCA, 0xFE, 0xF0, 0x0D, 0x00}));
    EXPECT_TRUE(logCount(veldd_, "READ ADDR[12345678] DATA:[cafef00d] ret[0]\n", 1));

    // A register never written reads as 0; the bytes between the fields are "any".
    send({'r', 'd', 0xEE, 0x00, 0x00, 0x10, 0x04, 0xEE});
    EXPECT_EQ(receive(7), (std::vector<uint8_t>{'r', 'd', 0, 0, 0, 0, 0}));
}

TEST_F(RegisterTool, WriteChangesTheRegisterAndIsNotAnswered) {
    send({'w', 'r', 0xAA, 0x00, 0x00, 0xAB, 0xCD, 0xBB, 0x11, 0x22, 0x33, 0x44, 0xCC});
    ASSERT_TRUE(logCount(veldd_, "WRITE ADDR[    abcd] DATA:[11223344]  ret[0]\n", 1))
        << veldd_.log();
    const RegisterValue written = boardRegister(0xABCD);
    EXPECT_TRUE(written.written);
    EXPECT_EQ(written.value, 0x11223344u);
    EXPECT_EQ(pendingOnLine(), 0) << "a write is not answered";

    // The next read finds exactly its own 7-byte reply on the line.
    send(readRequest(0xABCD));
    EXPECT_EQ(receive(8, 300ms), (std::vector<uint8_t>{'r', 'd', 0x11, 0x22, 0x33, 0x44, 0}));
}

TEST_F(RegisterTool, AfterGarbageAndTheIdleWaitTheFirstRequestIsAnswered) {
    setBoardRegister(0x00C0FFEE, 0x01020304);
    ASSERT_TRUE(eventually([&] { return toolWaitsForPrefix(); }));
    const long switches = toolSwitches();
    send({'x', 'y', 'z'});
    EXPECT_TRUE(receive(1, 300ms).empty()) << "garbage has no answer";
    // The idle wait: the tool has taken the garbage, dropped what was pending with it, and
    // waits for a prefix again. A request sent now is the next thing it reads.
    ASSERT_TRUE(eventually([&] { return toolSwitches() > switches && toolWaitsForPrefix(); }));
    send(readRequest(0x00C0FFEE));
    EXPECT_EQ(receive(7), (std::vector<uint8_t>{'r', 'd', 0x01, 0x02, 0x03, 0x04, 0}));
}

TEST_F(RegisterTool, HungUpPortEndsTheTaskInsteadOfSpinning) {
    hangUp();
    ASSERT_TRUE(logCount(veldd_, "line lost on /dev/ttyAMA1 (", 1)) << veldd_.log();
    // The port is gone for good, so reopening it fails and the task ends.
    EXPECT_TRUE(logCount(veldd_, " open fail [-1]\n", 1)) << veldd_.log();
    EXPECT_TRUE(std::regex_search(veldd_.log(), std::regex(" open fail \\[-1\\]\n.* open fail: " +
                                                           root_.path("/dev/ttyAMA1") + ": [A-Z][a-z ]+\n")))
        << "the second line names the device and the error: " << veldd_.log();
    EXPECT_TRUE(eventually([&] {
        return veld::test::threadsNamed(veldd_.process().pid(), "reg_tool_task") == 0;
    })) << "the task has ended";
    EXPECT_TRUE(veldd_.ping()) << "the daemon is unaffected";
}

// Monotonic times (seconds) of the log lines that contain `needle`.
std::vector<double> lineTimes(const std::string& log, const std::string& needle) {
    std::vector<double> times;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find(needle) != std::string::npos) times.push_back(std::stod(line));
    return times;
}

TEST_F(RegisterTool, PortThatReadsNothingIsReopenedWithGrowingPauses) {
    // A port that opens but reads 0 bytes at once, for ever: asked again immediately it would
    // keep a core busy.
    fs::remove(root_.path("/dev/ttyAMA1"));
    fs::create_symlink("/dev/null", root_.path("/dev/ttyAMA1"));
    startTool();
    const std::string lost = "line lost on /dev/ttyAMA1 (hung up), reopening in ";
    ASSERT_TRUE(logCount(veldd_, lost, 4)) << veldd_.log();
    const std::string log = veldd_.log();
    for (const char* pause : {"100 ms", "200 ms", "400 ms"})
        EXPECT_NE(log.find(lost + pause), std::string::npos) << pause;
    const std::vector<double> times = lineTimes(log, lost);
    ASSERT_GE(times.size(), 4u);
    for (size_t i = 1; i < 4; ++i)
        EXPECT_GE(times[i] - times[i - 1], 0.1 * (1 << (i - 1)) - 0.001) << "pause " << i;
    EXPECT_TRUE(veldd_.ping());
}

// ---- debug keyboard -----------------------------------------------------------------------

input_event keyEvent(uint16_t type, uint16_t code, int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

TEST(DebugKeyboard, KeyPressesReachTheMonitorQueue) {
    TestRoot root;
    BoardCleanup board;
    std::ifstream fixture(VELD_FIXTURES "/input_devices.txt");
    ASSERT_TRUE(fixture) << "fixture";
    std::stringstream devices;
    devices << fixture.rdbuf();
    root.writeFile("/proc/bus/input/devices", devices.str());
    fs::create_directories(root.path("/dev/input"));
    const std::string fifo = root.path("/dev/input/event3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "quiet ssm.keyboard=1"));
    ASSERT_TRUE(logCount(veldd, "<!> starting keyboard handler...(debug only)\n", 1))
        << veldd.log();

    // Opening for writing succeeds once the task has the FIFO open for reading.
    int writer = -1;
    ASSERT_TRUE(eventually([&] {
        writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        return writer >= 0;
    })) << veldd.log();
    ASSERT_TRUE(logCount(veldd, "keyboard connected to " + fifo + ". fd=", 1)) << veldd.log();
    const std::string log = veldd.log();
    EXPECT_NE(log.find("event3 detected\n"), std::string::npos);
    EXPECT_NE(log.find("can't grab " + fifo), std::string::npos) << "a FIFO can't be grabbed";

    const input_event events[] = {
        keyEvent(EV_KEY, KEY_ENTER, 1), keyEvent(EV_KEY, KEY_ENTER, 2),  // press, repeat
        keyEvent(EV_KEY, KEY_ENTER, 0), keyEvent(EV_SYN, SYN_REPORT, 0),  // release, sync
        keyEvent(EV_MSC, KEY_F, 1),                                     // not a key event
        keyEvent(EV_KEY, KEY_Q, 1),     keyEvent(EV_KEY, KEY_L, 1),
        keyEvent(EV_KEY, KEY_X, 1),
    };
    const auto* bytes = reinterpret_cast<const uint8_t*>(events);
    // The last record arrives in two pieces; the task must wait for the whole record.
    const size_t split = sizeof events - sizeof(input_event) / 2;
    ASSERT_EQ(write(writer, bytes, split), static_cast<ssize_t>(split));
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(write(writer, bytes + split, sizeof events - split),
              static_cast<ssize_t>(sizeof events - split));

    const std::vector<uint16_t> expected = {10, 0xFFFF, 59, 120};  // Enter, Q (-1), L, X
    int queue = -1;
    ASSERT_TRUE(eventually([&] {
        queue = msgget(veld::seam::sysvKey(veld::xdrv::queueKey("uxm-evq")), 0);
        return queue >= 0;
    })) << veldd.log();
    auto queued = [&] {
        msqid_ds info{};
        return msgctl(queue, IPC_STAT, &info) == 0 ? static_cast<size_t>(info.msg_qnum) : 0u;
    };
    ASSERT_TRUE(eventually([&] { return queued() >= expected.size(); })) << veldd.log();
    for (uint16_t code : expected) {
        XEvent event{};
        ASSERT_EQ(XDRV_ReceiveQueue(static_cast<uint32_t>(queue), &event, 0), 0);
        EXPECT_EQ(event.type, XEVENT_KEY);
        EXPECT_EQ(event.key.code, code);
    }
    EXPECT_EQ(queued(), 0u) << "releases, repeats and other events send nothing";
    EXPECT_NE(veldd.log().find("event3, type: 0x 1, code: 0x1c, val: 0x0001\n"), std::string::npos)
        << veldd.log();
    close(writer);
    // Stop the daemon before its queue is removed, so that nothing recreates it.
    veldd.process().kill(SIGKILL);
    veld::test::removeQueue(veld::xdrv::queueKey("uxm-evq"));
}

// ---- low-power command file ---------------------------------------------------------------

TEST(LowPowerFile, CommandLinesDriveTheBoard) {
    TestRoot root;
    BoardCleanup board;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "", {{"VELD_CHIP", "35"}}));
    const std::string file = root.path("/tmp/adjust_cmd.txt");
    // The file does not exist yet: the monitor creates it while adding its watch.
    ASSERT_TRUE(logCount(veldd, "<!> Launch monitor for /tmp/adjust_cmd.txt\n", 1)) << veldd.log();
    ASSERT_TRUE(logCount(veldd, "/tmp/adjust_cmd.txt created\n", 1)) << veldd.log();
    EXPECT_TRUE(fs::exists(file));

    auto writeCommand = [&](const std::string& text) { std::ofstream(file) << text; };
    auto handled = [&](const std::string& fields) {
        return "/tmp/adjust_cmd.txt argc=" + fields + "\n";
    };
    // The watch is added a pause after the creation: repeat the first command until it works.
    ASSERT_TRUE(eventually(
        [&] {
            writeCommand("aa 0\n");
            return eventually([&] { return boardState().lowPower == 1; }, 300ms);
        },
        6000ms))
        << veldd.log();
    // Let every repeat of it land before counting from here.
    writeCommand("sync 1\n");
    ASSERT_TRUE(logCount(veldd, handled("2, argv=sync,01"), 1)) << veldd.log();

    struct Step {
        const char* text;      // null: open and close without writing
        const char* logged;    // the handler's line for it
        uint32_t lowPower;
        uint32_t enters;       // increments
        uint32_t exits;
    };
    const Step steps[] = {
        {"AA 90\n", "2, argv=AA,90", 0, 0, 1},     // the command ignores case
        {"aa 0\n", "2, argv=aa,00", 1, 1, 0},
        {"aa\n", "1, argv=aa,-1", 1, 0, 0},        // no number: argument -1 matches no row
        {nullptr, nullptr, 1, 0, 0},               // opening without writing does nothing
        {"aA 90\naa 0\n", "2, argv=aa,00", 1, 1, 1},  // every line, both rows
        {"aa 0\n", "2, argv=aa,00", 1, 1, 0},         // the same command again repeats it
        {"aa 9\nbb 90\n", "2, argv=bb,90", 1, 0, 0},
    };
    int marker = 1;
    for (const Step& step : steps) {
        VELD_BOARD_STATE before = boardState();
        if (step.text) {
            const size_t seen = countOf(veldd.log(), handled(step.logged));
            writeCommand(step.text);
            ASSERT_TRUE(logCount(veldd, handled(step.logged), seen + 1)) << step.text;
        } else {
            // A live command in the file, handled once; then the file is only opened (for
            // reading) and closed.
            const size_t seen = countOf(veldd.log(), handled("2, argv=aa,00"));
            writeCommand("aa 0\n");
            ASSERT_TRUE(logCount(veldd, handled("2, argv=aa,00"), seen + 1));
            before = boardState();
            std::ifstream(file).close();
        }
        // Events are handled in order: once a later marker is handled, this step is done.
        writeCommand("sync " + std::to_string(++marker) + "\n");
        char fields[32];
        std::snprintf(fields, sizeof fields, "2, argv=sync,%02d", marker);
        ASSERT_TRUE(logCount(veldd, handled(fields), 1)) << veldd.log();
        const VELD_BOARD_STATE after = boardState();
        const std::string what = step.text ? step.text : "(opened only)";
        EXPECT_EQ(after.lowPower, step.lowPower) << what;
        EXPECT_EQ(after.lowPowerEnters - before.lowPowerEnters, step.enters) << what;
        EXPECT_EQ(after.lowPowerExits - before.lowPowerExits, step.exits) << what;
    }
}

}  // namespace
