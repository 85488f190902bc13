// The simulated trusted world's commands and device requests (see tw_world.h).
#include "tw_world.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veld::tw {
namespace {

using seDevice::wire::ControlOp;

constexpr int32_t kNotInit = -8008;
constexpr int32_t kIllegalArgument = -8005;
constexpr int32_t kNotImplemented = -8004;
constexpr int32_t kWrongCmd = -8003;
constexpr int32_t kVersionMismatch = -8001;
constexpr uint32_t kInitMagic = 20120509;
// Room in the parameter area before the trusted debug text.
constexpr uint32_t kParamRoom = kParamBytes - 1028;

void derive(const char* label, const std::vector<uint8_t>& otp, uint8_t* out, size_t n) {
    std::vector<uint8_t> text(label, label + std::strlen(label));
    text.insert(text.end(), otp.begin(), otp.end());
    uint8_t digest[32];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    std::memcpy(out, digest, n);
}

// AES-CBC of whole blocks without padding; false when OpenSSL refuses.
bool aesCbc(bool decrypt, const uint8_t* key, size_t keyLength, const uint8_t* iv,
            const uint8_t* in, uint8_t* out, size_t length) {
    const EVP_CIPHER* cipher = keyLength == 32 ? EVP_aes_256_cbc() : EVP_aes_128_cbc();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    bool ok = ctx && EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, decrypt ? 0 : 1) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
              (length == 0 || EVP_CipherUpdate(ctx, out, &n, in, static_cast<int>(length)) == 1);
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

const EVP_MD* digestOf(uint32_t algorithm, bool& mac, size_t& size) {
    mac = false;
    switch (algorithm) {
    case 3: size = 16; return EVP_md5();
    case 7: mac = true; [[fallthrough]];
    case 4: size = 20; return EVP_sha1();
    case 8: mac = true; [[fallthrough]];
    case 5: size = 28; return EVP_sha224();
    case 9: mac = true; [[fallthrough]];
    case 6: size = 32; return EVP_sha256();
    case 130: mac = true; [[fallthrough]];
    case 128: size = 48; return EVP_sha384();
    case 131: mac = true; [[fallthrough]];
    case 129: size = 64; return EVP_sha512();
    default: return nullptr;
    }
}

}  // namespace

