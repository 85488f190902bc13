// The trusted command channel against the simulated trusted world: attachment and start-up
// diagnostics, the block operation against OpenSSL through every packet mode, result codes,
// re-initialisation after lost state, requests refused before anything is sent, and the
// wrappers over the trusted world's own keys and operations.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/mman.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "se_channel.h"
#include "se_random.h"
#include "tw_fixture.h"

namespace {

using namespace veld::test;
using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t n) {
    Bytes b(n);
    RAND_bytes(b.data(), static_cast<int>(n));
    return b;
}

// OpenSSL's AES-128-CBC of the packets as the block operation defines them: every packet
// restarts from the vector, its leading bytes and the tail shorter than a block stay clear.
Bytes referenceCbc(bool decrypt, const Bytes& key, const Bytes& iv, Bytes data, size_t packet,
                   size_t leading, size_t processed) {
    for (size_t at = 0; at < data.size(); at += packet) {
        const size_t blocks = processed / 16 * 16;
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int n = 0;
        EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data(), decrypt ? 0 : 1);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_CipherUpdate(ctx, data.data() + at + leading, &n, data.data() + at + leading,
                         static_cast<int>(blocks));
        EVP_CIPHER_CTX_free(ctx);
    }
    return data;
}

class Channel : public TrustedWorld {
protected:
    // Opens `ctx` with the key chain and second chain.
    void openWith(VELD_SE_CTX& ctx, const Bytes& key, const Bytes& iv) {
        ctx = {};
        keyChain_ = {reinterpret_cast<uintptr_t>(key.data()), key.size()};
        ivChain_ = {reinterpret_cast<uintptr_t>(iv.data()), iv.size()};
        ASSERT_EQ(VELD_SE_G000(&ctx), 0);
        ASSERT_EQ(VELD_SE_G002(&ctx, &keyChain_), 0);
        ASSERT_EQ(VELD_SE_G005(&ctx, &ivChain_), 0);
    }
    static VELD_SE_BLOCK_OP userOp(uint32_t direction, uint32_t mode, uint8_t* data, size_t n) {
        return {direction, {0, 0}, 3, 0, mode, 16, 0, reinterpret_cast<uintptr_t>(data), 0,
                reinterpret_cast<uintptr_t>(data), static_cast<uint32_t>(n)};
    }
    VELD_SE_CHAIN keyChain_{}, ivChain_{};
};

TEST_F(Channel, FirstAttachInitialisesTheTrustedWorldAndPassesTheDiagnostics) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(shared().bInit, 1u);
    EXPECT_EQ(shared().bVerified, 1u);
    EXPECT_EQ(stats().initCommands, 1u);
    EXPECT_TRUE(CapturedLog::contains("Succeeded in loading /usr/lib/qvuta/luta.ta"));
    EXPECT_TRUE(CapturedLog::contains("Fail to open"));  // nothing under /var/qvuta
    uint32_t base = 0, size = 0;
    ASSERT_EQ(VELD_SE_SM000(&base, &size), 0);
    EXPECT_EQ(base, 0x7C000000u);
    EXPECT_EQ(size, 0x100000u);
    const auto& p = veld::se::processRecord();
    EXPECT_EQ(p.bufferLength, p.memInfo.size - 16384);
    EXPECT_NE(p.pCachedBuffer, nullptr);
    EXPECT_EQ(VELD_SE_Initialize(nullptr), 0);  // a second attach changes nothing
    EXPECT_EQ(stats().initCommands, 1u);
}

TEST_F(Channel, ImagesComeFromVarFirstAndATooLargeOneFallsBack) {
    root_.writeFile("/var/qvuta/auta.ta", std::string(1000, 'a'));
    root_.writeFile("/var/qvuta/luta.ta", std::string(0x100001, 'l'));  // reaches into auta's room
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_TRUE(CapturedLog::contains("Succeeded in loading /var/qvuta/auta.ta(0x3e8)"));
    EXPECT_TRUE(CapturedLog::contains("Buffer is not larget enough!!"));
    EXPECT_TRUE(CapturedLog::contains("Succeeded in loading /usr/lib/qvuta/luta.ta"));
}

