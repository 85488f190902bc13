// veld_emmc: the replay-protected partition of an eMMC, simulated on a PC.
//
// The part answers JEDEC RPMB frames (rpmb_frame.h) as a real one does: a key programmed once,
// HMAC-SHA256 (OpenSSL) over bytes 228-511 of every authenticated frame under that key, the
// write counter that each accepted write raises by one, and the result codes for an
// unprogrammed key (7), an authentication failure (2), a counter mismatch (3), an address
// outside the 1,024 blocks (4), a read failure (6) and anything else it cannot do (1). Only
// single-block requests are served.
//
// Its contents live in one file under the root, $VELD_ROOT/var/veld-sim/emmc-rpmb.bin, and
// every change reaches the file in one write that is flushed before the part answers:
//
//   offset 0       512-byte header: "VELDRPMB", version 1, key-programmed word, the 32-byte
//                  key, CRC-32 of the bytes before it (all little-endian); written once, when
//                  the key is programmed. A header that fails its CRC is an unprogrammed part.
//   offset 512     two 512-byte slots per block (block b at 512 + b * 1024): "SLOT", the write
//                  counter after the write that filled it, the block's address, CRC-32 of the
//                  first 268 bytes, then the 256 data bytes. A write fills the block's older
//                  slot, so a write cut off half-way leaves a slot that fails its CRC and the
//                  block and the counter as they were. The counter is the highest of all valid
//                  slots; a block without a valid slot holds zeros.
//
// Faults for tests (emmc_device.h, wire::ControlOp): reads of chosen blocks fail, responses
// carry a broken MAC, responses repeat an earlier one of their type (a replay), a write is cut
// off by a power cut.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "emmc_device.h"
#include "rpmb_frame.h"

namespace veld::emmc {

class Part {
public:
    // Opens (creating when needed) the part's file; false with a reason when it cannot.
    bool open(const std::string& path, std::string& error);
    ~Part();

    // Answers one request frame with the response frame.
    rpmb::Frame answer(const rpmb::Frame& request);

    // Test controls; returns 0 or an errno value, `out` gets the reply data.
    int control(uint32_t op, const uint8_t* data, size_t length, std::vector<uint8_t>& out);

private:
    rpmb::Frame programKey(const rpmb::Frame& request);
    rpmb::Frame readCounter(const rpmb::Frame& request);
    rpmb::Frame read(const rpmb::Frame& request);
    rpmb::Frame write(const rpmb::Frame& request);
    void sign(rpmb::Frame& frame) const;
    bool macValid(const rpmb::Frame& frame) const;
    rpmb::Frame applyFaults(rpmb::Frame response);
    bool load();

    int fd_ = -1;
    bool keyProgrammed_ = false;
    uint8_t key_[rpmb::kKeyBytes] = {};
    uint32_t counter_ = 0;
    std::vector<uint8_t> data_;         // kBlocks * kBlockBytes
    std::vector<uint32_t> slotCounter_; // per block: the counter of its newest valid slot
    std::vector<int8_t> newestSlot_;    // per block: 0 or 1, -1 when none is valid
    // Faults.
    std::set<uint32_t> failReads_;
    uint32_t badMacs_ = 0;
    uint32_t replays_ = 0;
    uint16_t replayType_ = 0;  // the response type replays are for, 0 for any
    bool tearNextWrite_ = false;
    std::map<uint16_t, rpmb::Frame> lastResponse_;  // by response type, for replays
    emmcDevice::wire::Stats stats_{};
};

}  // namespace veld::emmc
