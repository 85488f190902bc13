// veldctl sim: starts, stops and reports the simulators that stand in, on a PC, for what lives
// below user space on a television (the board's driver files, the trusted world, the GPU, the
// eMMC). One set runs per root and namespace; each simulator is a program of its own, started
// in its own session so that it outlives veldctl, with its pid file, log and socket in
// seam::simDir(). A pid file whose process is gone is a simulator that stopped on its own.
#include "sim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board_flash.h"
#include "seam.h"

namespace fs = std::filesystem;

namespace veld::tools {
namespace {

// One simulator: its name, its program (found beside veldctl's build or install folder) and
// what shows that it is ready to serve. A simulator with a socket is ready when the socket
// exists; the others name a file they write.
struct Simulator {
    std::string_view name;
    std::string_view program;
    std::string_view summary;
    bool hasSocket;
    std::string_view readyFile;  // fixed path under VELD_ROOT, for simulators without a socket
};

constexpr Simulator kSimulators[] = {
    {"board", "veld_board", "the board's platform driver files under the root", false,
     "/proc/qv/fbdev/fb0/fbmem"},
    {"tw", "veld_tw", "the trusted world and the secure-engine device /dev/qv/se0", true, ""},
    {"gpu", "veld_gpu", "the GPU kernel driver and its video memory", true, ""},
    {"emmc", "veld_emmc", "the eMMC's replay-protected partition (var/veld-sim/emmc-rpmb.bin)",
     true, ""},
};

constexpr auto kReadyTimeout = std::chrono::seconds(5);
constexpr auto kStopTimeout = std::chrono::seconds(3);

// The simulators need a private root: without one they would write into the machine's own
// /proc and /tmp. Returns an empty string when there is one.
std::string needRoot() {
    if (!seam::path("").empty()) return {};
    return "VELD_ROOT is not set; the simulators need a private root (for example "
           "VELD_ROOT=$PWD/root)";
}

std::string pidFile(const Simulator& s) { return seam::simDir() + "/" + std::string(s.name) + ".pid"; }
std::string logFile(const Simulator& s) { return seam::simDir() + "/" + std::string(s.name) + ".log"; }

std::optional<pid_t> readPid(const Simulator& s) {
    std::ifstream in(pidFile(s));
    long pid = 0;
    if (!(in >> pid) || pid <= 0) return std::nullopt;
    return static_cast<pid_t>(pid);
}

// True when `pid` is a live process, not a zombie that nobody reaped yet.
bool alive(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno != EPERM) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

// True when `pid` is alive and runs the simulator's program (a recycled pid is not ours).
bool runs(pid_t pid, const Simulator& s) {
    if (!alive(pid)) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
    std::string argv0;
    std::getline(in, argv0, '\0');
    return fs::path(argv0).filename() == s.program;
}

// The folder the simulators' programs are looked for in: $VELD_SIM_BIN, else the build tree's
// sim/ beside veldctl's tools/, else veldctl's own folder (an installed set).
std::optional<std::string> programPath(const Simulator& s) {
    std::vector<fs::path> dirs;
    if (const char* bin = std::getenv("VELD_SIM_BIN")) dirs.emplace_back(bin);
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        dirs.push_back(self.parent_path().parent_path() / "sim");
        dirs.push_back(self.parent_path());
    }
    for (const fs::path& dir : dirs) {
        const fs::path p = dir / s.program;
        if (::access(p.c_str(), X_OK) == 0) return p.string();
    }
    return std::nullopt;
}

bool ready(const Simulator& s) {
    const std::string path = s.hasSocket ? seam::simSocket(s.name) : seam::path(s.readyFile);
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Starts one simulator in a session of its own with its output in its log and waits until it
// is ready or has died. Returns an empty string on success, else the reason.
std::string start(const Simulator& s) {
    const auto program = programPath(s);
    if (!program) return "cannot find the program " + std::string(s.program);
    // What showed a previous instance ready must not show this one ready.
    ::unlink((s.hasSocket ? seam::simSocket(s.name) : seam::path(s.readyFile)).c_str());
    ::unlink(pidFile(s).c_str());
    const std::string log = logFile(s);
    const std::string pidPath = pidFile(s);
    const std::string root = seam::path("");
    const pid_t child = ::fork();
    if (child < 0) return std::string("fork: ") + std::strerror(errno);
    if (child == 0) {
        ::setsid();
        // A second fork leaves the simulator an orphan that init reaps, so that no zombie
        // stays behind when veldctl's parent lives long (a test, a shell script). The first
        // child records the simulator's pid before it exits.
        const pid_t simulator = ::fork();
        if (simulator < 0) ::_exit(127);
        if (simulator > 0) {
            FILE* f = std::fopen(pidPath.c_str(), "w");
            if (!f) ::_exit(126);
            std::fprintf(f, "%d\n", static_cast<int>(simulator));
            ::_exit(std::fclose(f) == 0 ? 0 : 126);
        }
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out >= 0) {
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        if (in >= 0) ::dup2(in, STDIN_FILENO);
        ::execl(program->c_str(), program->c_str(), "--root", root.c_str(),
                static_cast<char*>(nullptr));
        std::fprintf(stderr, "cannot run %s: %s\n", program->c_str(), std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const auto pid = readPid(s);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !pid)
        return "could not start it (cannot write " + pidPath + ")";

    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    // A ready file left by an earlier run proves nothing: the new process must also run the
    // program (until it has called exec, it still shows veldctl's name).
    while (!ready(s) || !runs(*pid, s)) {
        if (!alive(*pid)) return "it exited at once (see " + log + ")";
        if (std::chrono::steady_clock::now() >= deadline)
            return "it did not become ready within 5 s (see " + log + ")";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// Stops one simulator: SIGTERM, then SIGKILL when it has not gone after kStopTimeout.
void stop(const Simulator& s, pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    while (runs(pid, s) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (runs(pid, s)) ::kill(pid, SIGKILL);
}

enum class State { Stopped, Running, Died };

State stateOf(const Simulator& s, pid_t& pid) {
    const auto recorded = readPid(s);
    if (!recorded) return State::Stopped;
    pid = *recorded;
    return runs(pid, s) ? State::Running : State::Died;
}

int runSimStart(const Invocation& call) {
    if (const std::string e = needRoot(); !e.empty()) return call.failure(e);
    std::error_code ec;
    fs::create_directories(seam::simDir(), ec);
    if (ec) return call.failure("cannot create " + seam::simDir() + ": " + ec.message());
    // The board's flash: erased partitions on first start, kept across later starts.
    if (const std::string e = sim::makeBoardFlash(); !e.empty()) return call.failure(e);
    int status = 0;
    for (const Simulator& s : kSimulators) {
        pid_t pid = 0;
        if (stateOf(s, pid) == State::Running) {
            std::printf("%-6.*s already running (pid %d)\n", int(s.name.size()), s.name.data(), pid);
            continue;
        }
        const std::string error = start(s);
        if (!error.empty()) {
            call.failure(std::string(s.name) + ": " + error);
            status = kFailureStatus;
            continue;
        }
        stateOf(s, pid);
        std::printf("%-6.*s started (pid %d)\n", int(s.name.size()), s.name.data(), pid);
    }
    return status;
}

int runSimStop(const Invocation& call) {
    if (const std::string e = needRoot(); !e.empty()) return call.failure(e);
    for (const Simulator& s : kSimulators) {
        pid_t pid = 0;
        const State state = stateOf(s, pid);
        if (state == State::Running) {
            stop(s, pid);
            std::printf("%-6.*s stopped (pid %d)\n", int(s.name.size()), s.name.data(), pid);
        } else {
            std::printf("%-6.*s not running\n", int(s.name.size()), s.name.data());
        }
        ::unlink(pidFile(s).c_str());
        if (s.hasSocket) ::unlink(seam::simSocket(s.name).c_str());
    }
    return 0;
}

int runSimStatus(const Invocation& call) {
    if (const std::string e = needRoot(); !e.empty()) return call.failure(e);
    int status = 0;
    for (const Simulator& s : kSimulators) {
        pid_t pid = 0;
        const std::string name(s.name);
        switch (stateOf(s, pid)) {
        case State::Running:
            std::printf("%-6s running (pid %d)  %.*s\n", name.c_str(), pid,
                        int(s.summary.size()), s.summary.data());
            break;
        case State::Stopped:
            std::printf("%-6s not running\n", name.c_str());
            status = kFailureStatus;
            break;
        case State::Died:
            std::printf("%-6s died (pid %d is gone; see %s)\n", name.c_str(), pid,
                        logFile(s).c_str());
            status = kFailureStatus;
            break;
        }
    }
    return status;
}

}  // namespace

const CommandSpec kSimStartCommand{
    "sim start", "", 0, 0, {}, "start the simulators of this root and namespace",
    "  Makes the board's flash partitions (sestore, sedata) under $VELD_ROOT/dev, erased, unless\n"
    "  they are there, and names them in $VELD_ROOT/proc/partinfo. Starts every simulator of\n"
    "  $VELD_ROOT and $VELD_NS that is not running and waits until each is ready. Their pid\n"
    "  files, sockets and logs are in $VELD_ROOT/tmp/veld-sim/<namespace>. VELD_ROOT must name\n"
    "  a private root.\n",
    runSimStart};

const CommandSpec kSimStopCommand{
    "sim stop", "", 0, 0, {}, "stop the simulators of this root and namespace",
    "  Stops every simulator of $VELD_ROOT and $VELD_NS (SIGTERM, then SIGKILL after 3 s).\n",
    runSimStop};

const CommandSpec kSimStatusCommand{
    "sim status", "", 0, 0, {}, "say which simulators run",
    "  Says which simulators of $VELD_ROOT and $VELD_NS run, which died on their own (with\n"
    "  their log), and which are not running. Exit status 1 unless all of them run.\n",
    runSimStatus};

}  // namespace veld::tools
