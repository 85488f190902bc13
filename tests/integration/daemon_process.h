// A real veldd started in a private root and namespace, with its log in the root.
#pragma once

#include <sys/ipc.h>
#include <sys/msg.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "client.h"
#include "test_root.h"
#include "xdrv.h"

namespace veld::test {

class DaemonProcess {
public:
    explicit DaemonProcess(const TestRoot& root) : root_(root) {}
    ~DaemonProcess() { removeQueue(veld::xdrv::queueKey(veld::xdrv::kEventQueueName)); }

    // Starts veldd with `args` and `cmdline` as the kernel command line.
    bool start(const std::vector<std::string>& args = {"-f"}, const std::string& cmdline = "",
               std::map<std::string, std::string> env = {}) {
        env["VELD_ROOT"] = root_.root();
        env["VELD_NS"] = root_.ns();
        env["VELD_LOG"] = logPath();
        env["VELD_CMDLINE"] = cmdline;
        std::vector<std::string> argv = {program()};
        argv.insert(argv.end(), args.begin(), args.end());
        return process_.start(program(), argv, env, outputPath());
    }

    // Starts and waits until the endpoint answers a ping.
    bool startAndWait(const std::vector<std::string>& args = {"-f"}) {
        return start(args) && eventually([&] { return ping(); });
    }

    bool ping(int timeoutMs = 200) {
        std::string error;
        auto client = veld::tools::DaemonClient::open(error);
        return client &&
               client->request(veld::tools::makeRequest(veld::msg::kSysPing, true), timeoutMs, error);
    }

    std::string log() const { return root_.readFile("/veldd.log"); }
    std::string output() const { return root_.readFile("/veldd.out"); }
    std::string logPath() const { return root_.path("/veldd.log"); }
    std::string outputPath() const { return root_.path("/veldd.out"); }
    static std::string program() { return builtProgram("daemon/veldd"); }
    Process& process() { return process_; }

private:
    const TestRoot& root_;
    Process process_;
};

// Threads of process `pid` named `name` (as /proc shows them).
inline int threadsNamed(pid_t pid, const std::string& name) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream comm(entry.path() / "comm");
        std::string line;
        std::getline(comm, line);
        count += line == name;
    }
    return count;
}

// Counts the occurrences of `needle` in `text`.
inline size_t countOf(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace veld::test
