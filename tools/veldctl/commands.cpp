// veldctl's daemon and board commands: messages to the daemon's endpoint (ping, send, key,
// monitor, regtool), the simulated board's registers, and a status summary.
#include "commands.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "client.h"
#include "seam.h"
#include "veldcore_host.h"
#include "xdrv.h"

namespace veld::tools {
namespace {

constexpr int kDefaultTimeoutMs = 2000;

struct KeyName {
    std::string_view name;
    uint32_t code;
};
constexpr KeyName kKeyNames[] = {
    {"select", 10}, {"up", 91},     {"down", 47},   {"left", 59},
    {"right", 39},  {"panels", 73}, {"close", 109}, {"log", 49},
};

bool wantsHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

bool parseNumber(const char* text, uint32_t& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "veldctl: %s\n", message.c_str());
    return 1;
}

// Common options of the message commands.
struct MessageOptions {
    int timeoutMs = kDefaultTimeoutMs;
    bool wait = true;
    std::vector<char*> rest;
};

bool parseMessageOptions(int argc, char** argv, MessageOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--timeout") {
            uint32_t ms = 0;
            if (i + 1 >= argc || !parseNumber(argv[++i], ms)) {
                error = "--timeout needs a number of milliseconds";
                return false;
            }
            options.timeoutMs = static_cast<int>(ms);
        } else if (a == "--no-wait") {
            options.wait = false;
        } else if (a == "--wait") {
            options.wait = true;
        } else if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
            error = "unknown option " + std::string(a);
            return false;
        } else {
            options.rest.push_back(argv[i]);
        }
    }
    return true;
}

void printMessage(const char* what, const VELDD_IPC_MSG& m) {
    std::printf("%s: flags=0x%x id=0x%08x data=[0x%x 0x%x 0x%x 0x%x 0x%x 0x%x]\n", what, m.flags,
                m.id, m.data[0], m.data[1], m.data[2], m.data[3], m.data[4], m.data[5]);
}

// Sends `message`; with a wanted reply waits for it and prints it. Returns the exit status.
int exchange(const VELDD_IPC_MSG& message, const MessageOptions& options, bool quiet = false) {
    std::string error;
    auto client = DaemonClient::open(error);
    if (!client) return fail(error);
    if (!options.wait) {
        if (!client->send(message, error)) return fail(error);
        if (!quiet) printMessage("sent", message);
        return 0;
    }
    auto reply = client->request(message, options.timeoutMs, error);
    if (!reply) return fail(error);
    if (!quiet) printMessage("reply", *reply);
    return 0;
}

int simpleRequest(int argc, char** argv, uint32_t id, const char* usage) {
    if (wantsHelp(argc, argv)) {
        std::printf("%s", usage);
        return 0;
    }
    MessageOptions options;
    std::string error;
    if (!parseMessageOptions(argc, argv, options, error)) return fail(error);
    if (!options.rest.empty()) return fail(std::string("unexpected argument ") + options.rest[0]);
    return exchange(makeRequest(id, options.wait), options);
}

std::string readPidFile() {
    std::ifstream in(seam::path(msg::kPidFilePath));
    std::string pid;
    if (!(in >> pid)) return {};
    return pid;
}

}  // namespace

int runPing(int argc, char** argv) {
    if (wantsHelp(argc, argv)) {
        std::printf("usage: veldctl ping [--timeout MS]\n"
                    "  Sends 0x4bf10001 and waits for the daemon's answer.\n");
        return 0;
    }
    MessageOptions options;
    std::string error;
    if (!parseMessageOptions(argc, argv, options, error)) return fail(error);
    auto client = DaemonClient::open(error);
    if (!client) return fail(error);
    const auto start = std::chrono::steady_clock::now();
    auto reply = client->request(makeRequest(msg::kSysPing, true), options.timeoutMs, error);
    if (!reply) return fail(error);
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - start).count();
    std::printf("veldd answered in %.3f ms\n", ms);
    return 0;
}

int runSend(int argc, char** argv) {
    if (wantsHelp(argc, argv)) {
        std::printf("usage: veldctl send ID [DATA0 .. DATA5] [--no-wait] [--timeout MS]\n"
                    "  Sends a message with any id and up to six data words (decimal or 0x hex).\n"
                    "  By default it asks for a reply (flags 0x101) and waits for it; with\n"
                    "  --no-wait it sends flags 1 and returns at once.\n");
        return 0;
    }
    MessageOptions options;
    std::string error;
    if (!parseMessageOptions(argc, argv, options, error)) return fail(error);
    if (options.rest.empty() || options.rest.size() > 7) return fail("send needs an id and at most six data words");
    VELDD_IPC_MSG m{};
    if (!parseNumber(options.rest[0], m.id)) return fail(std::string("bad id ") + options.rest[0]);
    for (size_t i = 1; i < options.rest.size(); ++i)
        if (!parseNumber(options.rest[i], m.data[i - 1]))
            return fail(std::string("bad data word ") + options.rest[i]);
    m.flags = msg::kFlagRequest | (options.wait ? msg::kFlagWantsReply : 0);
    return exchange(m, options);
}

