// Replay-protected storage of the engine against the simulated trusted world and eMMC: the key
// of a fresh part programmed once, the counter, authenticated reads and writes, frames the
// trusted world refuses, the block list with its markers and counts, find, print, update and
// erase, and the indirect mode through se_veldd giving what the direct one gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "rpmb_fixture.h"
#include "se_permanent_log.h"

namespace {

using namespace veld::test;
using Bytes = std::vector<uint8_t>;

class Rpmb : public RpmbFixture {
protected:
    Bytes readBlock(uint32_t address) {
        Bytes b(256, 0xCC);
        EXPECT_EQ(_SE_RB002(address, b.data()), 0) << address;
        return b;
    }
    uint32_t counter() {
        uint32_t c = 0xFFFFFFFF;
        EXPECT_EQ(_SE_RB001(&c), 0);
        return c;
    }
    veld::se::RpmbShared& list() { return *veld::se::rpmbShared(); }
    static Bytes header(const std::string& text) {
        Bytes h(64, 0);
        std::memcpy(h.data(), text.data(), text.size());
        return h;
    }
};

TEST_F(Rpmb, AFreshPartGetsItsKeyExactlyOnceAcrossRestarts) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(shared().bInitRPMB, 1u);
    EXPECT_EQ(emmcStats().keyWrites, 1u);
    EXPECT_EQ(emmcStats().keyProgrammed, 1u);
    EXPECT_TRUE(CapturedLog::contains("RPMB key programmed"));
    EXPECT_EQ(VELD_SE_CheckRPMBPartition(), 0);
    const uint32_t before = counter();

    reboot();
    CapturedLog::clear();
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(shared().bInitRPMB, 1u);
    EXPECT_EQ(emmcStats().keyWrites, 0u) << "the second start reads the counter";
    EXPECT_FALSE(CapturedLog::contains("RPMB key programmed"));
    EXPECT_EQ(counter(), before);

    // The trusted world hands the key out no more.
    uint8_t argument[36] = {1};
    VELD_SE_TRUSTED_OP op{0x0020, 0, reinterpret_cast<uintptr_t>(argument), sizeof argument};
    VELD_SE_CTX ctx{};
    ASSERT_EQ(VELD_SE_G000(&ctx), 0);
    ASSERT_EQ(VELD_SE_G014(&ctx, &op), 0);
    VELD_SE_G001(&ctx);
    EXPECT_EQ(op.result, 7u);
    EXPECT_EQ(std::memcmp(argument + 4, Bytes(32, 0).data(), 32), 0);
}

TEST_F(Rpmb, AWriteRaisesTheCounterByOneAndReadsBackEqual) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const uint32_t before = counter();
    const Bytes data = block("!+settings", 3);
    ASSERT_EQ(_SE_RB003(7, data.data()), 0);
    EXPECT_EQ(counter(), before + 1);
    EXPECT_EQ(readBlock(7), data);
    ASSERT_EQ(_SE_RB003(7, nullptr), 0) << "no buffer writes zeros";
    EXPECT_EQ(readBlock(7), Bytes(256, 0));
    EXPECT_EQ(counter(), before + 2);
}

TEST_F(Rpmb, ResponsesTheTrustedWorldCannotBelieveFail) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(_SE_RB003(4, block("!+a").data()), 0);
    // A write answered with the earlier write's response: the counter is not one up.
    ASSERT_TRUE(emmcControl(emmcWire::kReplay, {1, 0x0300}));
    EXPECT_EQ(_SE_RB003(4, block("!+b").data()), -1);
    EXPECT_TRUE(CapturedLog::contains("refused by the trusted world (selector 20): 0x3"));
    EXPECT_EQ(readBlock(4), block("!+b")) << "the write itself reached the part";
    // A read answered with an old response carries the wrong nonce; a broken MAC is refused.
    Bytes out(256, 0xCC);
    ASSERT_TRUE(emmcControl(emmcWire::kReplay, {1, 0x0400}));
    EXPECT_EQ(_SE_RB002(4, out.data()), -1);
    EXPECT_TRUE(CapturedLog::contains("refused by the trusted world (selector 23): 0x2"));
    ASSERT_TRUE(emmcControl(emmcWire::kBadMac, {1}));
    EXPECT_EQ(_SE_RB002(4, out.data()), -1);
    EXPECT_TRUE(CapturedLog::contains("refused by the trusted world (selector 23): 0x1"));
    // The nonce handed out with a good read is refused when an old response comes back with it.
    ASSERT_EQ(readBlock(4), block("!+b"));
    ASSERT_TRUE(emmcControl(emmcWire::kReplay, {1, 0x0400}));
    EXPECT_EQ(_SE_RB002(4, out.data()), -1);
    EXPECT_EQ(out, Bytes(256, 0xCC)) << "nothing is returned from a refused read";
}

