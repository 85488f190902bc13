// Test support (see test_root.h).
#include "test_root.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "seam.h"
#include "veldcore_host.h"

namespace veld::test {
namespace {
std::atomic<int> gRootCount{0};
}

TestRoot::TestRoot() {
    char pattern[] = "/tmp/vt.XXXXXX";
    root_ = mkdtemp(pattern);
    for (const char* dir : {"/tmp", "/proc", "/dev", "/mnt", "/var", "/sys"})
        std::filesystem::create_directories(root_ + dir);
    ns_ = "vt" + std::to_string(getpid()) + "_" + std::to_string(gRootCount++);
    setenv("VELD_ROOT", root_.c_str(), 1);
    setenv("VELD_NS", ns_.c_str(), 1);
}

TestRoot::~TestRoot() {
    removeQueue(0x73657664);  // the secure-engine daemon's queue "sevd"
    // Named regions and semaphores of this namespace.
    const std::string prefix = ns_ + ".";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 || name.rfind("sem." + prefix, 0) == 0)
            std::filesystem::remove(entry.path(), ec);
    }
    std::filesystem::remove_all(root_, ec);
    unsetenv("VELD_ROOT");
    unsetenv("VELD_NS");
}

void TestRoot::writeFile(const std::string& fixedPath, const std::string& text) const {
    const std::string full = path(fixedPath);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream(full) << text;
}

std::string TestRoot::readFile(const std::string& fixedPath) const {
    std::ifstream in(path(fixedPath));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Process::~Process() {
    // The whole group: a companion veldd started must not outlive the test.
    if (pid_ > 0) kill(SIGKILL);
}

bool Process::start(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, const std::string& outputPath) {
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        // The child gets its own process group so a test can end its whole family.
        setpgid(0, 0);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return true;
}

int Process::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    int status = 0;
    const bool ended = eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) {
        kill(SIGKILL);
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Process::kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(-pid_, signal);  // the whole group: veldd and the companion it started
    ::kill(pid_, signal);
    if (signal == SIGKILL) {
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

bool Process::running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

std::string builtProgram(const std::string& relative) {
    // Under an emulator the simulators and tools come from the build machine's own tree: they
    // are host programs, and the kernel starts them natively from an emulated process.
    const char* host = std::getenv("VELD_TEST_HOST_BIN_DIR");
    if (host != nullptr && *host != '\0' &&
        (relative.rfind("sim/", 0) == 0 || relative.rfind("tools/", 0) == 0)) {
        return std::string(host) + "/" + relative;
    }
    return std::string(VELD_BIN_DIR) + "/" + relative;
}

void removeQueue(uint32_t rawKey) {
    const int id = msgget(veld::seam::sysvKey(rawKey), 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
}

SimulatorProcess::SimulatorProcess(const TestRoot& root, std::string program, std::string name)
    : root_(root), program_(std::move(program)), name_(std::move(name)) {
    start();
}

bool SimulatorProcess::start() {
    stop();
    const std::string program = builtProgram("sim/" + program_);
    const std::string socket = veld::seam::simSocket(name_);
    ::unlink(socket.c_str());  // a socket left by an earlier instance shows nothing ready
    ready_ = process_.start(program, {program, "--root", root_.root()}, {},
                            root_.path("/" + name_ + ".log")) &&
             eventually([&] { return access(socket.c_str(), F_OK) == 0; });
    return ready_;
}

int SimulatorProcess::stop() {
    ready_ = false;
    if (process_.pid() <= 0) return -1;
    process_.kill(SIGTERM);
    return process_.wait(std::chrono::seconds(5));
}

}  // namespace veld::test
