// The debug shell as an engineer drives it: `veldctl se shell` on a pseudo-terminal against the
// simulated trusted world, eMMC and se_veldd, answered by a script that waits for each prompt.
// The texts of the entries are checked: process info, a store record, the AES tests, the RPMB
// counter, the permanent log, the DMA usage monitor, the dump files, and leaving the shell.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "rpmb_fixture.h"
#include "se_core.h"
#include "se_store.h"

namespace {

using namespace veld::test;
using namespace std::chrono_literals;

// A program on the master side of a pseudo-terminal, driven line by line.
class Terminal {
public:
    bool start(const std::vector<std::string>& argv) {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return true;
    }
    ~Terminal() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    // Reads until the output after the last mark holds `text`; false after the time-out.
    bool expect(const std::string& text, std::chrono::milliseconds timeout = 10s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const size_t at = output_.find(text, mark_);
            if (at != std::string::npos) {
                mark_ = at + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
        }
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        EXPECT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Answers the next prompt that ends with `prompt`.
    bool answer(const std::string& prompt, const std::string& line) {
        if (!expect(prompt + " : ")) return false;
        send(line);
        return true;
    }
    int wait() {
        while (readSome(100)) {
        }
        int status = 0;
        const bool ended = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Everything the program wrote, lines ended by "\n".
    const std::string& output() const { return output_; }

private:
    bool readSome(int timeoutMs) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;
        // The terminal ends lines with a carriage return and a newline; the shell writes "\n".
        for (ssize_t i = 0; i < n; ++i)
            if (buffer[i] != '\r') output_ += buffer[i];
        return true;
    }
    pid_t pid_ = -1;
    int master_ = -1;
    std::string output_;
    size_t mark_ = 0;
};

class DebugShell : public RpmbFixture {
protected:
    void SetUp() override {
        RpmbFixture::SetUp();
        ASSERT_TRUE(startDaemon()) << daemonLog();
        // The store's partition: a blank file of two copies, which the store initialises.
        storeFile_ = root_.path("/var/sestore.img");
        std::vector<char> image(0x80000, '\xff');
        std::ofstream(storeFile_, std::ios::binary).write(image.data(), static_cast<long>(image.size()));
        ASSERT_EQ(VELD_SE_Initialize(storeFile_.c_str()), 0);
        setenv("VELD_LOG", root_.path("/shell.log").c_str(), 1);
        ASSERT_TRUE(shell_.start({builtProgram("tools/veldctl"), "se", "shell"}));
        unsetenv("VELD_LOG");
        ASSERT_TRUE(shell_.expect("(CHECK)VELD_SE_Open(&_gDebugCtx)")) << shell_.output();
    }

    // Chooses `entry` of the main menu.
    void command(const std::string& entry) {
        ASSERT_TRUE(shell_.answer("    Enter command", entry)) << shell_.output();
    }

    // Writes a record of `dataBytes` bytes through the store and updates both copies.
    void writeStoreRecord(const std::string& name, uint32_t dataBytes) {
        std::vector<uint8_t> data(dataBytes, 0x5A);
        VELD_SE_SS_RECORD record{{}, dataBytes, reinterpret_cast<uintptr_t>(data.data())};
        ASSERT_EQ(VELD_SE_SS001(&record), 0);
        ASSERT_EQ(VELD_SE_SS008(name.c_str(), &record), 0);
        ASSERT_EQ(VELD_SE_SS011(), 0);
    }

    // The bytes of the store's partition file from `offset` on.
    std::string partitionBytes(size_t offset, size_t length) {
        return root_.readFile("/var/sestore.img").substr(offset, length);
    }

