// AES modes of the software crypto library: the module-wide key and vector, and the exported
// SE_AES_* calls for ECB, CBC, CTR (SP 800-38A), CBC with ciphertext stealing and CBC with an
// OFB-style tail. The block work is done by the engine of se_aes.h.
#include "se_aes_modes.h"

#include <cstring>

#include "se_crypto_sym.h"

extern "C" {
const uint8_t SE_ZERO_IV[16] = {};
const uint8_t SE_DEFAULT_CTR_MASK[16] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                                         0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
}

namespace veld::se::aes {
namespace {

// One state for the whole process; callers serialise (see se_crypto_sym.h).
struct ModuleState {
    uint8_t key[32];
    int32_t keyLength;  // 0 until a key is loaded, then 16 or 32
    int rounds;         // 10 or 14
    int keyWords;       // 4 or 8
    uint8_t iv[kBlockSize];
    bool scheduleCurrent;  // cleared by SE_AES_SetKey, set when `schedule` is built
    Schedule schedule;
};

ModuleState gState{};

void secureZero(void* p, size_t n) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    while (n--) *b++ = 0;
}

// Validates the common arguments of a cipher call; returns the schedule or null.
const Schedule* prepare(uint8_t* out, const uint8_t* in, int32_t length) {
    if (length < 0) return nullptr;
    if (length > 0 && (!out || !in)) return nullptr;
    return moduleSchedule();
}

void copyTail(uint8_t* out, const uint8_t* in, size_t from, size_t length) {
    if (out != in && length > from) std::memcpy(out + from, in + from, length - from);
}

// ECB and CBC: `run` enciphers the whole blocks, a partial tail is copied unchanged.
template <class Run>
int32_t wholeBlocks(uint8_t* out, const uint8_t* in, int32_t length, Run run) {
    const Schedule* ks = prepare(out, in, length);
    if (!ks) return -1;
    const size_t blocks = static_cast<size_t>(length) / kBlockSize;
    run(*ks, blocks);
    copyTail(out, in, blocks * kBlockSize, static_cast<size_t>(length));
    return static_cast<int32_t>(blocks * kBlockSize);
}

void xorBytes(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = a[i] ^ b[i];
}

// The OFB-style tail shared by both directions of CBC-OFB: tail XOR AES-encrypt(stored vector).
// It lives here, not beside its callers inside the extern "C" block: there it would take C
// linkage and leak from libvse.so and veldd as a global symbol without the SE_ prefix.
void ofbTail(const Schedule& ks, uint8_t* out, const uint8_t* in, size_t offset, size_t tail) {
    if (!tail) return;
    uint8_t stream[kBlockSize];
    engine().encryptEcb(ks, stream, gState.iv, 1);
    xorBytes(out + offset, in + offset, stream, tail);
    secureZero(stream, sizeof stream);
}

}  // namespace

const Schedule* moduleSchedule() {
    if (gState.keyLength == 0) return nullptr;
    if (!gState.scheduleCurrent) {
        expandKey(gState.schedule, gState.key, static_cast<size_t>(gState.keyLength));
        gState.scheduleCurrent = true;
    }
    return &gState.schedule;
}

}  // namespace veld::se::aes

using namespace veld::se::aes;

