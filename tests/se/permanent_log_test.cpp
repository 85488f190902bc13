// The permanent log: lines from several processes reach the scrambled file, the file keeps the
// newest 32,768 bytes decodable, a repeated pending text is not written twice, and a writer
// killed at any point leaves the old file or the new one, never an empty or broken one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "captured_log.h"
#include "se_core.h"
#include "se_daemon.h"
#include "se_engine.h"
#include "se_permanent_log.h"
#include "test_root.h"
#include "tw_fixture.h"
#include "veldcore_host.h"

namespace {

using namespace veld::test;
using veld::se::kLogFileLimit;

class PermanentLog : public testing::Test {
protected:
    void SetUp() override {
        VELD_HOST_SetLogSink(CapturedLog::sink, nullptr);
        CapturedLog::clear();
        veld::se::permanentLogResume();  // an earlier test may have stopped the writer
        ASSERT_EQ(veld::se::lockInit(), 0);
    }
    void TearDown() override {
        VELD_SE_Shutdown();
        VELD_HOST_SetLogSink(nullptr, nullptr);
    }
    std::string path() const { return root_.path(veld::se::kLogFile); }
    // Runs the writer as the daemon does and waits until it has ended.
    void flush() {
        ASSERT_EQ(veld::se::seLock(), 0);
        veld::se::startWriter();
        veld::se::seUnlock();
        ASSERT_TRUE(eventually([] { return !veld::se::writerRunning(); }));
    }
    std::string decoded() {
        std::string text;
        EXPECT_TRUE(veld::se::readLogFile(path(), text));
        return text;
    }
    std::string raw() { return root_.readFile(veld::se::kLogFile); }
    // A file as the writer leaves it: `text` scrambled from position 0.
    void writeScrambled(const std::string& text) {
        std::string bytes = text;
        veld::se::scramble(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size(), 0);
        root_.writeFile(veld::se::kLogFile, bytes);
    }
    TestRoot root_;
};

TEST_F(PermanentLog, LinesFromTwoProcessesReachTheScrambledFile) {
    ASSERT_EQ(VELD_SE_PL02("first %d\n", 1), 0);
    const pid_t child = forkChild([] { return VELD_SE_PL02("from the child\n") == 0 ? 0 : 1; });
    ASSERT_EQ(waitChild(child), 0);
    ASSERT_EQ(VELD_SE_PL03("stamped\n"), 0);
    flush();
    const std::string text = decoded();
    EXPECT_EQ(text.rfind("first 1\nfrom the child\n", 0), 0u) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("\\n\\w{3} \\w{3} +\\d+ \\d\\d:\\d\\d:\\d\\d \\d{4}\\|stamped\\n$")))
        << text;
    EXPECT_EQ(raw().find("first"), std::string::npos) << "the file is scrambled";
    EXPECT_EQ(veld::se::processRecord().pSharedInfo->permanentLogPoint, 0u);
}

TEST_F(PermanentLog, TheFileKeepsTheNewest32KiBDecodable) {
    // 40,000 bytes of numbered lines, as an older build may have left them.
    std::string old;
    for (int i = 0; old.size() < 40000; ++i) old += "old line " + std::to_string(i) + "\n";
    old.resize(40000);
    writeScrambled(old);
    ASSERT_EQ(VELD_SE_PL02("newest\n"), 0);
    flush();
    EXPECT_TRUE(CapturedLog::contains("Log file is larger than 32768 : fix it"));
    const std::string text = decoded();
    ASSERT_EQ(text.size(), kLogFileLimit);
    const std::string expected = (old + "newest\n").substr(old.size() + 7 - kLogFileLimit);
    EXPECT_TRUE(text == expected) << "the tail is unscrambled with its own positions";

    // Appending more keeps the limit, still decodable from the start.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(VELD_SE_PL02("more %d\n", i), 0);
        flush();
    }
    const std::string after = decoded();
    EXPECT_EQ(after.size(), kLogFileLimit);
    EXPECT_EQ(after.substr(after.size() - 21), "more 0\nmore 1\nmore 2\n");
}

TEST_F(PermanentLog, ARepeatedPendingTextIsNotWrittenTwice) {
    ASSERT_EQ(VELD_SE_PL02("same\n"), 0);
    flush();
    const std::string before = raw();
    ASSERT_EQ(VELD_SE_PL02("same\n"), 0);
    flush();
    EXPECT_TRUE(CapturedLog::contains("Exist same log :  canceled"));
    EXPECT_EQ(raw(), before);
    EXPECT_EQ(veld::se::processRecord().pSharedInfo->permanentLogPoint, 0u);
}

TEST_F(PermanentLog, ALineThatDoesNotFitIsDropped) {
    std::string line(200, 'x');
    int accepted = 0;
    while (VELD_SE_PL02("%s\n", line.c_str()) == 0) ++accepted;
    EXPECT_EQ(accepted, 16384 / 201);
    flush();
    EXPECT_EQ(decoded().size(), 201u * accepted);
}

TEST_F(PermanentLog, PrintingNeedsAFileAndShowsNoneWhenEmpty) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(VELD_SE_PL00(), -1);
    root_.writeFile(veld::se::kLogFile, "");
    EXPECT_EQ(VELD_SE_PL00(), 0);
    writeScrambled("hello\n");
    EXPECT_EQ(VELD_SE_PL00(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "None.\nhello\n");
    EXPECT_EQ(VELD_SE_PL01(), 0);
    EXPECT_NE(access(path().c_str(), F_OK), 0);
}

TEST_F(PermanentLog, AWriterKilledAtAnyPointLeavesAWholeFile) {
    ASSERT_EQ(VELD_SE_PL02("line 0 base\n"), 0);
    flush();
    std::mt19937 random(12345);
    // Whole lines, after a first one that the 32 KiB trim may have cut.
    const std::regex line("line \\d+ [a-z]+");
    auto wholeLines = [&](const std::string& text) {
        if (text.empty() || text.back() != '\n') return false;
        std::istringstream in(text.substr(text.find('\n') + 1));
        for (std::string l; std::getline(in, l);)
            if (!std::regex_match(l, line)) return false;
        return true;
    };
    for (int round = 1; round <= 40; ++round) {
        // The writer rewrites the file over and over, so that the kill lands inside a rewrite.
        const pid_t writer = forkChild([&] {
            const std::string filler(150, 'f');
            for (int i = 0;; ++i) {
                VELD_SE_PL02("line %d %s\n", i, filler.c_str());
                veld::se::seLock();
                veld::se::startWriter();
                veld::se::seUnlock();
                while (veld::se::writerRunning()) usleep(50);
            }
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
        kill(writer, SIGKILL);
        waitChild(writer);
        // What the daemon does when the driver reports the close: a lock the writer held is
        // released for the next round.
        ASSERT_EQ(veld::se::cleanupDeadProcess(static_cast<uint32_t>(writer)), 0);
        const std::string text = decoded();
        ASSERT_FALSE(text.empty()) << "round " << round;
        EXPECT_TRUE(wholeLines(text)) << "round " << round << ": " << text.size();
    }
}

}  // namespace