    std::string storeFile_;
    Terminal shell_;
};

TEST_F(DebugShell, AnEngineerWalksThroughTheMenu) {
    command("1");
    ASSERT_TRUE(shell_.expect("TZFW Version : veld-tw 1.0\nOTP Key : Valid\n")) << shell_.output();
    ASSERT_TRUE(shell_.expect("sharedInfo.bInitRPMB = 1")) << shell_.output();
    ASSERT_TRUE(shell_.expect("sharedInfo.seStorePath = " + storeFile_)) << shell_.output();

    writeStoreRecord("widevine", 16);  // stored as 80 + 16 bytes
    command("5");
    ASSERT_TRUE(shell_.answer("]widevine (96)\n    Enter record", "2")) << shell_.output();
    ASSERT_TRUE(shell_.expect("Protected Key :\n")) << shell_.output();
    ASSERT_TRUE(shell_.expect("Encrypted Data :\n")) << shell_.output();

    const std::pair<const char*, const char*> tests[] = {{"8", "Simple AES CBC Test : Success"},
                                                         {"9", "Simple AES256 CBC Test : Success"},
                                                         {"a", "Common/Unique Key Test : Success"}};
    for (const auto& [entry, result] : tests) {
        command(entry);
        ASSERT_TRUE(shell_.expect(result)) << shell_.output();
    }

    command("b");
    ASSERT_TRUE(shell_.answer("Run times", "3"));
    ASSERT_TRUE(shell_.expect("MS Tick : ")) << shell_.output();
    EXPECT_EQ(shell_.output().find("\nVELD_SE_G013"), std::string::npos) << "the RSA runs succeed";

    command("7");
    command("5");
    ASSERT_TRUE(shell_.answer("\tEnter Block Address(cancel:ffff)", "2a"));
    command("3");
    ASSERT_TRUE(shell_.expect("Write Counter : 0x00000001")) << shell_.output();
    command("1");
    ASSERT_TRUE(shell_.expect("002a : +DEBUG002a")) << shell_.output();
    ASSERT_TRUE(shell_.expect("numOfUsedBlock = 1, numOfErrorBlock = 0")) << shell_.output();
    command("4");
    ASSERT_TRUE(shell_.answer("\tEnter Block Address(cancel:ffff)", "400"));
    ASSERT_TRUE(shell_.expect("(CHECK)_SE_RB002(address, data)\n_SE_RB002(address, data)"))
        << "address 1,024 fails: " << shell_.output();
    command("0");

    command("f");
    command("1");
    ASSERT_TRUE(shell_.answer("Log", "hello from the shell"));
    // The daemon's writer flushes the line to flash in a moment.
    bool printed = false;
    for (int attempt = 0; attempt < 50 && !printed; ++attempt) {
        command("3");
        ASSERT_TRUE(shell_.expect("> Permanent Log")) << shell_.output();
        printed = shell_.output().find("Debug : hello from the shell") != std::string::npos;
        if (!printed) ::usleep(100000);
    }
    EXPECT_TRUE(printed) << shell_.output();
    command("0");

    command("e");
    command("1");
    ASSERT_TRUE(shell_.answer("Interval", "0"));
    command("1");  // running: the second call stops it without asking
    command("0");

    command("11");  // above the last entry: the shell ends
    ASSERT_TRUE(shell_.expect("(CHECK)VELD_SE_Close(&_gDebugCtx)")) << shell_.output();
    EXPECT_EQ(shell_.wait(), 0) << shell_.output();
    const std::string log = root_.readFile("/shell.log");
    EXPECT_NE(log.find("On (Interval : 5000)"), std::string::npos) << "an interval of 0 becomes 5,000";
    EXPECT_NE(log.find("Off"), std::string::npos) << log;
}

TEST_F(DebugShell, DumpFilesReplaceWhatIsThereAndFollowNoLink) {
    // A link planted where the dump goes must not carry the write elsewhere.
    const std::string victim = root_.path("/var/victim");
    std::ofstream(victim) << "keep me";
    ASSERT_EQ(::symlink(victim.c_str(), root_.path("/tmp/sestore.0").c_str()), 0);
    std::ofstream(root_.path("/tmp/sestore.1.raw")) << "an old dump";

    command("2");
    command("1");
    ASSERT_TRUE(shell_.expect("/tmp/sestore.0 (262144 bytes)")) << shell_.output();
    command("4");
    ASSERT_TRUE(shell_.expect("/tmp/sestore.1.raw (262144 bytes)")) << shell_.output();
    command("5");
    ASSERT_TRUE(shell_.expect("Dump Memory :\n0000 : 53 45 01 00")) << shell_.output();
    command("0");
    command("0");
    EXPECT_EQ(shell_.wait(), 0);

    EXPECT_EQ(root_.readFile("/var/victim"), "keep me");
    struct stat st {};
    ASSERT_EQ(::lstat(root_.path("/tmp/sestore.0").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link itself was replaced";
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(root_.readFile("/tmp/sestore.0").substr(0, 4), std::string("SE\x01\x00", 4))
        << "main, unmasked: the fresh image with its one record";
    EXPECT_EQ(root_.readFile("/tmp/sestore.1.raw"), partitionBytes(0x40000, 0x40000));
}

}  // namespace
