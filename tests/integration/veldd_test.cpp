// veldd as a whole process: single instance, options, the message loop's dispatch and
// replies, keys reaching the window system's queue, hostile input on the endpoint, the tasks
// it starts (the chip's file monitor, register-tool tasks that end) and what they leave.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "daemon_process.h"
#include "seam.h"

namespace {

using namespace std::chrono_literals;
using veld::test::countOf;
using veld::test::DaemonProcess;
using veld::test::eventually;
using veld::test::TestRoot;
using veld::test::threadsNamed;
using veld::tools::DaemonClient;
using veld::tools::makeRequest;

DaemonClient openClient() {
    std::string error;
    auto client = DaemonClient::open(error);
    EXPECT_TRUE(client) << error;
    return std::move(*client);
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// What the process holds of its address space: mappings and virtual size.
struct Footprint {
    size_t mappings = 0;
    long virtualKiB = -1;
};

Footprint footprint(pid_t pid) {
    Footprint f;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream maps(proc + "/maps");
    for (std::string line; std::getline(maps, line);) ++f.mappings;
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) f.virtualKiB = std::stol(line.substr(7));
    return f;
}

TEST(Veldd, PidFileLeftBehindBlocksTheStart) {
    struct Case {
        const char* pidFile;
        bool pidReadable;
    } cases[] = {{"4242\n", true}, {"not a number\n", false}, {"", false}};
    for (const Case& c : cases) {
        TestRoot root;
        root.writeFile("/tmp/veldd.pid", c.pidFile);
        DaemonProcess veldd(root);
        ASSERT_TRUE(veldd.start());
        EXPECT_EQ(veldd.process().wait(5s), 0) << c.pidFile;
        EXPECT_NE(veldd.log().find(c.pidReadable ? "veldd(4242) is already running"
                                                 : ") is already running"),
                  std::string::npos);
        EXPECT_EQ(veldd.output().find("can't get pid info") != std::string::npos, !c.pidReadable);
        EXPECT_NE(veldd.output().find(c.pidReadable ? "veldd(4242) is already running\n"
                                                    : ") is already running\n"),
                  std::string::npos)
            << "the reason is on standard error too: " << veldd.output();
        EXPECT_EQ(root.readFile("/tmp/veldd.pid"), c.pidFile) << "the file is left as it was";
    }
}

TEST(Veldd, UnknownOptionAndHelpPrintUsageAndForegroundChangesNothing) {
    TestRoot root;
    DaemonProcess bad(root);
    ASSERT_TRUE(bad.start({"-x"}));
    EXPECT_EQ(bad.process().wait(5s), 1);
    EXPECT_NE(bad.output().find(DaemonProcess::program() +
                                " [-f]\n  -f : run foreground. do not daemonize.\n"),
              std::string::npos)
        << bad.output();

    for (const char* help : {"--help", "-h"}) {
        TestRoot r;
        r.writeFile("/tmp/veldd.pid", "4242\n");  // help is printed whatever runs
        DaemonProcess asked(r);
        ASSERT_TRUE(asked.start({help}));
        EXPECT_EQ(asked.process().wait(5s), 0) << help;
        EXPECT_EQ(asked.output(), DaemonProcess::program() + " [-f]\n  -f : run foreground. do not daemonize.\n")
            << help;
    }

    for (std::vector<std::string> args : {std::vector<std::string>{}, {"-f"}}) {
        TestRoot r;
        DaemonProcess veldd(r);
        ASSERT_TRUE(veldd.startAndWait(args));
        EXPECT_TRUE(veldd.process().running()) << "runs in the calling process, no fork";
        EXPECT_EQ(r.readFile("/tmp/veldd.pid"), std::to_string(veldd.process().pid()) + "\n");
    }
}

TEST(Veldd, DispatchAndReplies) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    DaemonClient client = openClient();
    std::string error;

