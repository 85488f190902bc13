// The simulated trusted world's side of the eMMC's replay-protected partition: trusted
// operation 0x0020 (see tw_world.h). The trusted world alone holds the partition's key; it
// signs the write requests it completes and believes a response only when the key's MAC, the
// nonce it handed out, the address, the type and the counter all match the request it prepared.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "rpmb_frame.h"
#include "seam.h"
#include "tw_world.h"

namespace veld::tw {
namespace {

using namespace veld::rpmb;

constexpr const char* kProgrammedMark = "/var/veld-sim/rpmb-programmed";

enum Answer : uint32_t {
    kAccepted = 0,
    kBadMac = 1,
    kBadNonce = 2,
    kBadCounter = 3,
    kBadAddress = 4,
    kBadType = 5,
    kRefused = 7,
    kMalformed = 8,
    kPartResult = 0x100,  // | the part's result code
};

bool macValid(const uint8_t* key, const Frame& frame) {
    uint8_t mac[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key, 32, macInput(frame), kMacBytes, mac, &n);
    return n == sizeof mac && CRYPTO_memcmp(mac, frame.keyMac, sizeof mac) == 0;
}

// The trusted world's verdict on `frame` as the response to `pending` (an RpmbRequest).
uint32_t judge(const uint8_t* key, const auto& pending, const Frame& frame) {
    if (typeOf(frame) != responseOf(pending.type)) return kBadType;
    if (resultOf(frame) != kOk) return kPartResult | resultOf(frame);
    if (!macValid(key, frame)) return kBadMac;
    if (pending.type != kWrite && CRYPTO_memcmp(frame.nonce, pending.nonce, sizeof frame.nonce) != 0)
        return kBadNonce;
    if (pending.type != kReadCounter && pending.count <= 1 && addressOf(frame) != pending.address)
        return kBadAddress;
    if (pending.type == kWrite && counterOf(frame) != pending.counter + 1) return kBadCounter;
    return kAccepted;
}

bool partProgrammed() { return std::ifstream(seam::path(kProgrammedMark)).good(); }

// The trusted world has seen the part answer under its key: it never hands the key out again.
void notePartProgrammed() {
    if (!partProgrammed()) std::ofstream(seam::path(kProgrammedMark)) << "1\n";
}

}  // namespace

uint32_t World::rpmbOperation(uint8_t* argument, uint32_t length) {
    if (length < 4) return kMalformed;
    uint32_t selector;
    std::memcpy(&selector, argument, 4);
    if (selector == 1) {
        if (length != 4 + kKeyBytes) return kMalformed;
        if (partProgrammed()) {
            debugText("rpmb: the part already holds its key");
            return kRefused;
        }
        std::memcpy(argument + 4, rpmbKey_, kKeyBytes);
        return kAccepted;
    }
    if (length != 4 + sizeof(Frame)) return kMalformed;
    Frame frame;
    std::memcpy(&frame, argument + 4, sizeof frame);
    uint32_t answer = kAccepted;
    switch (selector) {
    case 21:    // a read request: counter or block
    case 22: {  // a run of block reads
        const uint16_t type = typeOf(frame);
        if (type != kReadCounter && type != kRead) return kBadType;
        const uint16_t count = selector == 22 ? get16(frame.blockCount) : 1;
        if (selector == 22 && (type != kRead || count == 0 || addressOf(frame) + count > kBlocks))
            return kMalformed;
        rpmbPending_ = RpmbRequest{type, addressOf(frame), 0, {}, count, std::vector<bool>(count)};
        if (RAND_bytes(rpmbPending_.nonce, sizeof rpmbPending_.nonce) != 1) return kRefused;
        std::memcpy(frame.nonce, rpmbPending_.nonce, sizeof frame.nonce);
        break;
    }
    case 19: {  // a write request
        if (typeOf(frame) != kWrite || get16(frame.blockCount) != 1) return kBadType;
        if (!rpmbCounterKnown_) {
            debugText("rpmb: the write counter has not been read");
            return kRefused;
        }
        put32(frame.writeCounter, rpmbCounter_);
        std::memset(frame.nonce, 0, sizeof frame.nonce);
        unsigned int n = 0;
        HMAC(EVP_sha256(), rpmbKey_, sizeof rpmbKey_, macInput(frame), kMacBytes, frame.keyMac, &n);
        rpmbPending_ = RpmbRequest{kWrite, addressOf(frame), rpmbCounter_, {}};
        break;
    }
    case 0:
    case 20: {  // the response to the pending request
        const RpmbRequest pending = rpmbPending_;
        // One answer per request; a run keeps waiting for the blocks not yet answered.
        if (pending.count <= 1) rpmbPending_ = RpmbRequest{};
        if (pending.type == 0 || (selector == 0 && pending.type != kReadCounter)) {
            debugText("rpmb: no request is waiting for this response");
            return kRefused;
        }
        if (pending.count > 1) {
            const uint16_t address = addressOf(frame);
            if (address < pending.address || address - pending.address >= pending.count ||
                pending.answered[address - pending.address]) {
                debugText("rpmb: this block of the run was not asked for or was answered already");
                return kBadAddress;
            }
        }
        answer = judge(rpmbKey_, pending, frame);
        if (resultOf(frame) != kKeyNotProgrammed && macValid(rpmbKey_, frame)) notePartProgrammed();
        if (answer != kAccepted) {
            debugText("rpmb: response refused (" + std::to_string(answer) + ")");
            return answer;
        }
        if (pending.count > 1) rpmbPending_.answered[addressOf(frame) - pending.address] = true;
        if (pending.type == kReadCounter || pending.type == kWrite) {
            rpmbCounter_ = counterOf(frame);
            rpmbCounterKnown_ = true;
        }
        break;
    }
    case 23: {  // a block read's response, then the nonce of the process's next read
        RpmbRequest pending{kRead, get16(frame.stuff), 0, {}};
        const auto next = rpmbNextRead_.find(caller_);
        if (next != rpmbNextRead_.end() &&
            CRYPTO_memcmp(frame.nonce, next->second.data(), sizeof frame.nonce) == 0) {
            std::memcpy(pending.nonce, next->second.data(), sizeof pending.nonce);
        } else if (rpmbPending_.type == kRead && rpmbPending_.count <= 1 &&
                   rpmbPending_.address == pending.address) {
            pending = rpmbPending_;
            rpmbPending_ = RpmbRequest{};
        } else if (next == rpmbNextRead_.end()) {
            debugText("rpmb: no read of this process is waiting for this response");
            return kRefused;
        } else {
            std::memcpy(pending.nonce, next->second.data(), sizeof pending.nonce);
        }
        rpmbNextRead_.erase(caller_);  // believed once, and never again after a refusal
        answer = judge(rpmbKey_, pending, frame);
        if (answer != kAccepted) {
            debugText("rpmb: response refused (" + std::to_string(answer) + ")");
            return answer;
        }
        std::array<uint8_t, 16> nonce;
        if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) return kRefused;
        rpmbNextRead_[caller_] = nonce;
        std::memcpy(frame.nonce, nonce.data(), sizeof frame.nonce);
        break;
    }
    default:
        debugText("rpmb: selector " + std::to_string(selector) + " is not implemented");
        return kMalformed;
    }
    std::memcpy(argument + 4, &frame, sizeof frame);
    return answer;
}

}  // namespace veld::tw