int runKey(int argc, char** argv) {
    if (wantsHelp(argc, argv)) {
        std::printf("usage: veldctl key KEY [--no-wait] [--timeout MS]\n"
                    "  Sends the key to the monitor (message 0x4bf20001). KEY is a code or one of:\n ");
        for (const KeyName& k : kKeyNames) std::printf(" %.*s(%u)", static_cast<int>(k.name.size()), k.name.data(), k.code);
        std::printf("\n");
        return 0;
    }
    MessageOptions options;
    std::string error;
    if (!parseMessageOptions(argc, argv, options, error)) return fail(error);
    if (options.rest.size() != 1) return fail("key needs exactly one key name or code");
    uint32_t code = 0;
    bool known = parseNumber(options.rest[0], code);
    for (const KeyName& k : kKeyNames)
        if (k.name == options.rest[0]) {
            code = k.code;
            known = true;
        }
    if (!known) return fail(std::string("unknown key ") + options.rest[0] + " (see veldctl key --help)");
    return exchange(makeRequest(msg::kSsmKey, options.wait, code), options);
}

int runMonitor(int argc, char** argv) {
    return simpleRequest(argc, argv, msg::kSysMonitor,
                         "usage: veldctl monitor [--no-wait] [--timeout MS]\n"
                         "  Starts the on-screen system status monitor (0x4bf10003).\n");
}

int runRegtool(int argc, char** argv) {
    return simpleRequest(argc, argv, msg::kSysRegTool,
                         "usage: veldctl regtool [--no-wait] [--timeout MS]\n"
                         "  Starts the serial register tool on /dev/ttyAMA1 (0x4bf10002).\n");
}

int runReg(int argc, char** argv) {
    if (wantsHelp(argc, argv) || argc < 3) {
        std::printf("usage: veldctl reg read ADDR\n"
                    "       veldctl reg write ADDR VALUE\n"
                    "  Reads or writes a register of the simulated board (shared with the daemon).\n");
        return argc < 3 && !wantsHelp(argc, argv) ? 1 : 0;
    }
    uint32_t address = 0, value = 0;
    if (!parseNumber(argv[2], address)) return fail(std::string("bad address ") + argv[2]);
    if (std::strcmp(argv[1], "read") == 0 && argc == 3) {
        if (VELD_SYS_RegReadSimple(address, &value) != 0) return fail("board not reachable");
        std::printf("0x%08x = 0x%08x\n", address, value);
        return 0;
    }
    if (std::strcmp(argv[1], "write") == 0 && argc == 4) {
        if (!parseNumber(argv[3], value)) return fail(std::string("bad value ") + argv[3]);
        if (VELD_SYS_RegWriteSimple(address, value) != 0) return fail("register not written");
        std::printf("0x%08x := 0x%08x\n", address, value);
        return 0;
    }
    return fail("usage: veldctl reg read ADDR | reg write ADDR VALUE");
}

int runClean(int argc, char** argv) {
    if (wantsHelp(argc, argv)) {
        std::printf("usage: veldctl clean\n"
                    "  Removes the system-wide names of the namespace $VELD_NS: the window system's\n"
                    "  and the secure-engine daemon's queues, shared memory (board, frame buffers,\n"
                    "  secure engine) and semaphores. Only with a\n"
                    "  namespace set; stop the daemon first.\n");
        return 0;
    }
    if (seam::ns().empty()) return fail("clean needs VELD_NS: it never touches the system's own names");
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
    std::printf("removed %d names of namespace %s\n", removed, std::string(seam::ns()).c_str());
    return 0;
}

int runStatus(int argc, char** argv) {
    if (wantsHelp(argc, argv)) {
        std::printf("usage: veldctl status [--timeout MS]\n"
                    "  Shows whether veldd answers, its pid file and the simulated board.\n");
        return 0;
    }
    MessageOptions options;
    options.timeoutMs = 500;
    std::string error;
    if (!parseMessageOptions(argc, argv, options, error)) return fail(error);
    const std::string pid = readPidFile();
    std::printf("pid file     %s (%s)\n", seam::path(msg::kPidFilePath).c_str(),
                pid.empty() ? "absent" : pid.c_str());
    bool answers = false;
    if (auto client = DaemonClient::open(error))
        answers = client->request(makeRequest(msg::kSysPing, true), options.timeoutMs, error).has_value();
    std::printf("daemon       %s\n", answers ? "answering" : ("not answering: " + error).c_str());
    VELD_BOARD_STATE board{};
    if (VELD_HOST_BoardSnapshot(&board, nullptr, 0) == 0) {
        std::printf("low power    %s (entered %u, left %u times)\n", board.lowPower ? "on" : "off",
                    board.lowPowerEnters, board.lowPowerExits);
        std::printf("TE firmware  %s\n", board.teLoaded ? "loaded" : "not loaded");
        std::printf("HDR monitor  %s\n", board.hdrMonitorStarted ? "running" : "not started");
        std::printf("registers    %u written (%u reads, %u writes)\n", board.registerCount,
                    board.registerReads, board.registerWrites);
    } else {
        std::printf("board        not reachable\n");
    }
    return answers ? 0 : 1;
}

}  // namespace veld::tools