TEST_F(Channel, ALongStorePathIsRefusedAndInitialisationGoesOn) {
    ASSERT_EQ(VELD_SE_Initialize(std::string(256, 's').c_str()), 0);
    EXPECT_TRUE(CapturedLog::contains("Too large SeStorePath!"));
    EXPECT_EQ(shared().seStorePath[0], '\0');
}

TEST_F(Channel, AFailedCacheProbeLeavesTheWindowUncached) {
    ASSERT_TRUE(control(wire::kFailCacheProbe, {1}));
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(veld::se::processRecord().pCachedBuffer, nullptr);
    EXPECT_EQ(shared().bVerified, 1u);
}

TEST_F(Channel, AnInvalidOtpFailsTheDiagnosticsButNotTheAttachment) {
    ASSERT_TRUE(control(wire::kInvalidOtp, {1}));
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(shared().bVerified, 0u);
    EXPECT_TRUE(CapturedLog::contains("Invalid OTP!"));
    EXPECT_EQ(VELD_SE_CheckOTP(), -1);
    EXPECT_TRUE(CapturedLog::contains("OTP Check Failed"));
    ASSERT_TRUE(control(wire::kInvalidOtp, {0}));
    EXPECT_EQ(VELD_SE_CheckOTP(), 0);
}

TEST_F(Channel, BlockOperationEqualsOpenSslThroughEveryPacketMode) {
    struct Mode {
        uint32_t mode;
        size_t packet, leading, processed;
    };
    const Mode modes[] = {{0, 0, 0, 0}, {1, 188, 4, 184}, {2, 192, 8, 184}};
    for (const Mode& m : modes) {
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE("mode " + std::to_string(m.mode) + " round " + std::to_string(round));
            const Bytes key = randomBytes(16), iv = randomBytes(16);
            uint8_t units = 0;
            RAND_bytes(&units, 1);
            const size_t count = 1 + units % 40;
            const size_t length = m.mode == 0 ? count * 16 : count * m.packet;
            const Bytes plain = randomBytes(length);
            VELD_SE_CTX ctx;
            openWith(ctx, key, iv);
            Bytes data = plain;
            VELD_SE_BLOCK_OP op = userOp(0, m.mode, data.data(), data.size());
            ASSERT_EQ(VELD_SE_G011(&ctx, &op), 0);
            const size_t packet = m.mode == 0 ? length : m.packet;
            const size_t processed = m.mode == 0 ? length : m.processed;
            EXPECT_EQ(data, referenceCbc(false, key, iv, plain, packet, m.leading, processed));
            op = userOp(1, m.mode, data.data(), data.size());
            ASSERT_EQ(VELD_SE_G011(&ctx, &op), 0);
            EXPECT_EQ(data, plain);
            ASSERT_EQ(VELD_SE_G001(&ctx), 0);
        }
    }
}

TEST_F(Channel, ALargeTransferGoesInChunksAndEqualsOpenSsl) {
    const Bytes key = randomBytes(16), iv = randomBytes(16);
    const Bytes plain = randomBytes(0x3FFFC0 + 192 * 100);
    VELD_SE_CTX ctx;
    openWith(ctx, key, iv);
    Bytes data = plain;
    VELD_SE_BLOCK_OP op = userOp(0, 2, data.data(), data.size());
    const uint32_t before = stats().commands;
    ASSERT_EQ(VELD_SE_G011(&ctx, &op), 0);
    EXPECT_EQ(stats().commands - before, 2u) << "two chunks";
    EXPECT_EQ(data, referenceCbc(false, key, iv, plain, 192, 8, 184));
    Bytes odd = randomBytes(0x3FFFC0 + 100);
    op = userOp(0, 2, odd.data(), odd.size());
    EXPECT_EQ(VELD_SE_G011(&ctx, &op), -1) << "a final chunk of partial packets";
}

