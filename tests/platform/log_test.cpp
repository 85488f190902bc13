// Log objects: registration, level masks, the line format, and no formatting when disabled.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "veldcore.h"
#include "veldcore_host.h"

namespace {

struct Captured {
    std::vector<std::string> lines;
};

void capture(const char* line, void* context) {
    static_cast<Captured*>(context)->lines.emplace_back(line);
}

class Log : public ::testing::Test {
protected:
    void SetUp() override { VELD_HOST_SetLogSink(capture, &captured_); }
    void TearDown() override {
        VELD_HOST_SetLogSink(nullptr, nullptr);
        VELD_LOGM_ObjDeregister("logtest");
    }
    Captured captured_;
};

TEST_F(Log, LevelsAreWrittenOnlyWhenEnabled) {
    const int32_t h = VELD_LOGM_ObjRegister("logtest");
    ASSERT_GE(h, 0);
    EXPECT_EQ(VELD_LOGM_ObjRegister("logtest"), h) << "same name, same handle";
    VELD_LOGM_WriteLog(h, 2, "fn", 10, "off %d\n", 1);
    VELD_LOGM_BitMaskEnable(h, 2);
    VELD_LOGM_WriteLog(h, 2, "fn", 11, "on %d\n", 2);
    VELD_LOGM_WriteLog(h, 3, "fn", 12, "other level\n");
    VELD_LOGM_BitMaskDisable(h, 2);
    VELD_LOGM_WriteLog(h, 2, "fn", 13, "off again\n");
    ASSERT_EQ(captured_.lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(captured_.lines[0],
                                 std::regex(R"(\d+\.\d{6} logtest\[2\] fn:11 on 2\n)")))
        << captured_.lines[0];
}

TEST_F(Log, DisabledLevelDoesNotFormat) {
    const int32_t h = VELD_LOGM_ObjRegister("logtest");
    // Formatting this argument would read through a bad pointer; a disabled level must not.
    const char* poisoned = reinterpret_cast<const char*>(uintptr_t{1});
    VELD_LOGM_WriteLog(h, 9, "fn", 1, "%s\n", poisoned);
    EXPECT_TRUE(captured_.lines.empty());
}

TEST_F(Log, BadHandlesAndLevelsAreRefused) {
    EXPECT_LT(VELD_LOGM_BitMaskEnable(-1, 0), 0);
    EXPECT_LT(VELD_LOGM_BitMaskEnable(1000, 0), 0);
    const int32_t h = VELD_LOGM_ObjRegister("logtest");
    EXPECT_LT(VELD_LOGM_BitMaskEnable(h, 32), 0);
    EXPECT_LT(VELD_LOGM_ObjDeregister("never-registered"), 0);
    VELD_LOGM_WriteLog(-1, 0, "fn", 1, "nothing\n");
    EXPECT_TRUE(captured_.lines.empty());
}

TEST_F(Log, LongLinesAreCutAndStillEndTheLine) {
    const int32_t h = VELD_LOGM_ObjRegister("logtest");
    VELD_LOGM_BitMaskEnable(h, 0);
    const std::string text(10000, 'x');
    VELD_LOGM_WriteLog(h, 0, "fn", 1, "%s", text.c_str());
    ASSERT_EQ(captured_.lines.size(), 1u);
    EXPECT_LT(captured_.lines[0].size(), 4096u);
    EXPECT_EQ(captured_.lines[0].back(), '\n');
}

// What reaches the log (standard error here) is rate-limited; the sink still sees every line.
TEST_F(Log, StormsOfIdenticalLinesAreSummedUp) {
    const int32_t h = VELD_LOGM_ObjRegister("logtest");
    VELD_LOGM_BitMaskEnable(h, 1);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 40; ++i) {
        VELD_LOGM_WriteLog(h, 1, "flood", 7, "reply to @%s lost\n", "client");
        if (i % 4 == 0) VELD_LOGM_WriteLog(h, 1, "other", 8, "tick %d\n", i);  // all differ
    }
    // Once the second is over, the next line of any kind brings the summary, in the line format
    // of the repeated line; the same line is then written again.
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    VELD_LOGM_WriteLog(h, 1, "other", 9, "after the storm\n");
    VELD_LOGM_WriteLog(h, 1, "flood", 7, "reply to @%s lost\n", "client");
    std::istringstream written(testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(written, line);) lines.push_back(line + "\n");

    auto count = [](const std::vector<std::string>& in, const std::string& text) {
        size_t n = 0;
        for (const std::string& line : in) n += line.find(text) != std::string::npos;
        return n;
    };
    EXPECT_EQ(count(captured_.lines, "flood:7 reply to @client lost\n"), 41u) << "the sink sees every line";
    EXPECT_EQ(count(lines, "flood:7 reply to @client lost\n"), 6u) << "the first few, interleaved or not";
    EXPECT_EQ(count(lines, "other:8 tick"), 10u);
    EXPECT_EQ(count(lines, "flood:7 ... repeated"), 1u);
    const auto at = [&](const std::string& text) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos) return i;
        return lines.size();
    };
    const size_t summary = at("flood:7 ... repeated");
    ASSERT_LT(summary, lines.size());
    EXPECT_TRUE(std::regex_match(lines[summary],
                                 std::regex(R"(\d+\.\d{6} logtest\[1\] flood:7 \.\.\. repeated 35 times\n)")))
        << lines[summary];
    EXPECT_LT(summary, at("after the storm"));
    const size_t n = lines.size();
    EXPECT_NE(lines[n - 1].find("flood:7 reply to @client lost"), std::string::npos);
}

}  // namespace
