// Replay-protected storage inside the engine: the shared memory "se-rpmb-shmem" with the block
// list, its counts and the frame handed to the daemon, and the operations that run with the
// lock held (the exports of se_rpmb.h wrap them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "rpmb_frame.h"
#include "se_channel.h"
#include "se_core.h"

namespace veld::se {

constexpr const char* kRpmbMemoryName = "se-rpmb-shmem";
constexpr uint32_t kRpmbBlocks = rpmb::kBlocks;
constexpr uint32_t kRpmbHeaderBytes = 64;

struct RpmbShared {
    uint8_t list[kRpmbBlocks][kRpmbHeaderBytes];  // the first 64 bytes of every block
    uint32_t numOfUsedBlock;
    uint32_t numOfErrorBlock;
    uint32_t listValid;  // 1 once the list has been read
    uint8_t frame[512];  // the frame exchanged with the daemon in indirect mode
};
static_assert(sizeof(RpmbShared) == 66060, "se-rpmb-shmem: 66,060 bytes");
static_assert(offsetof(RpmbShared, numOfUsedBlock) == 65536, "counts follow the list");
static_assert(offsetof(RpmbShared, frame) == 65548, "the daemon's frame");

// How this process reaches the eMMC.
enum class RpmbMode { Unknown, Direct, Indirect };
RpmbMode rpmbMode();
// The shared memory as this process maps it (null before the first use).
RpmbShared* rpmbShared();
// Releases this process's mapping and forgets its mode (detach).
void rpmbClose();

// Operations with the lock held and the process attached.
St rpmbInit(ProcessRecord& p);
St rpmbReadCounter(ProcessRecord& p, uint32_t& counter);
St rpmbReadBlock(ProcessRecord& p, uint32_t address, uint8_t* data);
St rpmbWriteBlock(ProcessRecord& p, uint32_t address, const uint8_t* data);

}  // namespace veld::se