TEST_F(Channel, ResultCodesFailWithTheirTexts) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const std::pair<int32_t, const char*> cases[] = {
        {-8007, "TZ_FAIL_ACCESS_DENIED"},
        {-8006, "TZ_FAIL_BUSY"},
        {-8005, "TZ_FAIL_ILLEGAL_ARGUMENT"},
        {-8004, "TZ_FAIL_NOT_IMPLEMENTED"},
        {-8003, "TZ_FAIL_WRONG_CMD"},
        {-8002, "TZ_FAIL_NOT_SUPPORTED_CHIP"},
        {-8001, "TZ_FAIL_VERSION_MISMATCH - Update sedrv and tzfw."},
        {-8000, "TZ_FAIL"},
        {-1234, "Unknown(0xfffffb2e)"},
    };
    // The failing source's line is the same for every code, so the log's storm limit may sum
    // its later repeats up: it is looked for once, over all cases.
    CapturedLog::clear();
    for (const auto& [code, text] : cases) {
        ASSERT_TRUE(control(wire::kInjectResult, {static_cast<uint32_t>(code), 24, 1}));
        uint8_t out[16] = {};
        EXPECT_EQ(VELD_SE_G010(out, sizeof out), -1) << code;
        EXPECT_TRUE(CapturedLog::contains(text)) << code;
        EXPECT_TRUE(CapturedLog::contains("injected result " + std::to_string(code)))
            << "the trusted debug text";
    }
    EXPECT_TRUE(CapturedLog::contains("se_wrappers.cpp")) << "the failing source";
    EXPECT_EQ(VELD_SE_G010(nullptr, 16), -1);
}

TEST_F(Channel, LostStateReinitialisesAndTheOperationStillComesOutRight) {
    const Bytes key = randomBytes(16), iv = randomBytes(16), plain = randomBytes(16 * 64);
    VELD_SE_CTX ctx;
    openWith(ctx, key, iv);
    const uint32_t inits = stats().initCommands;
    ASSERT_TRUE(control(wire::kInjectResult, {static_cast<uint32_t>(-8008), 96, 1}));
    Bytes data = plain;
    VELD_SE_BLOCK_OP op = userOp(0, 0, data.data(), data.size());
    ASSERT_EQ(VELD_SE_G011(&ctx, &op), 0);
    EXPECT_TRUE(CapturedLog::contains("Re-Initialize"));
    EXPECT_EQ(stats().initCommands, inits + 1);
    // The trusted world forgot the keys; the whole call ran again, make-current included.
    EXPECT_EQ(data, referenceCbc(false, key, iv, plain, plain.size(), 0, plain.size()));

    // Lost again and again: bounded, and the lock is free afterwards.
    ASSERT_TRUE(control(wire::kInjectResult, {static_cast<uint32_t>(-8008), 96, 100}));
    op = userOp(0, 0, data.data(), data.size());
    EXPECT_EQ(VELD_SE_G011(&ctx, &op), -1);
    EXPECT_TRUE(CapturedLog::contains("lost its state again"));
    ASSERT_TRUE(control(wire::kClearFaults));
    uint8_t out[16];
    EXPECT_EQ(VELD_SE_G010(out, sizeof out), 0);
}

TEST_F(Channel, NotInitialisedOnCommandTwoIsFinal) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_TRUE(control(wire::kInjectResult, {static_cast<uint32_t>(-8008), 0, 100}));
    uint8_t out[16];
    EXPECT_EQ(VELD_SE_G010(out, sizeof out), -1);
    EXPECT_TRUE(CapturedLog::contains("TZ_FAIL_NOT_INIT"));
}

