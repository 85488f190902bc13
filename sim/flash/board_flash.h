// The board's flash partitions on a PC: the secure store's partitions as files of their real
// sizes under the root ($VELD_ROOT/dev/mmcblk0p<N>), erased (all 0xFF) when first made, and the
// kernel's partition table "/proc/partinfo" that names them.
#pragma once

#include <cstdint>
#include <string>

namespace veld::sim {

struct FlashPartition {
    int number;
    const char* name;
    uint32_t bytes;
};

// sestore: main copy, backup copy and count string; sedata: the provisioning records.
constexpr FlashPartition kFlashPartitions[] = {
    {12, "sestore", 0x80000},
    {13, "sedata", 0x40000},
};

// The device file of a partition under the root.
std::string partitionPath(const FlashPartition& partition);

// Makes the partition files that are missing or of the wrong size (erased) and writes
// /proc/partinfo; partitions already there keep their contents, as flash does across reboots.
// Returns an empty string, or what failed.
std::string makeBoardFlash();

}  // namespace veld::sim
