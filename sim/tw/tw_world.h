// veld_tw: the trusted world and the secure-engine kernel driver, simulated on a PC.
//
// It serves every client process of one root and namespace and runs, for real, what the secure
// engine relies on: initialisation (command 2), key chain and second chain (17, 18), random
// bytes (24), the block operation (96, AES-CBC through every packet mode), hashes and MACs
// (97), key records (112, 113), trusted operations (144: 0x0000, 0x0001, 0x0010-0x0012, 0x0020,
// 0x7FFFFFFD-0x7FFFFFFF) and the device's requests (memory info, cache maintenance, DMA-info
// address, suspend state, initialisation done). It is strict: what a real trusted world would
// refuse it refuses with a result code and a line in the trusted debug text.
//
// What the trusted world keeps opaque is invented here, and only here:
//
//   shared window      physical base 0x7A000000, 0x600000 bytes (6 MiB): a memory file that the
//                      clients map; the transfer area is its first 0x5FC000 bytes, the last
//                      16 KiB the parameter area.
//   secure memory      base 0x7C000000; the reported secure end is 0x7CC24000, so the engine's
//                      secureSize is 0x100000 and its temporary secure data starts at 0x7C100000.
//                      Physical addresses of trusted operations must lie in the window or in
//                      [secure base, secure end).
//   OTP                32 random bytes in $VELD_ROOT/var/veld-sim/otp.bin, made on first start;
//                      they survive restarts of the root and differ between roots.
//   keys               device-unique key = SHA-256("unique" | OTP)[0..16),
//                      common key        = SHA-256("common" | OTP)[0..16),
//                      store key         = SHA-256("store" | OTP)[0..16),
//                      store MAC key     = SHA-256("store-mac" | OTP) (32 bytes),
//                      store mask key    = SHA-256("store-mask" | OTP)[0..16).
//   key selection      block operation word 2: 0 the key chain (command 17), 1 the unique key,
//                      2 the common key, 3 the store key, 4 the store mask key; word 3: 0 the second chain for the
//                      key chain and a zero vector for the device keys, 1 the second chain,
//                      2 the vector of the last 16-byte key record (command 112).
//   packet words       the block operation's parameter words 13 and 14: {leading bytes left
//                      clear in each packet, bytes processed per packet}. In packet modes 1 and
//                      2 every packet restarts from the vector; the processed bytes' whole
//                      blocks are AES-CBC, the tail shorter than a block stays clear.
//   hash record        parameter words {word 1, algorithm, word 3, word 4, source, phase,
//                      chunk length, result}: algorithms 3 MD5, 4 SHA-1, 5 SHA-224, 6 SHA-256,
//                      128 SHA-384, 129 SHA-512; 7, 8, 9, 130, 131 HMAC with those hashes,
//                      keyed by the store MAC key when word 3 is 7, else by the key chain.
//                      A result address of 0 leaves the result at parameter word 9.
//   command 113        word 2 = 0: generates the bytes of both output runs; 1: returns the
//                      last key record's data.
//   trusted op 0x0000  copies {source, destination, length}; the result is the length.
//   trusted op 0x7FFFFFFF writes "veld-tw 1.0" into the argument bytes.
//   command 98        RSA with a 2,048-bit device key made on first use (tw_rsa.cpp): words
//                      {word 1, word 2, word 3, source, destination, length, out length};
//                      word 1 = 0 the private operation, 1 the public one, on exactly 256
//                      bytes below the modulus, without padding; the out length is 256.
//   commands 6, 114 answer -8004 (not implemented); unknown ones -8003.
//   netlink            the connection that registers protocol 31 is the daemon's socket; it
//                      receives "close:<pid>" when a process's last descriptor closes (not for
//                      the daemon's own), and the texts of request 0xC0045390, whose replies go
//                      back in the request's 256-byte buffer, in the order the daemon answers.
//   RPMB key          SHA-256("rpmb" | OTP) (32 bytes), the key of the eMMC's replay-protected
//                      partition (tw_rpmb.cpp). Trusted operation 0x0020 takes {selector,
//                      512-byte frame} (516 bytes) or, for selector 1, {1, 32-byte key}:
//                        0   check a read-counter response and accept its counter
//                        1   write the RPMB key into the argument, only while the trusted world
//                            has never seen a response signed by it (the part is unprogrammed);
//                            that knowledge is kept in $VELD_ROOT/var/veld-sim/rpmb-programmed
//                        19  complete a write request: the known counter and the MAC
//                        20  check the response to the last request: type, result, MAC,
//                            nonce (reads), address (blocks), counter (writes: one up)
//                        21  start a read (counter or block): a fresh nonce into the frame
//                        22  start a run of block reads from the frame's address, as many as
//                            its block count: one nonce, each block's response believed once
//                        23  check a block read's response as 20 does, against the nonce of
//                            the last request (21) or the one handed out for this process's
//                            next read, and the address asked for (big-endian in the frame's
//                            first two stuff bytes); then put a fresh nonce for the process's
//                            next block read into the frame's nonce field. A process's nonce is
//                            believed once, refused (7) when it has none, dropped on any
//                            refusal and when the process closes its last descriptor
//                      Result word: 0 accepted, 1 MAC, 2 nonce, 3 counter, 4 address, 5 type
//                      wrong, 7 refused (nothing pending, counter unknown, key already in
//                      the part), 8 malformed, 0x100 | the part's result when it is not 0.
//   request 0x5300     succeeds (the eMMC is reached through the daemon) while tests ask for
//                      it (ControlOp kRpmbIndirect), for every process but the daemon's.
//   user trusted applications: at start, missing images "luta.ta", "auta.ta", "euta.ta" of
//                      4 KiB are written under $VELD_ROOT/usr/lib/qvuta.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "se_device.h"

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace veld::tw {

constexpr uint32_t kWindowBase = 0x7A000000u;
constexpr uint32_t kWindowSize = 0x00600000u;
constexpr uint32_t kSecureBase = 0x7C000000u;
constexpr uint32_t kSecureEnd = 0x7CC24000u;
constexpr uint32_t kParamBytes = 16384;
constexpr uint32_t kDebugTextOffset = kWindowSize - 1028;  // from the window's start

class World {
public:
    // `window` is the shared window (kWindowSize bytes); `otp` the 32 OTP bytes.
    World(uint8_t* window, const std::vector<uint8_t>& otp);
    ~World();

    // Serves one device request for the process `pid`. Returns 0 or an errno value; the
    // argument record is updated in place.
    int ioctl(uint32_t request, uint8_t* argument, size_t length, int pid);

    // Test controls (se_device.h, wire::ControlOp). Returns 0 or an errno value; `out` gets
    // the reply data.
    int control(uint32_t op, const uint8_t* data, size_t length, std::vector<uint8_t>& out);

    // A process closed its last descriptor: what the trusted world kept for it goes.
    void noteClose(int pid) {
        ++stats_.closes;
        rpmbNextRead_.erase(pid);
    }
    void noteRelayed() { ++stats_.relayed; }
    void setNetlinkPid(uint32_t pid) { stats_.netlinkPid = pid; }
    void setClients(uint32_t n) { stats_.clients = n; }

private:
    int32_t runCommand(uint32_t header[8], int pid);
    int32_t blockOperation();
    int32_t hash();
    int32_t keyRecord(bool readBack);
    int32_t trustedOperation();
    uint32_t rpmbOperation(uint8_t* argument, uint32_t length);  // tw_rpmb.cpp
    int32_t rsa();                                                // tw_rsa.cpp
    uint8_t* physical(uint32_t address, uint32_t length);
    uint32_t* param() { return reinterpret_cast<uint32_t*>(window_ + kWindowSize - kParamBytes); }
    void debugText(const std::string& text);

    uint8_t* window_;
    uint8_t* secure_ = nullptr;
    bool initialised_ = false;
    std::vector<uint8_t> keyChain_, secondChain_, recordData_, hashData_;
    uint8_t uniqueKey_[16], commonKey_[16], storeKey_[16], storeMacKey_[32], maskKey_[16];
    uint32_t adc_[4][3] = {};
    uint32_t options_[4][2] = {};
    uint32_t dmaUsage_ = 0;
    ::evp_pkey_st* rsaKey_ = nullptr;  // the device's RSA key, made on first use
    // Replay-protected partition: what the trusted world knows of the part.
    struct RpmbRequest {
        uint16_t type = 0;  // 0: nothing pending
        uint16_t address = 0;
        uint32_t counter = 0;
        uint8_t nonce[16] = {};
        uint16_t count = 1;              // blocks of a run of reads (selector 22)
        std::vector<bool> answered = {}; // which of them have been checked
    };
    uint8_t rpmbKey_[32];
    RpmbRequest rpmbPending_;
    // The nonce handed out for each process's next block read (selector 23), believed once.
    std::map<int, std::array<uint8_t, 16>> rpmbNextRead_;
    int caller_ = 0;  // the process whose command runs
    bool rpmbCounterKnown_ = false;
    uint32_t rpmbCounter_ = 0;
    bool rpmbIndirect_ = false;
    // Faults injected by tests.
    int32_t injectCode_ = 0;
    uint32_t injectCommand_ = 0;
    uint32_t injectCount_ = 0;
    uint32_t suspendFlags_ = 0;
    bool invalidOtp_ = false;
    bool failCacheProbe_ = false;
    seDevice::wire::Stats stats_{};
};

}  // namespace veld::tw
