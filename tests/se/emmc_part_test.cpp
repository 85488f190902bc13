// The simulated eMMC replay-protected partition through the platform library's VELD_MMC_rpmb_*
// calls, checked against OpenSSL's HMAC-SHA256: the key programmed once, the result codes of a
// real part, the write counter, replayed frames, the file that survives restarts and power
// cuts, and the faults tests can inject.
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <vector>

#include "rpmb_fixture.h"

namespace {

using namespace veld::test;
using namespace veld::rpmb;

class EmmcPart : public RpmbFixture {
protected:
    uint8_t key_[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};

    void sign(Frame& f) const {
        unsigned int n = 0;
        HMAC(EVP_sha256(), key_, sizeof key_, macInput(f), kMacBytes, f.keyMac, &n);
    }
    bool signedByKey(const Frame& f) const {
        Frame copy = f;
        sign(copy);
        return std::memcmp(copy.keyMac, f.keyMac, 32) == 0;
    }
    static Frame withNonce(uint16_t address = 0) {
        Frame f{};
        put16(f.address, address);
        put16(f.blockCount, 1);
        for (int i = 0; i < 16; ++i) f.nonce[i] = static_cast<uint8_t>(0xA0 + i);
        return f;
    }
    // A write request of `data` to `address` at `counter`, signed with `key_`.
    Frame writeFrame(uint16_t address, uint32_t counter, const std::vector<uint8_t>& data) const {
        Frame f{};
        put16(f.address, address);
        put16(f.blockCount, 1);
        put16(f.type, kWrite);
        put32(f.writeCounter, counter);
        std::memcpy(f.data, data.data(), 256);
        sign(f);
        return f;
    }
    uint8_t* raw(Frame& f) { return reinterpret_cast<uint8_t*>(&f); }
    uint32_t counter() {
        Frame f = withNonce();
        EXPECT_EQ(VELD_MMC_rpmb_read_writecounter(raw(f)), 0);
        EXPECT_TRUE(signedByKey(f));
        return counterOf(f);
    }
};

TEST_F(EmmcPart, AnswersWithTheResultCodesOfARealPart) {
    // An unprogrammed part answers every request with "key not programmed".
    Frame f = withNonce();
    EXPECT_EQ(VELD_MMC_rpmb_read_writecounter(raw(f)), -1);
    EXPECT_EQ(typeOf(f), 0x0200);
    EXPECT_EQ(resultOf(f), kKeyNotProgrammed);
    f = withNonce(3);
    EXPECT_EQ(VELD_MMC_rpmb_read_block(raw(f)), -1);
    EXPECT_EQ(resultOf(f), kKeyNotProgrammed);

    ASSERT_EQ(VELD_MMC_rpmb_key_write(key_, 32), 0);
    uint8_t other[32] = {};
    EXPECT_EQ(VELD_MMC_rpmb_key_write(other, 32), -1) << "the key is programmed once";
    EXPECT_EQ(VELD_MMC_rpmb_key_write(key_, 16), -1);
    EXPECT_EQ(emmcStats().keyWrites, 1u);

    f = withNonce();
    ASSERT_EQ(VELD_MMC_rpmb_read_writecounter(raw(f)), 0);
    EXPECT_EQ(counterOf(f), 0u);
    EXPECT_EQ(f.nonce[15], 0xAF) << "the nonce comes back";
    EXPECT_TRUE(signedByKey(f));

    const std::vector<uint8_t> data = block("!+first", 9);
    Frame w = writeFrame(5, 0, data);
    const Frame sent = w;
    ASSERT_EQ(VELD_MMC_rpmb_write_block(raw(w)), 0);
    EXPECT_EQ(typeOf(w), 0x0300);
    EXPECT_EQ(counterOf(w), 1u) << "a write raises the counter by one";
    EXPECT_EQ(addressOf(w), 5);
    EXPECT_TRUE(signedByKey(w));

    struct Case {
        const char* what;
        Frame frame;
        uint16_t result;
    };
    Frame badMac = writeFrame(6, 1, data);
    badMac.keyMac[7] ^= 1;
    const Case refused[] = {
        {"a replayed write frame", sent, kCounterFailure},
        {"a frame with a wrong MAC", badMac, kAuthFailure},
        {"a counter from the future", writeFrame(6, 7, data), kCounterFailure},
        {"address 1,024", writeFrame(1024, 1, data), kAddressFailure},
    };
    for (Case c : refused) {
        EXPECT_EQ(VELD_MMC_rpmb_write_block(raw(c.frame)), -1) << c.what;
        EXPECT_EQ(resultOf(c.frame), c.result) << c.what;
        EXPECT_EQ(counterOf(c.frame), 1u) << c.what << ": the counter stays";
    }
    f = withNonce(1024);
    EXPECT_EQ(VELD_MMC_rpmb_read_block(raw(f)), -1);
    EXPECT_EQ(resultOf(f), kAddressFailure);

    f = withNonce(5);
    ASSERT_EQ(VELD_MMC_rpmb_read_block(raw(f)), 0);
    EXPECT_EQ(typeOf(f), 0x0400);
    EXPECT_EQ(std::vector<uint8_t>(f.data, f.data + 256), data);
    EXPECT_EQ(f.nonce[0], 0xA0);
    EXPECT_TRUE(signedByKey(f));
    EXPECT_EQ(counter(), 1u);
}

TEST_F(EmmcPart, KeepsBlocksCounterAndKeyAcrossRestartsAndPowerCuts) {
    ASSERT_EQ(VELD_MMC_rpmb_key_write(key_, 32), 0);
    const std::vector<uint8_t> first = block("!+kept", 1), second = block("!+lost", 2);
    Frame w = writeFrame(5, 0, first);
    ASSERT_EQ(VELD_MMC_rpmb_write_block(raw(w)), 0);
    w = writeFrame(5, 1, second);
    ASSERT_EQ(VELD_MMC_rpmb_write_block(raw(w)), 0);
    w = writeFrame(5, 2, first);
    ASSERT_EQ(VELD_MMC_rpmb_write_block(raw(w)), 0);

    // Power is cut half-way through the next write of the same block.
    ASSERT_TRUE(emmcControl(emmcWire::kTearNextWrite));
    w = writeFrame(5, 3, second);
    EXPECT_EQ(VELD_MMC_rpmb_write_block(raw(w)), -1);
    EXPECT_EQ(emmc_.stop(), 3) << "the part stopped at the power cut";

    ASSERT_TRUE(emmc_.start());
    EXPECT_EQ(emmcStats().keyProgrammed, 1u);
    EXPECT_EQ(counter(), 3u) << "the cut write never happened";
    Frame r = withNonce(5);
    ASSERT_EQ(VELD_MMC_rpmb_read_block(raw(r)), 0);
    EXPECT_EQ(std::vector<uint8_t>(r.data, r.data + 256), first);
    uint8_t other[32] = {};
    EXPECT_EQ(VELD_MMC_rpmb_key_write(other, 32), -1) << "the key survives the restart";
}

TEST_F(EmmcPart, InjectedFaultsChangeWhatThePartAnswers) {
    ASSERT_EQ(VELD_MMC_rpmb_key_write(key_, 32), 0);
    Frame w = writeFrame(2, 0, block("!+old"));
    ASSERT_EQ(VELD_MMC_rpmb_write_block(raw(w)), 0);

    ASSERT_TRUE(emmcControl(emmcWire::kFailReads, {2, 2, 9}));
    for (uint16_t address : {2, 9}) {
        Frame r = withNonce(address);
        EXPECT_EQ(VELD_MMC_rpmb_read_block(raw(r)), -1) << address;
        EXPECT_EQ(resultOf(r), kReadFailure) << address;
    }
    Frame r = withNonce(3);
    EXPECT_EQ(VELD_MMC_rpmb_read_block(raw(r)), 0) << "other blocks read";

    ASSERT_TRUE(emmcControl(emmcWire::kBadMac, {1}));
    r = withNonce(3);
    ASSERT_EQ(VELD_MMC_rpmb_read_block(raw(r)), 0);
    EXPECT_FALSE(signedByKey(r)) << "the response carries a broken MAC";

    // A replay repeats the previous response of the same type, nonce and all.
    ASSERT_TRUE(emmcControl(emmcWire::kReplay, {1}));
    Frame fresh = withNonce(3);
    fresh.nonce[0] = 0x11;
    ASSERT_EQ(VELD_MMC_rpmb_read_block(raw(fresh)), 0);
    EXPECT_EQ(fresh.nonce[0], 0xA0) << "the old response came back";
    EXPECT_TRUE(signedByKey(fresh));

    ASSERT_TRUE(emmcControl(emmcWire::kClearFaults));
    r = withNonce(2);
    EXPECT_EQ(VELD_MMC_rpmb_read_block(raw(r)), 0);
    EXPECT_GE(emmcStats().faults, 2u);
}

}  // namespace
