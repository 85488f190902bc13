// Test support: a private VELD_ROOT and VELD_NS for one test, and a real veldd process started
// in them. Everything created under the root or in the namespace is removed at the end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace veld::test {

// A temporary root folder with tmp/, proc/ and dev/, and a namespace unique to this process.
// The test process's own VELD_ROOT and VELD_NS point at them while it lives.
class TestRoot {
public:
    TestRoot();
    ~TestRoot();
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    const std::string& root() const { return root_; }
    const std::string& ns() const { return ns_; }
    std::string path(const std::string& fixedPath) const { return root_ + fixedPath; }
    void writeFile(const std::string& fixedPath, const std::string& text) const;
    std::string readFile(const std::string& fixedPath) const;

private:
    std::string root_;
    std::string ns_;
};

// A child process (veldd or another program) with the root's environment.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts `program` with `args` (argv[0] is the program) and the given extra environment.
    // Standard output and error go to `outputPath`.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env, const std::string& outputPath);
    // Waits for the exit status (-1 on time-out); after a time-out the process is killed.
    int wait(std::chrono::milliseconds timeout);
    void kill(int signal);
    pid_t pid() const { return pid_; }
    bool running();

private:
    pid_t pid_ = -1;
};

// Path of a built program (relative to the build folder).
std::string builtProgram(const std::string& relative);

// How much longer than on the host waits may take: VELD_TEST_TIME_SCALE (at least 1), set where
// the tests and the programs they start run under an emulator.
inline long testTimeScale() {
    static const long scale = [] {
        const char* text = std::getenv("VELD_TEST_TIME_SCALE");
        const long value = text ? std::strtol(text, nullptr, 10) : 1;
        return value > 1 ? value : 1L;
    }();
    return scale;
}

// Polls `condition` until it holds or the time-out (stretched by testTimeScale) passes.
template <typename F>
bool eventually(F condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + timeout * testTimeScale();
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        struct timespec ts{0, 5000000};
        nanosleep(&ts, nullptr);
    }
    return condition();
}

// Removes the System V queue of `key` in the current namespace, if there is one.
void removeQueue(uint32_t rawKey);

// A simulator program of sim/ ("veld_tw", "veld_emmc") serving a root and its namespace on
// seam::simSocket(name), for programs run with VELD_SIM=1. Stopped with SIGTERM when the
// object ends.
class SimulatorProcess {
public:
    SimulatorProcess(const TestRoot& root, std::string program, std::string name);
    ~SimulatorProcess() { stop(); }
    // Starts it (again) and waits for its socket; whether it is ready.
    bool start();
    // Whether its socket is ready.
    bool ready() const { return ready_; }
    // SIGTERM and the exit status (0 for a clean end), -1 when it was not running.
    int stop();
    Process& process() { return process_; }

private:
    const TestRoot& root_;
    std::string program_;
    std::string name_;
    Process process_;
    bool ready_ = false;
};

// The trusted-world simulator (sim/veld_tw).
class TrustedWorldSim : public SimulatorProcess {
public:
    explicit TrustedWorldSim(const TestRoot& root) : SimulatorProcess(root, "veld_tw", "tw") {}
};

// The eMMC simulator (sim/veld_emmc), whose part lives in the root.
class EmmcSim : public SimulatorProcess {
public:
    explicit EmmcSim(const TestRoot& root) : SimulatorProcess(root, "veld_emmc", "emmc") {}
};

}  // namespace veld::test
