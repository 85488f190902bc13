// veldctl as an operator meets it: one argument check for every command (extra, missing,
// malformed, unknown), numbers that are never octal, and the commands against a running, then
// a stopped daemon (status, key without the monitor, send outside the groups, registers, clean).
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "cli.h"
#include "daemon_process.h"
#include "daemon_state.h"
#include "test_root.h"

namespace {

using namespace std::chrono_literals;
using veld::test::DaemonProcess;
using veld::test::TestRoot;

struct Result {
    int status;
    std::string out;
    std::string err;
};

// veldctl in this process: argument checks and commands that fail before touching the board.
Result inProcess(std::vector<std::string> args) {
    args.insert(args.begin(), "veldctl");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = veld::tools::runVeldctl(static_cast<int>(args.size()), argv.data());
    const std::string out = testing::internal::GetCapturedStdout();
    return {status, out, testing::internal::GetCapturedStderr()};
}

// The built veldctl in a child process (the board is mapped once per process).
Result program(const TestRoot& root, std::vector<std::string> args) {
    const std::string veldctl = veld::test::builtProgram("tools/veldctl");
    args.insert(args.begin(), veldctl);
    static int runs = 0;
    const std::string out = "/veldctl" + std::to_string(++runs) + ".out";
    veld::test::Process p;
    if (!p.start(veldctl, args, {}, root.path(out))) return {-1, "", ""};
    const int status = p.wait(10s);
    return {status, root.readFile(out), ""};
}

std::string joined(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) s += a + " ";
    return s;
}

TEST(Veldctl, EveryCommandChecksItsArgumentsTheSameWay) {
    TestRoot root;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"frob"}, 2, "veldctl: unknown command 'frob'"},
        {{"ping", "extra"}, 2, "veldctl ping: unexpected argument 'extra'"},
        {{"ping", "--timeout"}, 2, "veldctl ping: --timeout needs MS"},
        {{"ping", "--timeout", "soon"}, 2, "--timeout needs a number (MS), not 'soon'"},
        {{"ping", "--timeout=010x"}, 2, "--timeout needs a number (MS), not '010x'"},
        {{"ping", "--no-wait"}, 2, "veldctl ping: unknown option --no-wait"},
        {{"send"}, 2, "veldctl send: missing argument (usage: veldctl send ID [DATA0 .. DATA5]"},
        {{"send", "1", "2", "3", "4", "5", "6", "7", "8"}, 2, "unexpected argument '8'"},
        {{"send", "0x4bf1zz"}, 2, "veldctl send: bad id '0x4bf1zz'"},
        {{"send", "0x4bf10001", "x"}, 2, "bad data word 'x'"},
        {{"key"}, 2, "veldctl key: missing argument"},
        {{"key", "up", "down"}, 2, "unexpected argument 'down'"},
        {{"key", "sideways"}, 2, "veldctl key: unknown key 'sideways'"},
        {{"key", "70000"}, 2, "unknown key '70000'"},
        {{"monitor", "now"}, 2, "veldctl monitor: unexpected argument 'now'"},
        {{"monitor", "--no-wait=1"}, 2, "--no-wait takes no value"},
        {{"regtool", "x"}, 2, "veldctl regtool: unexpected argument 'x'"},
        {{"reg"}, 2, "veldctl reg: missing subcommand (read, write)"},
        {{"reg", "peek", "1"}, 2, "veldctl reg: unknown subcommand 'peek' (read, write)"},
        {{"reg", "read"}, 2, "veldctl reg read: missing argument"},
        {{"reg", "read", "1", "2"}, 2, "unexpected argument '2'"},
        {{"reg", "read", "08x"}, 2, "veldctl reg read: bad address '08x'"},
        {{"reg", "read", "0x100000000"}, 2, "bad address '0x100000000'"},
        {{"reg", "write", "1"}, 2, "veldctl reg write: missing argument"},
        {{"reg", "write", "1", "2", "3"}, 2, "unexpected argument '3'"},
        {{"reg", "write", "1", "zz"}, 2, "veldctl reg write: bad value 'zz'"},
        {{"status", "now"}, 2, "veldctl status: unexpected argument 'now'"},
        {{"clean", "--force", "all"}, 2, "veldctl clean: unexpected argument 'all'"},
        {{"screenshot"}, 2, "veldctl screenshot: missing argument"},
        // Well-formed, but nothing runs in this root and namespace.
        {{"ping"}, 1, "veldctl ping: veldd is not running (no endpoint at " + root.path("/tmp/veldd_ipc_")},
        {{"key", "up", "--timeout", "10"}, 1, "veldctl key: veldd is not running"},
    };
    for (const Case& c : cases) {
        const Result r = inProcess(c.args);
        EXPECT_EQ(r.status, c.status) << joined(c.args) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << joined(c.args) << "\n" << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(r.out, "") << joined(c.args);
    }
    const Result none = inProcess({});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("usage: veldctl COMMAND"), std::string::npos);
}