TEST_F(Channel, OversizeRequestsFailBeforeAnythingIsSent) {
    const Bytes key = randomBytes(16), iv = randomBytes(16);
    VELD_SE_CTX ctx;
    openWith(ctx, key, iv);
    const uint32_t before = stats().commands;
    Bytes big(veld::se::processRecord().bufferLength + 16);
    uint8_t small[32] = {};
    Bytes tooLongChain(veld::se::kParamRoom);
    const VELD_SE_CHAIN longChain{reinterpret_cast<uintptr_t>(tooLongChain.data()),
                                  tooLongChain.size()};
    VELD_SE_KEY_RECORD record{2, 1, 0, 0, 3, 16, veld::se::kParamRoom,
                              reinterpret_cast<uintptr_t>(tooLongChain.data())};
    VELD_SE_BLOCK_OP oversize = userOp(0, 0, big.data(), big.size());
    VELD_SE_BLOCK_OP notPackets = userOp(0, 1, small, 32);
    uint32_t args[4] = {};
    VELD_SE_TRUSTED_OP longOp{0x0020, 0, reinterpret_cast<uintptr_t>(args), veld::se::kParamRoom};
    EXPECT_EQ(VELD_SE_G010(small, 16381), -1);
    EXPECT_EQ(VELD_SE_G010(small, static_cast<int32_t>(veld::se::kRandomMax + 1)), -1);
    EXPECT_EQ(VELD_SE_G011(&ctx, &oversize), -1);
    EXPECT_EQ(VELD_SE_G011(&ctx, &notPackets), -1);
    EXPECT_EQ(VELD_SE_G002(&ctx, &longChain), -1);
    EXPECT_EQ(VELD_SE_G008(&ctx, &record, 1), -1);
    EXPECT_EQ(VELD_SE_G014(&ctx, &longOp), -1);
    uint32_t outSize = 20;
    EXPECT_EQ(VELD_SE_SB010(small, 16, small, &outSize), -1) << "output not larger than 31";
    EXPECT_EQ(VELD_SE_SM003(0x10000000, 0x7A000000, 16), -1) << "outside every secure range";
    EXPECT_TRUE(CapturedLog::contains("Invalid : 10000000, 00000010"));
    // Make-current replayed the key chain for the first refused request only, and then nothing.
    EXPECT_LE(stats().commands - before, 2u);
    const uint32_t after = stats().commands;
    EXPECT_EQ(VELD_SE_G010(small, 16381), -1);
    EXPECT_EQ(stats().commands, after);
}

TEST_F(Channel, TwoContextsInOneProcessEachRunUnderItsOwnKey) {
    const Bytes keyA = randomBytes(16), ivA = randomBytes(16), keyB = randomBytes(16),
                ivB = randomBytes(16), plain = randomBytes(64);
    VELD_SE_CTX a, b;
    openWith(a, keyA, ivA);
    const VELD_SE_CHAIN chainB{reinterpret_cast<uintptr_t>(keyB.data()), 16},
        ivChainB{reinterpret_cast<uintptr_t>(ivB.data()), 16};
    ASSERT_EQ(VELD_SE_G000(&b), 0);
    ASSERT_EQ(VELD_SE_G002(&b, &chainB), 0);
    ASSERT_EQ(VELD_SE_G005(&b, &ivChainB), 0);
    for (int i = 0; i < 3; ++i) {
        Bytes da = plain, db = plain;
        VELD_SE_BLOCK_OP opA = userOp(0, 0, da.data(), da.size()), opB = userOp(0, 0, db.data(), db.size());
        ASSERT_EQ(VELD_SE_G011(&a, &opA), 0);
        ASSERT_EQ(VELD_SE_G011(&b, &opB), 0);
        EXPECT_EQ(da, referenceCbc(false, keyA, ivA, plain, 64, 0, 64));
        EXPECT_EQ(db, referenceCbc(false, keyB, ivB, plain, 64, 0, 64));
    }
    // A key loaded outside make-current (the store-key wrappers) does not leave a context
    // running under the wrong settings.
    uint8_t vector[16];
    Bytes sealed = plain;
    ASSERT_EQ(VELD_SE_SD002(vector, sealed.data(), static_cast<uint32_t>(sealed.size())), 0);
    Bytes da = plain;
    VELD_SE_BLOCK_OP opA = userOp(0, 0, da.data(), da.size());
    ASSERT_EQ(VELD_SE_G011(&a, &opA), 0);
    EXPECT_EQ(da, referenceCbc(false, keyA, ivA, plain, 64, 0, 64));
    EXPECT_EQ(VELD_SE_G001(&b), 0);
    EXPECT_EQ(VELD_SE_G001(&b), -1) << "closed already";
    EXPECT_EQ(VELD_SE_G009(&b), -1) << "ClearSet of a closed context";
}