    struct Case {
        uint32_t id;
        bool answered;
    } cases[] = {
        {0x4bf10001, true},   // ping
        {0x4bf10003, true},   // starts the monitor
        {0x4bf10003, true},   // monitor already runs: still answered
        {0x4bf10009, false},  // unknown SYS id: logged, not answered
        {0x12340001, false},  // foreign group: dropped silently
        {0x4bf20002, true},   // SSM group, not a key: refused by the monitor, still answered
    };
    for (const Case& c : cases) {
        auto reply = client.request(makeRequest(c.id, true, 5), c.answered ? 2000 : 300, error);
        EXPECT_EQ(reply.has_value(), c.answered) << std::hex << c.id;
        if (reply) {
            EXPECT_EQ(reply->flags, 2u);
            EXPECT_EQ(reply->id, c.id);
            EXPECT_EQ(reply->data[1], 5u);
        }
    }
    ASSERT_TRUE(veldd.ping());
    const std::string log = veldd.log();
    EXPECT_EQ(countOf(log, "unknown IPC msg 0x4bf10009"), 1u);
    EXPECT_EQ(countOf(log, "0x12340001"), 0u);
    EXPECT_EQ(countOf(log, "<!> starting window system... (debug only)"), 1u);
    EXPECT_EQ(countOf(log, "ssm msg.id = 0x4bf20002 prcess error"), 1u);
}

TEST(Veldd, KeyMessageBecomesAKeyEventOnTheQueue) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    DaemonClient client = openClient();
    std::string error;
    auto reply = client.request(makeRequest(0x4bf20001, true, 73), 2000, error);
    ASSERT_TRUE(reply) << error;
    EXPECT_EQ(reply->flags, 2u);

    const int queue = msgget(veld::seam::sysvKey(veld::xdrv::queueKey("uxm-evq")), 0);
    ASSERT_GE(queue, 0) << "the daemon opened the event queue";
    struct {
        long type;
        XEvent event;
    } message{};
    ASSERT_EQ(msgrcv(queue, &message, sizeof(XEvent), 0, IPC_NOWAIT),
              static_cast<ssize_t>(sizeof(XEvent)));
    EXPECT_EQ(message.type, 1);
    EXPECT_EQ(message.event.type, XEVENT_KEY);
    EXPECT_EQ(message.event.key.code, 73);
    EXPECT_EQ(message.event.key.value, 0u);
}

TEST(Veldd, MalformedDatagramsVanishingClientsAndFloodsDoNotStopTheLoop) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.startAndWait());
    std::string error;
    {
        DaemonClient client = openClient();
        const uint8_t junk[64] = {1, 2, 3};
        for (size_t size : {0u, 4u, 31u, 33u, 64u}) ASSERT_TRUE(client.sendRaw(junk, size, error));
    }
    {
        DaemonClient gone = openClient();  // asks for a reply and disappears at once
        ASSERT_TRUE(gone.send(makeRequest(0x4bf10001, true), error));
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(veldd.ping(2000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 800ms) << "no pause after bad datagrams";

    const long before = residentKiB(veldd.process().pid());
    DaemonClient flood = openClient();
    for (int i = 0; i < 10000; ++i) {
        // Every fifth asks for a reply that is never read.
        ASSERT_TRUE(flood.send(makeRequest(i % 2 ? 0x4bf10001 : 0x4bf20001, i % 5 == 0, 10), error));
    }
    ASSERT_TRUE(veldd.ping(5000));
    const long after = residentKiB(veldd.process().pid());
    EXPECT_LT(after - before, 1024) << "resident memory grew by " << after - before << " KiB";

    const std::string log = veldd.log();
    EXPECT_EQ(countOf(log, "dropped a datagram"), 5u);
    EXPECT_EQ(countOf(log, "IPC msg recv error"), 0u);
    EXPECT_TRUE(veldd.process().running());
}

TEST(Veldd, AutoStartDelaysTheLoopWhileMessagesWait) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "console=ttyS0 ssm.auto_start=1"));
    ASSERT_TRUE(veld::test::eventually([&] {
        return std::ifstream(root.path("/tmp/veldd_ipc_")).good() ||
               access(root.path("/tmp/veldd_ipc_").c_str(), F_OK) == 0;
    }));
    DaemonClient client = openClient();
    std::string error;
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.send(makeRequest(0x4bf10001, true, 1), error)) << error;
    auto reply = client.receive(15000);
    const auto waited = std::chrono::steady_clock::now() - sent;
    ASSERT_TRUE(reply) << "the message waited in the endpoint";
    EXPECT_EQ(reply->data[1], 1u);
    EXPECT_GT(waited, 8s) << "answered only after the 10-second delay";
    EXPECT_NE(veldd.log().find("<!> starting window system... (debug only)"), std::string::npos);
}