extern "C" {

int32_t SE_AES_SetKey(const uint8_t* key, int32_t keyLength, const uint8_t* iv) {
    if (!key || (keyLength != 16 && keyLength != 32)) return -1;
    secureZero(gState.key, sizeof gState.key);
    std::memcpy(gState.key, key, static_cast<size_t>(keyLength));
    gState.keyLength = keyLength;
    gState.keyWords = keyLength / 4;
    gState.rounds = gState.keyWords + 6;
    std::memcpy(gState.iv, iv ? iv : SE_ZERO_IV, kBlockSize);
    gState.scheduleCurrent = false;
    wipe(gState.schedule);
    return 0;
}

void SE_AES_SetIV(const uint8_t* iv) {
    if (iv) std::memcpy(gState.iv, iv, kBlockSize);
}

void SE_AES_GetIV(uint8_t* iv) {
    if (iv) std::memcpy(iv, gState.iv, kBlockSize);
}

int32_t SE_AES_EncryptECB(uint8_t* out, const uint8_t* in, int32_t length) {
    return wholeBlocks(out, in, length, [&](const Schedule& ks, size_t blocks) {
        engine().encryptEcb(ks, out, in, blocks);
    });
}

int32_t SE_AES_DecryptECB(uint8_t* out, const uint8_t* in, int32_t length) {
    return wholeBlocks(out, in, length, [&](const Schedule& ks, size_t blocks) {
        engine().decryptEcb(ks, out, in, blocks);
    });
}

int32_t SE_AES_EncryptCBC(uint8_t* out, const uint8_t* in, int32_t length) {
    return wholeBlocks(out, in, length, [&](const Schedule& ks, size_t blocks) {
        engine().encryptCbc(ks, gState.iv, out, in, blocks);
    });
}

int32_t SE_AES_DecryptCBC(uint8_t* out, const uint8_t* in, int32_t length) {
    return wholeBlocks(out, in, length, [&](const Schedule& ks, size_t blocks) {
        engine().decryptCbc(ks, gState.iv, out, in, blocks);
    });
}

int32_t SE_AES_EncryptCTR(uint8_t* out, const uint8_t* in, int32_t length) {
    const Schedule* ks = prepare(out, in, length);
    if (!ks) return -1;
    const size_t n = static_cast<size_t>(length);
    const size_t blocks = n / kBlockSize;
    engine().ctr(*ks, gState.iv, out, in, blocks);
    if (const size_t tail = n % kBlockSize) {
        // The partial block takes the leading bytes of one more key-stream block; the counter
        // still advances so that a following call never reuses the rest of it.
        uint8_t buffer[kBlockSize] = {};
        std::memcpy(buffer, in + blocks * kBlockSize, tail);
        engine().ctr(*ks, gState.iv, buffer, buffer, 1);
        std::memcpy(out + blocks * kBlockSize, buffer, tail);
        secureZero(buffer, sizeof buffer);
    }
    return length;
}

int32_t SE_AES_DecryptCTR(uint8_t* out, const uint8_t* in, int32_t length) {
    return SE_AES_EncryptCTR(out, in, length);
}

int32_t SE_AES_EncryptCBCCTS(uint8_t* out, const uint8_t* in, int32_t length) {
    const Schedule* ks = prepare(out, in, length);
    if (!ks) return -1;
    const size_t n = static_cast<size_t>(length);
    if (n < kBlockSize) {
        copyTail(out, in, 0, n);
        return 0;
    }
    const size_t blocks = n / kBlockSize;
    const size_t tail = n % kBlockSize;
    // Keep the tail before the CBC pass can overwrite anything (out may equal in).
    uint8_t padded[kBlockSize] = {};
    std::memcpy(padded, in + blocks * kBlockSize, tail);
    engine().encryptCbc(*ks, gState.iv, out, in, blocks);
    if (tail) {
        uint8_t* lastWhole = out + (blocks - 1) * kBlockSize;
        uint8_t stolen[kBlockSize];
        std::memcpy(stolen, lastWhole, kBlockSize);
        engine().encryptCbc(*ks, gState.iv, lastWhole, padded, 1);
        std::memcpy(out + blocks * kBlockSize, stolen, tail);
        secureZero(padded, sizeof padded);
    }
    return length;
}

int32_t SE_AES_DecryptCBCCTS(uint8_t* out, const uint8_t* in, int32_t length) {
    const Schedule* ks = prepare(out, in, length);
    if (!ks) return -1;
    const size_t n = static_cast<size_t>(length);
    if (n < kBlockSize) {
        copyTail(out, in, 0, n);
        return 0;
    }
    const size_t blocks = n / kBlockSize;
    const size_t tail = n % kBlockSize;
    if (!tail) {
        engine().decryptCbc(*ks, gState.iv, out, in, blocks);
        return length;
    }
    const size_t lastOffset = (blocks - 1) * kBlockSize;
    uint8_t finalBlock[kBlockSize];  // the block encrypted from the padded tail
    uint8_t partial[kBlockSize] = {};
    std::memcpy(finalBlock, in + lastOffset, kBlockSize);
    std::memcpy(partial, in + blocks * kBlockSize, tail);
    engine().decryptCbc(*ks, gState.iv, out, in, blocks - 1);

    // D = padded tail XOR the stolen block: its first t bytes give the tail, the rest
    // completes the stolen block.
    uint8_t d[kBlockSize];
    engine().decryptEcb(*ks, d, finalBlock, 1);
    uint8_t stolen[kBlockSize];
    std::memcpy(stolen, partial, tail);
    std::memcpy(stolen + tail, d + tail, kBlockSize - tail);
    uint8_t tailPlain[kBlockSize];
    xorBytes(tailPlain, d, partial, tail);
    engine().decryptCbc(*ks, gState.iv, out + lastOffset, stolen, 1);
    std::memcpy(out + blocks * kBlockSize, tailPlain, tail);
    std::memcpy(gState.iv, finalBlock, kBlockSize);
    secureZero(d, sizeof d);
    secureZero(tailPlain, sizeof tailPlain);
    return length;
}

int32_t SE_AES_EncryptCBCOFB(uint8_t* out, const uint8_t* in, int32_t length) {
    const Schedule* ks = prepare(out, in, length);
    if (!ks) return -1;
    const size_t n = static_cast<size_t>(length);
    const size_t blocks = n / kBlockSize;
    engine().encryptCbc(*ks, gState.iv, out, in, blocks);
    ofbTail(*ks, out, in, blocks * kBlockSize, n % kBlockSize);
    return length;
}

int32_t SE_AES_DecryptCBCOFB(uint8_t* out, const uint8_t* in, int32_t length) {
    const Schedule* ks = prepare(out, in, length);
    if (!ks) return -1;
    const size_t n = static_cast<size_t>(length);
    const size_t blocks = n / kBlockSize;
    engine().decryptCbc(*ks, gState.iv, out, in, blocks);
    ofbTail(*ks, out, in, blocks * kBlockSize, n % kBlockSize);
    return length;
}

}  // extern "C"