TEST_F(Channel, TwoProcessesTakingTurnsEachRunUnderTheirOwnContextsKey) {
    auto* turn = static_cast<volatile uint32_t*>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(turn, MAP_FAILED);
    *turn = 0;
    constexpr uint32_t kRounds = 40;
    // Forked before this process attaches, so each child has its own attachment.
    auto client = [&](uint32_t me) {
        const Bytes key = randomBytes(16), iv = randomBytes(16), plain = randomBytes(192);
        VELD_SE_CTX ctx;
        openWith(ctx, key, iv);
        int wrong = 0;
        for (uint32_t round = 0; round < kRounds; ++round) {
            while (*turn % 2 != me) usleep(100);
            Bytes data = plain;
            VELD_SE_BLOCK_OP op = userOp(0, 0, data.data(), data.size());
            if (VELD_SE_G011(&ctx, &op) != 0 ||
                data != referenceCbc(false, key, iv, plain, 192, 0, 192))
                ++wrong;
            *turn = *turn + 1;
        }
        return wrong;
    };
    const pid_t a = forkChild([&] { return client(0); });
    const pid_t b = forkChild([&] { return client(1); });
    EXPECT_EQ(waitChild(a), 0);
    EXPECT_EQ(waitChild(b), 0);
    EXPECT_EQ(*turn, 2 * kRounds);
    munmap(const_cast<uint32_t*>(turn), 4096);
}

TEST_F(Channel, DeviceKeyWrappersRoundTrip) {
    const Bytes plain = randomBytes(256);
    Bytes unique = plain, common = plain;
    ASSERT_EQ(VELD_SE_CC000(unique.data(), 256, 1), 0);
    ASSERT_EQ(VELD_SE_CC001(common.data(), 256, 1), 0);
    EXPECT_NE(unique, plain);
    EXPECT_NE(unique, common);
    ASSERT_EQ(VELD_SE_CC000(unique.data(), 256, 0), 0);
    EXPECT_EQ(unique, plain);

    uint8_t vector[16];
    Bytes sealed = plain;
    ASSERT_EQ(VELD_SE_SD002(vector, sealed.data(), 256), 0);
    EXPECT_NE(sealed, plain);
    ASSERT_EQ(VELD_SE_SD003(vector, sealed.data(), 256), 0);
    EXPECT_EQ(sealed, plain);

    Bytes boxed(16 + 256), opened(256);
    ASSERT_EQ(VELD_SE_SB000(boxed.data(), plain.data(), 256), 0);
    ASSERT_EQ(VELD_SE_SB001(opened.data(), boxed.data(), 256), 0);
    EXPECT_EQ(opened, plain);

    Bytes out(16 + 256 + 16);
    uint32_t outSize = static_cast<uint32_t>(out.size());
    ASSERT_EQ(VELD_SE_SB010(plain.data(), 256, out.data(), &outSize), 0);
    EXPECT_EQ(outSize, 272u);
    Bytes back(256);
    uint32_t backSize = 256;
    ASSERT_EQ(VELD_SE_SB011(out.data(), 272, back.data(), &backSize), 0);
    EXPECT_EQ(backSize, 256u);
    EXPECT_EQ(back, plain);
}

TEST_F(Channel, HashesEqualOpenSslInOneCommandAndInChunks) {
    VELD_SE_CTX ctx{};
    ASSERT_EQ(VELD_SE_G000(&ctx), 0);
    const size_t window = veld::se::processRecord().bufferLength;
    for (size_t length : {size_t(0), size_t(1000), window + 100}) {
        const Bytes data = randomBytes(length);
        uint8_t result[32] = {}, expected[32];
        unsigned int n = 0;
        EVP_Digest(data.data(), data.size(), expected, &n, EVP_sha256(), nullptr);
        VELD_SE_HASH_REQUEST r{0, 6, 0, 0, 0, reinterpret_cast<uintptr_t>(data.data()), 0,
                               reinterpret_cast<uintptr_t>(result), static_cast<uint32_t>(length)};
        ASSERT_EQ(VELD_SE_G012(&ctx, &r), 0) << length;
        EXPECT_EQ(0, memcmp(result, expected, 32)) << length;
    }
    VELD_SE_HASH_REQUEST bad{0, 2, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(VELD_SE_G012(&ctx, &bad), -1);
    EXPECT_TRUE(CapturedLog::contains("can't use blkMode(2)!"));
}

TEST_F(Channel, SecureMemoryOperationsJudgeTheTrustedAnswer) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const auto& m = veld::se::processRecord().memInfo;
    const uint32_t a = m.tempSecureDataBase, b = m.tempSecureDataBase + 0x1000;
    Bytes pattern(300, 0x5A);
    ASSERT_EQ(VELD_SE_SM001(b, pattern.data(), 300), 0);
    ASSERT_EQ(VELD_SE_SM004(a, 0x5A, 300), 0) << "a fill longer than 127 bytes";
    EXPECT_EQ(VELD_SE_SM005(a, b, 300), 0);
    ASSERT_EQ(VELD_SE_SM004(a, 0x11, 10), 0);
    EXPECT_EQ(VELD_SE_SM005(a, b, 300), -1) << "unequal ranges are no success";
    ASSERT_EQ(VELD_SE_SM003(a, b, 300), 0);
    EXPECT_EQ(VELD_SE_SM006(a, b, 300), 0);
    EXPECT_EQ(VELD_SE_SM002(), -1);
}