TEST(Veldd, AutoStartNeedsAValueBeginningWithOne) {
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "ssm.auto_start=0 ssm.keyboard=0"));
    ASSERT_TRUE(veld::test::eventually([&] { return veldd.ping(); }, 3000ms))
        << "no delay without the key";
    EXPECT_EQ(veldd.log().find("starting window system"), std::string::npos);
    EXPECT_EQ(veldd.log().find("starting keyboard handler"), std::string::npos);
}

TEST(Veldd, FileMonitorRunsOnlyOnChips35And36) {
    struct Case {
        const char* chip;  // null: VELD_CHIP unset, the default chip
        int monitors;
    } cases[] = {{nullptr, 0}, {"34", 0}, {"35", 1}, {"36", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chip ? c.chip : "default");
        TestRoot root;
        DaemonProcess veldd(root);
        std::map<std::string, std::string> env;
        if (c.chip) env["VELD_CHIP"] = c.chip;
        ASSERT_TRUE(veldd.start({"-f"}, "", env));
        // The file monitor is created, under its name, before the loop starts: once pings
        // are answered it runs or it never will.
        ASSERT_TRUE(eventually([&] { return veldd.ping(); }));
        const pid_t pid = veldd.process().pid();
        EXPECT_EQ(threadsNamed(pid, "inoti_tsk"), c.monitors);
        if (c.monitors) {
            EXPECT_TRUE(eventually([&] {
                return countOf(veldd.log(), "<!> Launch monitor for /tmp/adjust_cmd.txt\n") == 1;
            })) << veldd.log();
        } else {
            EXPECT_EQ(countOf(veldd.log(), "Launch monitor for"), 0u);
        }
    }
}

TEST(Veldd, EndedRegisterToolTasksLeaveNothingBehind) {
    // No /dev/ttyAMA1 in the root: every register-tool task ends at once. One malloc arena,
    // so that the virtual size follows the threads and not how many arenas the C library
    // chose to open for tasks that happened to overlap.
    TestRoot root;
    DaemonProcess veldd(root);
    ASSERT_TRUE(veldd.start({"-f"}, "", {{"MALLOC_ARENA_MAX", "1"}}));
    ASSERT_TRUE(eventually([&] { return veldd.ping(); }));
    const pid_t pid = veldd.process().pid();
    DaemonClient client = openClient();
    std::string error;
    size_t started = 0;
    // One task at a time, each waited out: a task's thread carries its name from its
    // creation, before the daemon answers, so no thread of that name is left once it has
    // ended. (The log cannot tell: its storm limit sums the repeated open failures up.) Tasks
    // that overlap share what the C library caches for threads; one at a time, anything an
    // ended task keeps shows as growth.
    auto startTasks = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(client.request(makeRequest(0x4bf10002, true), 2000, error)) << error;
            ++started;
            ASSERT_TRUE(eventually([&] { return threadsNamed(pid, "reg_tool_task") == 0; }))
                << started << " tasks";
        }
        EXPECT_GE(countOf(veldd.log(), " open fail [-1]\n"), 1u) << "the tasks ran";
    };
    startTasks(20);  // first-use allocations settle
    const Footprint before = footprint(pid);
    startTasks(300);
    const Footprint after = footprint(pid);
    // An ended task that kept its thread would hold its stack and guard: two mappings each.
    EXPECT_LE(after.mappings, before.mappings + 8) << before.mappings << " -> " << after.mappings;
    EXPECT_LE(after.virtualKiB, before.virtualKiB + 2048)
        << before.virtualKiB << " KiB -> " << after.virtualKiB << " KiB";

    // Threads can still be created: the monitor starts with its tick and samplers.
    ASSERT_TRUE(client.request(makeRequest(0x4bf10003, true), 2000, error)) << error;
    for (const char* name : {"ssm_task", "uxm_tmr", "fps_tsk"})
        EXPECT_TRUE(eventually([&] { return threadsNamed(pid, name) == 1; })) << name;
    EXPECT_TRUE(veldd.ping());
}

}  // namespace
