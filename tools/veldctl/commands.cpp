// veldctl's daemon and board commands: messages to the daemon's endpoint (ping, send, key,
// monitor, regtool), the simulated board's registers, a status summary and the clean-up of a
// namespace. Each command's description sits above its code; cli.cpp has checked the arguments.
#include "commands.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "client.h"
#include "daemon_state.h"
#include "seam.h"
#include "veldcore_host.h"
#include "xdrv.h"

namespace veld::tools {
namespace {

struct KeyName {
    std::string_view name;
    uint32_t code;
};
constexpr KeyName kKeyNames[] = {
    {"select", 10}, {"up", 91},     {"down", 47},   {"left", 59},
    {"right", 39},  {"panels", 73}, {"close", 109}, {"log", 49},
};

constexpr OptionSpec kTimeoutOnly[] = {{"--timeout", "MS", true}};
constexpr OptionSpec kMessageOptions[] = {{"--no-wait", ""}, {"--timeout", "MS", true}};
constexpr OptionSpec kKeyOptions[] = {{"--start", ""}, {"--no-wait", ""}, {"--timeout", "MS", true}};
constexpr OptionSpec kCleanOptions[] = {{"--force", ""}};

// How long `key --start` waits for the monitor's first clock tick after starting it.
constexpr auto kMonitorStartWait = std::chrono::seconds(3);

int timeoutOf(const Invocation& call) {
    return static_cast<int>(call.number("--timeout", kDefaultTimeoutMs));
}

bool inAnsweredGroup(uint32_t id) {
    const uint32_t group = id & msg::kGroupMask;
    return group == msg::kGroupSys || group == msg::kGroupSsm;
}

void printMessage(const char* what, const VELDD_IPC_MSG& m) {
    std::printf("%s: flags=0x%x id=0x%08x data=[0x%x 0x%x 0x%x 0x%x 0x%x 0x%x]\n", what, m.flags,
                m.id, m.data[0], m.data[1], m.data[2], m.data[3], m.data[4], m.data[5]);
}

// Sends `message` and, when it asks for a reply, waits for it. False with the reason in
// `error`.
bool exchange(const VELDD_IPC_MSG& message, int timeoutMs, std::optional<VELDD_IPC_MSG>& reply,
              std::string& error) {
    auto client = DaemonClient::open(error);
    if (!client) return false;
    if (!(message.flags & msg::kFlagWantsReply)) return client->send(message, error);
    reply = client->request(message, timeoutMs, error);
    return reply.has_value();
}

// A request with a plain one-line report of what happened.
int simpleRequest(const Invocation& call, uint32_t id, const char* done) {
    const bool wait = !call.has("--no-wait");
    std::optional<VELDD_IPC_MSG> reply;
    std::string error;
    if (!exchange(makeRequest(id, wait), timeoutOf(call), reply, error)) return call.failure(error);
    std::printf("%s%s\n", done, wait ? " (veldd answered)" : " (sent, no reply asked)");
    return 0;
}

int runPing(const Invocation& call) {
    std::string error;
    auto client = DaemonClient::open(error);
    if (!client) return call.failure(error);
    const auto start = std::chrono::steady_clock::now();
    auto reply = client->request(makeRequest(msg::kSysPing, true), timeoutOf(call), error);
    if (!reply) return call.failure(error);
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - start).count();
    std::printf("veldd answered in %.3f ms\n", ms);
    return 0;
}

int runSend(const Invocation& call) {
    VELDD_IPC_MSG m{};
    if (!parseNumber(call.args()[0], m.id)) return call.usageError("bad id '" + std::string(call.args()[0]) + "'");
    for (size_t i = 1; i < call.args().size(); ++i)
        if (!parseNumber(call.args()[i], m.data[i - 1]))
            return call.usageError("bad data word '" + std::string(call.args()[i]) + "'");
    // veldd answers only its own groups: waiting for any other id would only run into the
    // time-out, so such a message is sent without asking for a reply.
    const bool answered = inAnsweredGroup(m.id);
    const bool wait = !call.has("--no-wait") && answered;
    m.flags = msg::kFlagRequest | (wait ? msg::kFlagWantsReply : 0);
    std::optional<VELDD_IPC_MSG> reply;
    std::string error;
    if (!exchange(m, timeoutOf(call), reply, error)) {
        if (wait && error.rfind("no reply", 0) == 0)
            error += " (veldd answers only the ids it knows in groups 0x4bf1 and 0x4bf2)";
        return call.failure(error);
    }
    if (reply) {
        printMessage("reply", *reply);
    } else {
        printMessage("sent", m);
        if (!answered && !call.has("--no-wait"))
            std::printf("not waiting: ids outside groups 0x4bf1 and 0x4bf2 get no reply\n");
    }
    return 0;
}

// Starts the monitor and waits for its first clock tick.
bool startMonitor(const Invocation& call, pid_t daemon, std::string& error) {
    std::optional<VELDD_IPC_MSG> reply;
    if (!exchange(makeRequest(msg::kSysMonitor, true), timeoutOf(call), reply, error)) return false;
    const auto until = std::chrono::steady_clock::now() + kMonitorStartWait;
    while (!monitorRunning(daemon)) {
        if (std::chrono::steady_clock::now() > until) {
            error = "the monitor did not start";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

int runKey(const Invocation& call) {
    const std::string_view name = call.args()[0];
    uint32_t code = 0;
    bool known = parseNumber(name, code) && code <= 0xFFFF;
    for (const KeyName& k : kKeyNames)
        if (k.name == name) {
            code = k.code;
            known = true;
        }
    if (!known) return call.usageError("unknown key '" + std::string(name) + "'");
    // A key for a monitor that is not running would wait in its queue and act when it starts.
    const auto daemon = pidFromFile();
    if (daemon && processAlive(*daemon) && !monitorRunning(*daemon)) {
        if (!call.has("--start"))
            return call.failure("the monitor is not running, so the key was not sent "
                                "(start it with veldctl monitor, or use key --start)");
        std::string error;
        if (!startMonitor(call, *daemon, error)) return call.failure(error);
        std::printf("monitor started\n");
    }
    const bool wait = !call.has("--no-wait");
    std::optional<VELDD_IPC_MSG> reply;
    std::string error;
    if (!exchange(makeRequest(msg::kSsmKey, wait, code), timeoutOf(call), reply, error))
        return call.failure(error);
    std::printf("key %.*s (%u) %s\n", static_cast<int>(name.size()), name.data(), code,
                wait ? "taken by veldd for the monitor" : "sent");
    return 0;
}

int runMonitor(const Invocation& call) {
    return simpleRequest(call, msg::kSysMonitor, "monitor start asked");
}

int runRegtool(const Invocation& call) {
    return simpleRequest(call, msg::kSysRegTool, "serial register tool start asked");
}

// The board's shared memory is made by the first process that uses it; veldctl never makes it.
bool needBoard(const Invocation& call, int& status) {
    if (boardPresent()) return true;
    status = call.failure("no board is running in " + namespaceText() +
                          " (start veldd or sim/veld_board there first)");
    return false;
}

int runRegRead(const Invocation& call) {
    uint32_t address = 0, value = 0;
    if (!parseNumber(call.args()[0], address)) return call.usageError("bad address '" + std::string(call.args()[0]) + "'");
    int status = 0;
    if (!needBoard(call, status)) return status;
    if (VELD_SYS_RegReadSimple(address, &value) != 0) return call.failure("board not reachable");
    std::printf("0x%08x = 0x%08x\n", address, value);
    return 0;
}

int runRegWrite(const Invocation& call) {
    uint32_t address = 0, value = 0;
    if (!parseNumber(call.args()[0], address)) return call.usageError("bad address '" + std::string(call.args()[0]) + "'");
    if (!parseNumber(call.args()[1], value)) return call.usageError("bad value '" + std::string(call.args()[1]) + "'");
    int status = 0;
    if (!needBoard(call, status)) return status;
    if (VELD_SYS_RegWriteSimple(address, value) != 0) return call.failure("register not written");
    std::printf("0x%08x := 0x%08x\n", address, value);
    return 0;
}

bool daemonAnswers(int timeoutMs, std::string& error) {
    auto client = DaemonClient::open(error);
    return client && client->request(makeRequest(msg::kSysPing, true), timeoutMs, error).has_value();
}

int runClean(const Invocation& call) {
    if (seam::ns().empty()) return call.failure("clean needs VELD_NS: it never touches the system's own names");
    std::string error;
    if (!call.has("--force") && daemonAnswers(static_cast<int>(kDefaultTimeoutMs), error))
        return call.failure("veldd is running in " + namespaceText() +
                            " and uses these names; stop it first, or use --force");
    int removed = 0;
    // The window system's event queue and the secure-engine daemon's queue "sevd".
    for (const key_t key : {seam::sysvKey(xdrv::queueKey(xdrv::kEventQueueName)), seam::sysvKey(0x73657664)}) {
        const int queue = msgget(key, 0);
        if (queue >= 0 && msgctl(queue, IPC_RMID, nullptr) == 0) ++removed;
    }
    const std::string prefix = std::string(seam::ns()) + ".";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 || name.rfind("sem." + prefix, 0) == 0)
            removed += std::filesystem::remove(entry.path(), ec) ? 1 : 0;
    }
    std::printf("removed %d names of %s\n", removed, namespaceText().c_str());
    return 0;
}

int runStatus(const Invocation& call) {
    const auto pid = pidFromFile();
    const bool alive = pid && processAlive(*pid);
    std::string error;
    const bool answers = daemonAnswers(timeoutOf(call), error);
    const std::string pidPath = seam::path(msg::kPidFilePath);
    if (!pid)
        std::printf("pid file     %s (absent)\n", pidPath.c_str());
    else
        std::printf("pid file     %s (pid %d, %s)\n", pidPath.c_str(), static_cast<int>(*pid),
                    alive ? "running" : "no such process: left by a daemon that has stopped");
    std::printf("daemon       %s\n", answers ? "answering" : ("not answering: " + error).c_str());
    if (alive) std::printf("monitor      %s\n", monitorRunning(*pid) ? "running" : "not running");
    VELD_BOARD_STATE board{};
    if (!boardPresent() || VELD_HOST_BoardSnapshot(&board, nullptr, 0) != 0) {
        std::printf("board        none in %s\n", namespaceText().c_str());
        return answers ? 0 : 1;
    }
    // Without a running daemon the board shows what the last one left, not a live state.
    const char* left = alive ? "" : " (left by a stopped daemon)";
    std::printf("low power    %s, entered %u, left %u times%s\n", board.lowPower ? "on" : "off",
                board.lowPowerEnters, board.lowPowerExits, left);
    std::printf("TE firmware  %s%s\n", board.teLoaded ? "loaded" : "not loaded", left);
    std::printf("HDR monitor  %s%s\n", board.hdrMonitorStarted ? "started" : "not started", left);
    std::printf("registers    %u written (%u reads, %u writes)\n", board.registerCount,
                board.registerReads, board.registerWrites);
    return answers ? 0 : 1;
}

}  // namespace

const CommandSpec kPingCommand{
    "ping", "", 0, 0, kTimeoutOnly, "check that veldd answers (0x4bf10001)",
    "  Sends 0x4bf10001 and waits for the daemon's answer (default time-out 2000 ms).\n", runPing};

const CommandSpec kSendCommand{
    "send", "ID [DATA0 .. DATA5]", 1, 7, kMessageOptions, "send any message id with data words",
    "  Sends a message with any id and up to six data words (decimal or 0x hex). For ids\n"
    "  of groups 0x4bf1 and 0x4bf2 it asks for a reply (flags 0x101) and waits for it;\n"
    "  ids outside those groups get no reply, so they are sent with flags 1, as with\n"
    "  --no-wait.\n",
    runSend};

const CommandSpec kKeyCommand{
    "key", "KEY", 1, 1, kKeyOptions, "send a key to the monitor (0x4bf20001)",
    "  Sends the key to the monitor (message 0x4bf20001). KEY is a code or one of:\n"
    "  select(10) up(91) down(47) left(59) right(39) panels(73) close(109) log(49).\n"
    "  A key is refused while the monitor is not running; --start starts it first.\n",
    runKey};

const CommandSpec kMonitorCommand{
    "monitor", "", 0, 0, kMessageOptions, "start the system status monitor (0x4bf10003)",
    "  Starts the on-screen system status monitor (0x4bf10003).\n", runMonitor};

const CommandSpec kRegtoolCommand{
    "regtool", "", 0, 0, kMessageOptions, "start the serial register tool (0x4bf10002)",
    "  Starts the serial register tool on /dev/ttyAMA1 (0x4bf10002).\n", runRegtool};

const CommandSpec kRegReadCommand{
    "reg read", "ADDR", 1, 1, {}, "read a simulated board register",
    "  Reads a register of the simulated board (shared with the daemon). ADDR is decimal\n"
    "  or 0x hex.\n",
    runRegRead};

const CommandSpec kRegWriteCommand{
    "reg write", "ADDR VALUE", 2, 2, {}, "write a simulated board register",
    "  Writes a register of the simulated board (shared with the daemon). ADDR and VALUE\n"
    "  are decimal or 0x hex.\n",
    runRegWrite};

const CommandSpec kStatusCommand{
    "status", "", 0, 0, kTimeoutOnly, "show the daemon's and the board's state",
    "  Shows the pid file and whether its process lives, whether veldd answers (default\n"
    "  time-out 2000 ms), whether the monitor runs, and the simulated board. Exit status 1\n"
    "  when veldd does not answer.\n",
    runStatus};

const CommandSpec kCleanCommand{
    "clean", "", 0, 0, kCleanOptions, "remove the namespace's queues, shared memory, semaphores",
    "  Removes the system-wide names of the namespace $VELD_NS: the window system's and the\n"
    "  secure-engine daemon's queues, shared memory (board, frame buffers, secure engine)\n"
    "  and semaphores. Only with a namespace set; refused while veldd answers there, unless\n"
    "  --force.\n",
    runClean};

}  // namespace veld::tools
