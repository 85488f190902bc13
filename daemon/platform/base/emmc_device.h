// The eMMC replay-protected partition seam: how the platform library's VELD_MMC_rpmb_* calls
// reach the part.
//
// VELD_SIM=1: each exchange is one request and one reply on a connection (SOCK_SEQPACKET) to
// the eMMC simulator on seam::simSocket("emmc") (sim/emmc, veld_emmc), which keeps the part in
// a file under the root. One request frame goes in and the part's response frame comes back;
// for a write or a key programming the response is the one the part gives to the result-read
// request that follows it on a real bus.
// VELD_SIM unset: a PC has no replay-protected partition; every call fails with ENODEV. On a
// television the vendor's platform library talks to the part itself.
//
// The wire records below are shared with the simulator and with tests that drive its control
// interface; nothing else relies on them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rpmb_frame.h"

namespace veld::emmcDevice {

// Sends the request `frame` and puts the part's response in its place. Returns 0 when the
// part answered with the response type that belongs to the request and result 0; -1 with
// errno EIO when it answered otherwise (the response is in `frame`), or -1 with another errno
// when the part could not be reached (`frame` unchanged).
int exchange(rpmb::Frame& frame);

namespace wire {

enum Op : uint32_t {
    kExchange = 1,  // data: the 512-byte request frame; reply data: the response frame
    kControl = 2,   // control = ControlOp, data = its words (tests and tools)
};

enum ControlOp : uint32_t {
    kFailReads = 1,      // words {count, address...}: reads of these blocks fail (count 0 clears)
    kBadMac = 2,         // word {count}: the next responses carry a broken MAC
    kReplay = 3,         // words {count[, response type]}: the next responses (of that type)
                         // repeat the previous one of their type
    kTearNextWrite = 4,  // the next write is cut off half-way, as by a power cut, and the
                         // simulator ends at once (exit status 3)
    kStats = 5,          // reply data: Stats
    kClearFaults = 6,
};

struct Stats {
    uint32_t keyProgrammed;
    uint32_t writeCounter;
    uint32_t reads;       // read requests answered (of blocks)
    uint32_t writes;      // writes that changed a block
    uint32_t keyWrites;   // key programming requests accepted
    uint32_t refused;     // requests answered with a result other than 0
    uint32_t counterReads;
    uint32_t faults;      // responses changed by an injected fault
};
static_assert(sizeof(Stats) == 32, "eMMC simulator statistics layout");

constexpr size_t kMaxData = 1024;

struct Request {
    uint32_t op;
    uint32_t control;
    uint32_t length;  // bytes of data that follow
    uint32_t reserved;
};
static_assert(sizeof(Request) == 16, "eMMC seam request layout");

struct Reply {
    int32_t result;  // 0 or -1
    int32_t error;   // errno when result is -1
    uint32_t length; // bytes of data that follow
    uint32_t reserved;
};
static_assert(sizeof(Reply) == 16, "eMMC seam reply layout");

// One request and its reply on a simulator connection; the reply's data length or -1 with
// errno on a transport failure.
int call(int fd, const Request& request, const void* data, Reply& reply, void* replyData,
         size_t replyCapacity);

// A connection to the eMMC simulator of the current root and namespace; -1 with errno
// (ENODEV when none serves).
int connectSimulator();

}  // namespace wire
}  // namespace veld::emmcDevice