TEST_F(Rpmb, AddressesOutsideThePartitionFailBeforeAnyRequest) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const auto before = emmcStats();
    Bytes out(256, 0xCC);
    EXPECT_EQ(_SE_RB002(1024, out.data()), -1);
    EXPECT_EQ(_SE_RB003(1024, out.data()), -1);
    EXPECT_EQ(_SE_RB003(0xFFFFFFFF, nullptr), -1);
    EXPECT_EQ(_SE_RB101(1024), -1);
    EXPECT_EQ(_SE_RB006("name", 63), -1) << "a name longer than a header";
    const auto after = emmcStats();
    EXPECT_EQ(after.reads + after.counterReads, before.reads + before.counterReads);
    EXPECT_EQ(out, Bytes(256, 0xCC));
}

TEST_F(Rpmb, TheBlockListMarksUnreadableBlocksAndFindsNoneOfThemFree) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(_SE_RB003(2, block("!+alpha").data()), 0);
    ASSERT_EQ(_SE_RB003(5, block("!+beta\x01").data()), 0);
    ASSERT_TRUE(emmcControl(emmcWire::kFailReads, {3, 0, 1, 700}));

    testing::internal::CaptureStdout();
    ASSERT_EQ(_SE_RB100(), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(list().listValid, 1u);
    EXPECT_EQ(list().numOfUsedBlock, 2u);
    EXPECT_EQ(list().numOfErrorBlock, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(list().list[700]), 2), "!E");
    EXPECT_TRUE(CapturedLog::contains("RPMB 700 : Read failed(6)!"));
    const std::string dots(57, '.');
    for (const std::string& line :
         {"0000 : E" + std::string(62, '.') + "\n", "0002 : +alpha" + dots + "\n",
          "0005 : +beta." + std::string(57, '.') + "\n",
          std::string("\nnumOfUsedBlock = 2, numOfErrorBlock = 3\n"),
          std::string("SE_RPMB_START_BLOCK_ADDR = 0, SE_RPMB_MAX_NUM_OF_BLOCKS = 1024\n")})
        EXPECT_NE(printed.find(line), std::string::npos) << line << "\nin:\n" << printed;
    EXPECT_EQ(printed.find("0003 :"), std::string::npos) << "blocks without a header are not shown";

    EXPECT_EQ(_SE_RB102(nullptr), 3) << "blocks 0 and 1 are unreadable, 2 in use";
    EXPECT_EQ(_SE_RB102(header("!+alpha").data()), 2);
    EXPECT_EQ(_SE_RB102(header("!+gamma").data()), -1);

    // Block 700 reads again: an update brings it back.
    ASSERT_TRUE(emmcControl(emmcWire::kFailReads, {2, 0, 1}));
    EXPECT_EQ(_SE_RB101(700), 0);
    EXPECT_EQ(list().numOfErrorBlock, 2u);
    EXPECT_EQ(list().list[700][0], 0);

    // Erasing by name writes zeros over the named blocks only; the list follows.
    EXPECT_EQ(_SE_RB006("alpha", 5), 0);
    EXPECT_EQ(readBlock(2), Bytes(256, 0));
    EXPECT_EQ(readBlock(5), block("!+beta\x01"));
    EXPECT_EQ(list().numOfUsedBlock, 1u);
    EXPECT_EQ(_SE_RB102(header("!+alpha").data()), -1);
    EXPECT_EQ(_SE_RB006(nullptr, 0), 0);
    EXPECT_EQ(list().numOfUsedBlock, 0u);
    EXPECT_EQ(readBlock(5), Bytes(256, 0));
}

TEST_F(Rpmb, AReplayedResponseDuringTheListShowsAsAnUnreadableBlock) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(_SE_RB003(1, block("!+one").data()), 0);
    ASSERT_EQ(_SE_RB102(nullptr), 0);  // the list of all blocks, read once
    list().listValid = 0;
    // The run's first response is the previous run's last one: another nonce.
    ASSERT_TRUE(emmcControl(emmcWire::kReplay, {1, 0x0400}));
    ASSERT_EQ(_SE_RB102(nullptr), 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(list().list[0]), 2), "!E");
    EXPECT_EQ(list().numOfErrorBlock, 1u);
    EXPECT_EQ(list().numOfUsedBlock, 1u);
}