TEST(Veldctl, HelpOfEveryCommandShowsItsUsage) {
    TestRoot root;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--help"}, "usage: veldctl COMMAND"},
        {{"ping", "--help"}, "usage: veldctl ping [--timeout MS]\n"},
        {{"key", "up", "-h"}, "usage: veldctl key KEY [--start] [--no-wait] [--timeout MS]\n"},
        {{"reg", "--help"}, "usage: veldctl reg read ADDR\n"},
        {{"reg", "write", "--help"}, "usage: veldctl reg write ADDR VALUE\n"},
        {{"clean", "--help"}, "usage: veldctl clean [--force]\n"},
        {{"screenshot", "--help"}, "usage: veldctl screenshot FILE.png [--indexed]"},
    };
    for (const auto& [args, usage] : cases) {
        const Result r = inProcess(args);
        EXPECT_EQ(r.status, 0) << joined(args);
        EXPECT_EQ(r.out.rfind(usage, 0), 0u) << r.out;
    }
    EXPECT_NE(inProcess({"reg", "--help"}).out.find("usage: veldctl reg write ADDR VALUE\n"), std::string::npos);
}

TEST(Veldctl, NumbersAreDecimalOrHexadecimalNeverOctal) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"010", true, 10},         {"0x10", true, 16},        {"0X1f", true, 31},
        {"4294967295", true, 0xFFFFFFFFu}, {"0xffffffff", true, 0xFFFFFFFFu},
        {"4294967296", false, 0},  {"", false, 0},            {"0x", false, 0},
        {"-1", false, 0},          {"1e3", false, 0},         {"0b1", false, 0},
        {" 1", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t v = 0;
        EXPECT_EQ(veld::tools::parseNumber(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST(Veldctl, RegistersNeedARunningBoardAndAreNotCreatedByAsking) {
    TestRoot root;
    const Result r = program(root, {"reg", "read", "0x10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("veldctl reg read: no board is running in namespace " + root.ns()), std::string::npos)
        << r.out;
    EXPECT_FALSE(veld::tools::boardPresent());
    EXPECT_EQ(program(root, {"status"}).status, 1);
    EXPECT_FALSE(veld::tools::boardPresent()) << "status only looks";
}

TEST(Veldctl, RunningThenStoppedDaemon) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    const std::string pid = std::to_string(veldd.process().pid());

    Result r = program(root, {"status"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("(pid " + pid + ", running)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("daemon       answering\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("monitor      not running\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("stopped"), std::string::npos) << r.out;

    r = program(root, {"key", "up"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the monitor is not running, so the key was not sent"), std::string::npos) << r.out;

    // A register address with a leading zero is decimal.
    EXPECT_EQ(program(root, {"reg", "write", "10", "0x1234"}).status, 0);
    r = program(root, {"reg", "read", "010"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0x0000000a = 0x00001234\n");

    // An id outside the daemon's groups is sent without waiting for a reply that never comes.
    const auto start = std::chrono::steady_clock::now();
    r = program(root, {"send", "0x12340001", "7"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_NE(r.out.find("ids outside groups 0x4bf1 and 0x4bf2 get no reply"), std::string::npos) << r.out;

    r = program(root, {"clean"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("veldd is running in namespace " + root.ns()), std::string::npos) << r.out;
    EXPECT_TRUE(veld::tools::boardPresent()) << "nothing was removed";
    EXPECT_TRUE(veldd.ping());

    veldd.process().kill(SIGKILL);
    veldd.process().wait(5s);
    r = program(root, {"status", "--timeout", "100"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("(pid " + pid + ", no such process"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("nothing listens on the endpoint"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("no endpoint"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("TE firmware  loaded (left by a stopped daemon)\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\nmonitor "), std::string::npos) << r.out;

    r = program(root, {"clean"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(veld::tools::boardPresent());
}

TEST(Veldctl, KeyStartsTheMonitorFirstWhenAsked) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    Result r = program(root, {"key", "--start", "panels"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "monitor started\nkey panels (73) taken by veldd for the monitor\n");
    r = program(root, {"key", "--start", "panels"});
    EXPECT_EQ(r.out, "key panels (73) taken by veldd for the monitor\n") << "already running";
    EXPECT_NE(program(root, {"status"}).out.find("monitor      running\n"), std::string::npos);
}

}  // namespace
