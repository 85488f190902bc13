// The driver's "$$" text dumps, captured from the debug output.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "gal_dump.h"
#include "gal_os.h"

namespace {

std::string at(const void* p) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

class TextDump : public ::testing::Test {
protected:
    void SetUp() override { setenv("VELD_GAL_API_DUMP", "1", 1); }
    void TearDown() override { unsetenv("VELD_GAL_API_DUMP"); }
    // What `dump` printed on the debug output.
    template <typename F>
    std::string captured(F dump) {
        const std::string path = ::testing::TempDir() + "gal-text-dump.txt";
        gcoOS_SetDebugFile(path.c_str());
        dump();
        gcoOS_SetDebugFile(nullptr);
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(path.c_str());
        return text;
    }
};

TEST_F(TextDump, BytesWordsAndTokensInTheirLineFormats) {
    const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 0xFE, 0xFF};
    EXPECT_EQ(captured([&] { gcfDumpApiData(bytes, sizeof bytes); }),
              "$$ " + at(bytes) + ": 0x00 0x01 0x02 0x03 0x04 0x05 0x06 0x07\n"
              "$$ " + at(bytes + 8) + ": 0xFE 0xFF\n$$ **********\n");
    const char* text = "abc";
    EXPECT_EQ(captured([&] { gcfDumpApiData(text, 0); }),
              "$$ " + at(text) + ": 0x61 0x62 0x63 0x00\n$$ **********\n")
        << "a count of 0 dumps the string with its terminator";

    const uint32_t words[5] = {1, 2, 3, 0xDEADBEEF, 5};
    EXPECT_EQ(captured([&] { gcfDumpArray(words, 5); }),
              "$$ " + at(words) + ": 0x00000001 0x00000002 0x00000003 0xDEADBEEF\n"
              "$$ " + at(words + 4) + ": 0x00000005\n$$ **********\n");
    const uint32_t tokens[5] = {0x10, 7, 0x20, 8, 0xFFFF};
    EXPECT_EQ(captured([&] { gcfDumpArrayToken(tokens, 0xFFFF); }),
              "$$ " + at(tokens) + ": 0x00000010 0x00000007\n"
              "$$ " + at(tokens + 2) + ": 0x00000020 0x00000008\n"
              "$$ " + at(tokens + 4) + ": 0x0000FFFF\n$$ **********\n");
    EXPECT_EQ(captured([&] { gcfDumpApi("gco2D_Blit(%d)", 3); }), "gco2D_Blit(3)\n");
}

TEST_F(TextDump, NullDataPrintsNilAndTheSwitchSilencesEverything) {
    EXPECT_EQ(captured([] {
                  gcfDumpArray(nullptr, 4);
                  gcfDumpApiData(nullptr, 4);
              }),
              "$$ <nil>\n$$ **********\n$$ <nil>\n$$ **********\n");
    const uint32_t words[2] = {1, 2};
    setenv("VELD_GAL_API_DUMP", "0", 1);
    EXPECT_EQ(captured([&] {
                  gcfDumpApi("call");
                  gcfDumpArray(words, 2);
                  gcfDumpArrayToken(words, 2);
                  gcfDumpApiData(words, 8);
              }),
              "");
}

}  // namespace