TEST_F(Rpmb, TheIndirectModeGivesWhatTheDirectOneGives) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);  // direct: programs the key
    const Bytes data = block("!+shared", 5);
    ASSERT_EQ(_SE_RB003(9, data.data()), 0);
    const uint32_t directCounter = counter();
    const Bytes directRead = readBlock(9);

    ASSERT_TRUE(startDaemon()) << daemonLog();
    ASSERT_TRUE(control(wire::kRpmbIndirect, {1}));
    VELD_SE_Shutdown();
    CapturedLog::clear();
    ASSERT_EQ(VELD_SE_CheckRPMBPartition(), 0);
    EXPECT_EQ(veld::se::rpmbMode(), veld::se::RpmbMode::Indirect);
    EXPECT_TRUE(CapturedLog::contains("Indirect Access"));
    const uint32_t relayed = stats().relayed;

    EXPECT_EQ(counter(), directCounter);
    EXPECT_EQ(readBlock(9), directRead);
    ASSERT_EQ(_SE_RB003(10, data.data()), 0);
    EXPECT_EQ(counter(), directCounter + 1);
    EXPECT_EQ(readBlock(10), data);
    EXPECT_GE(stats().relayed, relayed + 6) << "every frame went through the daemon";
}

TEST_F(Rpmb, AnIndirectErrorReplyLeavesTheCallersBuffersUntouched) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_TRUE(startDaemon()) << daemonLog();
    ASSERT_TRUE(control(wire::kRpmbIndirect, {1}));
    VELD_SE_Shutdown();
    ASSERT_EQ(VELD_SE_CheckRPMBPartition(), 0);
    ASSERT_TRUE(emmcControl(emmcWire::kFailReads, {1, 6}));

    Bytes out(256, 0xCC);
    EXPECT_EQ(_SE_RB002(6, out.data()), -1);
    EXPECT_EQ(out, Bytes(256, 0xCC));
    EXPECT_TRUE(CapturedLog::contains("ERR : 1 : "));
    EXPECT_TRUE(eventually([&] { return daemonLog().find("1 - -1") != std::string::npos; }))
        << daemonLog();

    // A daemon that is gone answers nothing: the counter is not touched either.
    daemon_.kill(SIGKILL);
    uint32_t c = 0xABCD;
    EXPECT_EQ(_SE_RB001(&c), -1);
    EXPECT_EQ(c, 0xABCDu);
}

TEST_F(Rpmb, ARestoreFromSuspendMakesTheNextWriteInitialiseAgain) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_TRUE(control(wire::kSuspendFlags, {16}));
    CapturedLog::clear();
    const Bytes data = block("!+after", 4);
    ASSERT_EQ(_SE_RB003(11, data.data()), 0);
    EXPECT_TRUE(CapturedLog::contains("catched restore"));
    EXPECT_TRUE(CapturedLog::contains("checkAndReinit", "Re-Initialize"));
    EXPECT_EQ(shared().bInitRPMB, 1u);
    EXPECT_EQ(readBlock(11), data);
}

TEST_F(Rpmb, InitialisationFailsWhenTheCounterCannotBeReadForAnotherReason) {
    // A part that answers with a bad MAC is not a part without a key.
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(emmcStats().keyWrites, 1u);
    reboot();
    ASSERT_TRUE(emmcControl(emmcWire::kBadMac, {1}));
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(shared().bInitRPMB, 0u);
    EXPECT_TRUE(CapturedLog::contains("RPMB initialisation failed"));
    EXPECT_EQ(emmcStats().keyWrites, 0u);
    // Without the part nothing is programmed either.
    reboot();
    ASSERT_EQ(emmc_.stop(), 0);
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(shared().bInitRPMB, 0u);
    ASSERT_TRUE(emmc_.start());
    EXPECT_EQ(VELD_SE_CheckRPMBPartition(), 0) << "the next use initialises again";
    EXPECT_EQ(shared().bInitRPMB, 1u);
}

TEST_F(Rpmb, ReadsAfterTheFirstTakeTheirNonceFromThePreviousCheck) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    for (uint32_t address : {1u, 2u, 3u}) ASSERT_EQ(_SE_RB003(address, block("!+n", address).data()), 0);
    ASSERT_EQ(readBlock(1), block("!+n", 1));
    const uint32_t before = stats().commands;
    for (uint32_t address : {2u, 3u, 1u}) EXPECT_EQ(readBlock(address), block("!+n", address));
    EXPECT_EQ(stats().commands - before, 3u) << "one trusted check a read, no nonce request";

    // Each process has its own: a forked child's reads leave the parent's nonce good.
    const pid_t child = forkChild([&] {
        Bytes out(256);
        return _SE_RB002(2, out.data()) == 0 && out == block("!+n", 2) ? 0 : 1;
    });
    EXPECT_EQ(waitChild(child), 0);
    EXPECT_EQ(readBlock(3), block("!+n", 3));

    // A trusted world that lost its state forgets the nonce it handed out: the read asks for a
    // fresh one instead of failing.
    ASSERT_TRUE(control(wire::kInjectResult, {static_cast<uint32_t>(-8008), 24, 1}));
    uint8_t random[16];
    ASSERT_EQ(VELD_SE_G010(random, sizeof random), 0);
    EXPECT_EQ(readBlock(1), block("!+n", 1));
    EXPECT_TRUE(CapturedLog::contains("refused by the trusted world (selector 23): 0x7"));
}

}  // namespace