TEST_F(Channel, SuspendAndRestoreFlagsResetTheCurrentContext) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(veld::se::seLock(), 0);
    shared().bInitSeStore = 1;
    shared().pCurrentCtx = 1234;
    ASSERT_TRUE(control(wire::kSuspendFlags, {16}));
    EXPECT_EQ(veld::se::detectSuspendResume(), 0);
    EXPECT_EQ(shared().bInitSeStore, 0u);
    EXPECT_EQ(shared().pCurrentCtx, 0u);
    ASSERT_TRUE(control(wire::kSuspendFlags, {1}));
    EXPECT_EQ(veld::se::detectSuspendResume(), 0);
    EXPECT_EQ(shared().resumeFlags, 0xFFFFFFFFu);
    EXPECT_TRUE(CapturedLog::contains("catched resume (1)"));
    veld::se::seUnlock();
}

TEST_F(Channel, CryptoRandomBytesComeFromTheTrustedWorldWhenAttached) {
    uint8_t out[64];
    ASSERT_EQ(veld::se::randomBytes(out, sizeof out), 0);  // the kernel's, before attaching
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const uint32_t before = stats().commands;
    ASSERT_EQ(veld::se::randomBytes(out, sizeof out), 0);
    EXPECT_EQ(stats().commands, before + 1);
    Bytes large(40000);
    ASSERT_EQ(veld::se::randomBytes(large.data(), large.size()), 0);
    EXPECT_EQ(stats().commands, before + 4);  // in pieces the parameter area holds
    VELD_SE_Shutdown();
    ASSERT_EQ(veld::se::randomBytes(out, sizeof out), 0);
    EXPECT_EQ(stats().commands, before + 4);
}

TEST_F(Channel, AForkedChildAttachesWithDescriptorsOfItsOwn) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const uint32_t closes = stats().closes;
    const pid_t child = forkChild([] {
        uint8_t out[16];
        for (int i = 0; i < 50; ++i)
            if (VELD_SE_G010(out, sizeof out) != 0) return 1;
        return 0;
    });
    uint8_t out[16];
    for (int i = 0; i < 50; ++i) ASSERT_EQ(VELD_SE_G010(out, sizeof out), 0);
    EXPECT_EQ(waitChild(child), 0);
    EXPECT_TRUE(eventually([&] { return stats().closes == closes + 1; }))
        << "the driver saw the child as a process of its own";
    EXPECT_EQ(VELD_SE_G010(out, sizeof out), 0);
}

TEST_F(Channel, NoDeviceFailsTheAttachmentAndFreesTheLock) {
    sim_.stop();
    ::unlink(veld::seam::simSocket("tw").c_str());
    EXPECT_EQ(VELD_SE_Initialize(nullptr), -1);
    EXPECT_TRUE(CapturedLog::contains("se_core.cpp:No such device"));
    uint8_t out[16];
    EXPECT_EQ(VELD_SE_G010(out, 16), -1);
    int value = -1;
    sem_getvalue(veld::se::processRecord().pLockSema, &value);
    EXPECT_EQ(value, 1);
}

}  // namespace
