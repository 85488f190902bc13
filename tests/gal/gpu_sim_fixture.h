// Test support for the 2D GPU driver: a private root and namespace with the GPU simulator
// (veld_gpu) serving it and VELD_SIM=1 for this process, the simulator's counters, and a way
// to run driver code in a child process, where the driver's process state starts fresh.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gal_hal.h"
#include "gal_os.h"
#include "gpu_device.h"
#include "seam.h"
#include "test_root.h"

namespace veld::test {

// The simulator of one root, started with the given chip profile.
class GpuSimulator {
public:
    explicit GpuSimulator(const TestRoot& root, const std::string& profile = "plain")
        : root_(root) {
        ::setenv("VELD_SIM", "1", 1);
        std::filesystem::create_directories(seam::simDir());
        ok_ = process_.start(builtProgram("sim/veld_gpu"),
                             {"veld_gpu", "--root", root.root(), "--profile", profile}, {},
                             root.path("/gpu.log"));
        ok_ = ok_ && eventually([] {
                  struct stat st {};
                  return ::stat(seam::simSocket("gpu").c_str(), &st) == 0;
              });
    }
    ~GpuSimulator() {
        if (process_.running()) {
            process_.kill(SIGTERM);
            process_.wait(std::chrono::seconds(5));
        }
        ::unsetenv("VELD_SIM");
    }
    bool ok() const { return ok_; }
    pid_t pid() const { return process_.pid(); }
    std::string log() const { return root_.readFile("/gpu.log"); }

    // A control command's answer ("" when the simulator does not answer).
    static std::string control(const std::string& command) {
        return gpu_device::simControl(command).value_or("");
    }
    // The simulator's counters (requests, faults, commits, nodes, external_used, ...).
    static std::map<std::string, uint64_t> counters() {
        std::map<std::string, uint64_t> values;
        std::istringstream in(control("counters"));
        std::string line;
        while (std::getline(in, line)) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) values[line.substr(0, eq)] = std::stoull(line.substr(eq + 1));
        }
        return values;
    }
    static uint64_t counter(const std::string& name) { return counters()[name]; }

private:
    const TestRoot& root_;
    Process process_;
    bool ok_ = false;
};

// One root and one simulator for the whole test program: the driver's process state outlives a
// test, so every test of the program talks to the same simulator. Tests that need a fresh
// driver run it in a child process (inChild).
class GpuEnvironment : public testing::Environment {
public:
    void SetUp() override {
        root_ = std::make_unique<TestRoot>();
        sim_ = std::make_unique<GpuSimulator>(*root_);
    }
    void TearDown() override {
        sim_.reset();
        root_.reset();
    }
    static GpuSimulator& simulator() {
        if (!instance().sim_) instance().SetUp();
        return *instance().sim_;
    }
    static GpuEnvironment& instance() {
        static GpuEnvironment* environment = [] {
            auto* e = new GpuEnvironment;
            testing::AddGlobalTestEnvironment(e);
            return e;
        }();
        return *environment;
    }

private:
    std::unique_ptr<TestRoot> root_;
    std::unique_ptr<GpuSimulator> sim_;
};

// Commits with a stall and returns the stream the simulator executed last.
inline std::vector<uint32_t> commitAndCaptureStream() {
    EXPECT_EQ(gcoHAL_Commit(nullptr, 1), gcvSTATUS_OK);
    const std::string path = seam::path("/tmp/stream.bin");
    EXPECT_EQ(GpuSimulator::control("save-stream " + path), "ok\n");
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), words.size() * 4);
    return words;
}

// Tests that use the shared simulator.
class GpuTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(GpuEnvironment::simulator().ok()) << GpuEnvironment::simulator().log();
    }
};

// Runs `body` in a forked child and returns its exit status (its return value), or -1 when it
// did not exit normally. Failures inside the child are reported on its standard error.
inline int inChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The number of open descriptors of this process.
inline int openDescriptors() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

// Lines that the driver prints while `body` runs.
inline std::string capturePrinted(const std::function<void()>& body) {
    FILE* file = std::tmpfile();
    gcsFILE_PTR previous = gcoOS_ReplaceDebugFile(file);
    body();
    gcoOS_ReplaceDebugFile(previous);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

}  // namespace veld::test