World::World(uint8_t* window, const std::vector<uint8_t>& otp) : window_(window) {
    void* secure = ::mmap(nullptr, kSecureEnd - kSecureBase, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    secure_ = secure == MAP_FAILED ? nullptr : static_cast<uint8_t*>(secure);
    derive("unique", otp, uniqueKey_, sizeof uniqueKey_);
    derive("common", otp, commonKey_, sizeof commonKey_);
    derive("store", otp, storeKey_, sizeof storeKey_);
    derive("store-mac", otp, storeMacKey_, sizeof storeMacKey_);
    derive("store-mask", otp, maskKey_, sizeof maskKey_);
    derive("rpmb", otp, rpmbKey_, sizeof rpmbKey_);
}

World::~World() {
    if (secure_) ::munmap(secure_, kSecureEnd - kSecureBase);
    EVP_PKEY_free(rsaKey_);
}

uint8_t* World::physical(uint32_t address, uint32_t length) {
    const uint64_t end = uint64_t(address) + length;
    if (address >= kWindowBase && end <= uint64_t(kWindowBase) + kWindowSize)
        return window_ + (address - kWindowBase);
    if (secure_ && address >= kSecureBase && end <= kSecureEnd) return secure_ + (address - kSecureBase);
    return nullptr;
}

void World::debugText(const std::string& text) {
    char* out = reinterpret_cast<char*>(window_ + kDebugTextOffset);
    const size_t n = std::min<size_t>(text.size(), 1023);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

int World::ioctl(uint32_t request, uint8_t* argument, size_t length, int pid) {
    uint32_t words[8] = {};
    std::memcpy(words, argument, std::min(length, sizeof words));
    int error = 0;
    switch (request) {
    case 0x800453FFu:  // memory info
        words[0] = kWindowBase;
        words[1] = kWindowSize;
        words[2] = 0;
        words[3] = kSecureBase;
        words[4] = kSecureEnd;
        break;
    case 0x80045380u:  // cache maintenance; the window is coherent, so only ranges are checked
        if (words[0] == 0 && words[1] == 0 && words[3] == 0) {
            if (failCacheProbe_) error = EOPNOTSUPP;
        } else if ((words[3] != 1 && words[3] != 2) || words[1] == 0 ||
                   words[0] < kWindowBase ||
                   uint64_t(words[0]) + words[1] > uint64_t(kWindowBase) + kWindowSize) {
            error = EINVAL;
        }
        break;
    case 0x80045301u:  // DMA-info address
        if (words[0] != kWindowBase + kWindowSize - 4) error = EINVAL;
        break;
    case 0xC0045300u: {  // run command
        ++stats_.commands;
        stats_.lastCommand = words[0];
        window_[kDebugTextOffset] = 0;
        const int32_t code = runCommand(words, pid);
        if (code != 0) {
            words[0] = static_cast<uint32_t>(code);
            error = EIO;
        }
        break;
    }
    case 0x800453F1u:  // suspend state, reported once
        words[0] = suspendFlags_;
        suspendFlags_ = 0;
        break;
    case 0x000053FEu:  // initialisation done
        break;
    case 0x00005300u:  // the eMMC through the daemon (indirect) or directly
        if (!rpmbIndirect_ || static_cast<uint32_t>(pid) == stats_.netlinkPid) error = EPERM;
        break;
    default:
        error = ENOTTY;
    }
    std::memcpy(argument, words, std::min(length, sizeof words));
    return error;
}

int32_t World::runCommand(uint32_t header[8], int pid) {
    const uint32_t command = header[0];
    if (injectCount_ > 0 && (injectCommand_ == 0 || injectCommand_ == command)) {
        --injectCount_;
        if (injectCode_ == kNotInit) initialised_ = false;
        debugText("injected result " + std::to_string(injectCode_));
        return injectCode_;
    }
    if (command == 2) {
        uint32_t* p = param();
        const uint32_t expected[5] = {kWindowBase, kWindowSize, header[6], header[7],
                                      kWindowBase + kWindowSize - 4};
        if (header[1] != kInitMagic) return kVersionMismatch;
        if (header[2] != kWindowBase + kWindowSize - kParamBytes || header[3] != 4 ||
            header[4] != kWindowBase || header[5] != kWindowSize || header[7] <= header[6] ||
            std::memcmp(p, expected, sizeof expected) != 0) {
            debugText("init: the window does not match");
            return kIllegalArgument;
        }
        ++stats_.initCommands;
        initialised_ = true;
        keyChain_.clear();
        secondChain_.clear();
        recordData_.clear();
        hashData_.clear();
        rpmbNextRead_.clear();  // nonces handed out before the state was lost
        return 0;
    }
    if (!initialised_) return kNotInit;
    uint32_t* p = param();
    uint8_t* bytes = reinterpret_cast<uint8_t*>(p);
    switch (command) {
    case 4: case 5: case 16: case 33: case 0x8200FF06u: case 0x8200FF07u:
        return 0;
    case 98: return rsa();
    case 6: case 114:
        debugText("command " + std::to_string(command) + " is not implemented");
        return kNotImplemented;
    case 17: case 18: {
        if (p[1] > kParamRoom - 8) return kIllegalArgument;
        std::vector<uint8_t>& chain = command == 17 ? keyChain_ : secondChain_;
        chain.assign(bytes + 8, bytes + 8 + p[1]);
        return 0;
    }
    case 24:
        if (p[0] == 0 || p[0] > kParamRoom - 4) return kIllegalArgument;
        return RAND_bytes(bytes + 4, static_cast<int>(p[0])) == 1 ? 0 : -8000;
    case 32:
        p[0] = 0x5EC0DE01u;  // boot state word
        return 0;
    case 34: case 35: {
        uint32_t* adc = adc_[header[1] & 3];
        if (command == 34) std::memcpy(p, adc, 12);
        else std::memcpy(adc, p, 12);
        return 0;
    }
    case 36:
        if (p[0] % 4096 || p[1] % 4096 || p[2] != 255) return kIllegalArgument;
        return 0;
    case 96: return blockOperation();
    case 97: return hash();
    case 112: return keyRecord(false);
    case 113: return keyRecord(true);
    case 144: caller_ = pid; return trustedOperation();
    default:
        debugText("unknown command " + std::to_string(command));
        return kWrongCmd;
    }
}

int32_t World::blockOperation() {
    uint32_t r[14];
    std::memcpy(r, param(), sizeof r);
    const uint32_t direction = r[0], keySel = r[1], ivSel = r[2], algorithm = r[3];
    const uint32_t mode = r[5], ivLength = r[6], length = r[11];
    const uint32_t leading = r[12], processed = r[13];
    if (algorithm != 3) {
        debugText("block: algorithm " + std::to_string(algorithm) + " is not implemented");
        return kNotImplemented;
    }
    const uint8_t* key = nullptr;
    size_t keyLength = 16;
    switch (keySel) {
    case 0:
        key = keyChain_.data();
        keyLength = keyChain_.size() >= 32 ? 32 : 16;
        if (keyChain_.size() < 16) key = nullptr;
        break;
    case 1: key = uniqueKey_; break;
    case 2: key = commonKey_; break;
    case 3: key = storeKey_; break;
    case 4: key = maskKey_; break;
    }
    static const uint8_t kZero[16] = {};
    const uint8_t* iv = nullptr;
    if (ivSel == 2) iv = recordData_.size() == 16 ? recordData_.data() : nullptr;
    else if (ivSel == 1 || keySel == 0) iv = secondChain_.size() >= 16 ? secondChain_.data() : nullptr;
    else if (ivSel == 0) iv = kZero;
    if (!key || !iv || ivLength != 16 || direction > 1) {
        debugText("block: no key or vector loaded");
        return kIllegalArgument;
    }
    uint8_t* src = physical(r[8], length);
    uint8_t* dst = physical(r[10], length);
    if (!src || !dst || r[7] != 1 || r[9] != 1) {
        debugText("block: range outside the window");
        return kIllegalArgument;
    }
    const uint32_t packet = mode == 0 ? length : mode == 1 ? 188 : mode == 2 ? 192 : 0;
    if (packet == 0 && mode != 0) return kIllegalArgument;
    if (mode == 0 ? (leading != 0 || processed != length || length % 16)
                  : (length % packet || uint64_t(leading) + processed > packet))
        return kIllegalArgument;
    dmaUsage_ += length;  // the bytes the operation moved
    std::vector<uint8_t> data(src, src + length);
    for (uint32_t at = 0; at < length; at += packet) {
        const uint32_t blocks = processed / 16 * 16;
        if (blocks && !aesCbc(direction == 1, key, keyLength, iv, data.data() + at + leading,
                              data.data() + at + leading, blocks))
            return -8000;
    }
    std::memcpy(dst, data.data(), length);
    return 0;
}

int32_t World::hash() {
    uint32_t r[8];
    std::memcpy(r, param(), sizeof r);
    bool mac = false;
    size_t size = 0;
    const EVP_MD* md = digestOf(r[1], mac, size);
    if (!md) return kNotImplemented;
    const uint32_t phase = r[5], length = r[6];
    const uint8_t* src = length ? physical(r[4], length) : window_;
    if (!src || phase > 3) return kIllegalArgument;
    if (phase == 0 || phase == 3) hashData_.clear();
    hashData_.insert(hashData_.end(), src, src + length);
    if (phase == 0 || phase == 1) return 0;
    uint8_t digest[64];
    unsigned int n = 0;
    bool ok;
    if (mac) {
        const uint8_t* key = r[2] == 7 ? storeMacKey_ : keyChain_.data();
        const size_t keyLength = r[2] == 7 ? sizeof storeMacKey_ : keyChain_.size();
        ok = HMAC(md, key, static_cast<int>(keyLength), hashData_.data(), hashData_.size(),
                  digest, &n) != nullptr;
    } else {
        ok = EVP_Digest(hashData_.data(), hashData_.size(), digest, &n, md, nullptr) == 1;
    }
    hashData_.clear();
    if (!ok || n != size) return -8000;
    uint8_t* out = r[7] ? physical(r[7], n) : reinterpret_cast<uint8_t*>(param() + 8);
    if (!out) return kIllegalArgument;
    std::memcpy(out, digest, n);
    return 0;
}

int32_t World::keyRecord(bool readBack) {
    uint32_t* p = param();
    uint8_t* data = reinterpret_cast<uint8_t*>(p + 14);
    const uint32_t inLength = p[6], outLength = p[12];
    if (uint64_t(inLength) + outLength > kParamRoom - 56) return kIllegalArgument;
    if (!readBack) {
        recordData_.assign(data, data + inLength);
    } else if (p[1] == 0) {
        if (RAND_bytes(data, static_cast<int>(inLength + outLength)) != 1) return -8000;
    } else {
        const size_t n = std::min<size_t>(recordData_.size(), inLength + outLength);
        std::memcpy(data, recordData_.data(), n);
    }
    p[10] = inLength;
    return 0;
}

int32_t World::trustedOperation() {
    uint32_t* p = param();
    const uint32_t opcode = p[0], argLength = p[3];
    if (argLength > kParamRoom - 16) return kIllegalArgument;
    uint32_t* a = p + 4;
    const bool small = argLength >= 12;
    uint32_t result = 0;
    switch (opcode) {
    case 0x0000: case 0x0010: {
        uint8_t* src = small ? physical(a[0], a[2]) : nullptr;
        uint8_t* dst = small ? physical(a[1], a[2]) : nullptr;
        if (!src || !dst) {
            debugText("copy: range refused");
            result = 0xFFFFFFFFu;
            break;
        }
        std::memmove(dst, src, a[2]);
        result = opcode == 0 ? a[2] : 0;
        break;
    }
    case 0x0001:
        if (argLength < 16) return kIllegalArgument;
        if (a[2] != 0 && a[2] != 1 && a[2] != 128 && a[2] != 129) result = 1;
        else std::memcpy(options_[(a[2] & 1) | ((a[2] >> 6) & 2)], a, 8);
        break;
    case 0x0011: {
        uint8_t* dst = small ? physical(a[0], a[2]) : nullptr;
        if (!dst) { debugText("fill: range refused"); result = 0xFFFFFFFFu; break; }
        std::memset(dst, static_cast<int>(a[1] & 0xFF), a[2]);
        break;
    }
    case 0x0012: {
        uint8_t* second = small ? physical(a[0], a[2]) : nullptr;
        uint8_t* first = small ? physical(a[1], a[2]) : nullptr;
        if (!second || !first) { debugText("compare: range refused"); result = 0xFFFFFFFFu; break; }
        result = std::memcmp(first, second, a[2]) == 0 ? 0 : 1;
        break;
    }
    case 0x0020: result = rpmbOperation(reinterpret_cast<uint8_t*>(a), argLength); break;
    case 0x7FFFFFFDu: result = dmaUsage_; break;
    case 0x7FFFFFFEu:
        result = invalidOtp_ ? 1 : 0;
        if (invalidOtp_) debugText("OTP key is not programmed");
        break;
    case 0x7FFFFFFFu: {
        const char version[] = "veld-tw 1.0";
        if (argLength == 0) { result = 1; break; }
        const size_t n = std::min<size_t>(argLength - 1, sizeof version - 1);
        std::memcpy(a, version, n);
        reinterpret_cast<char*>(a)[n] = '\0';
        break;
    }
    default:
        debugText("trusted operation " + std::to_string(opcode) + " is not implemented");
        return kNotImplemented;
    }
    p[1] = result;
    return 0;
}

int World::control(uint32_t op, const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    uint32_t w[3] = {};
    std::memcpy(w, data, std::min(length, sizeof w));
    switch (op) {
    case ControlOp::kInjectResult:
        injectCode_ = static_cast<int32_t>(w[0]);
        injectCommand_ = w[1];
        injectCount_ = w[2];
        return 0;
    case ControlOp::kLoseState: initialised_ = false; return 0;
    case ControlOp::kSuspendFlags: suspendFlags_ = w[0]; return 0;
    case ControlOp::kInvalidOtp: invalidOtp_ = w[0] != 0; return 0;
    case ControlOp::kFailCacheProbe: failCacheProbe_ = w[0] != 0; return 0;
    case ControlOp::kRpmbIndirect: rpmbIndirect_ = w[0] != 0; return 0;
    case ControlOp::kStats:
        stats_.initialised = initialised_ ? 1 : 0;
        out.resize(sizeof stats_);
        std::memcpy(out.data(), &stats_, sizeof stats_);
        return 0;
    case ControlOp::kClearFaults:
        injectCount_ = 0;
        suspendFlags_ = 0;
        invalidOtp_ = failCacheProbe_ = false;
        return 0;
    default: return EINVAL;
    }
}

}  // namespace veld::tw
