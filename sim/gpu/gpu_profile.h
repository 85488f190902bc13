// Everything the GPU simulator invents, in one place: where video memory sits in physical and
// GPU address space, how it is split into pools, the chip profiles it can play (identity,
// feature words, cores), the version it reports, and the limits it enforces. The driver learns
// all of it through requests; nothing here is known to the driver's code.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace veld::gpusim {

// Video memory: one shared-memory object of kVideoBytes. Physical addresses are offsets in it
// plus kPhysicalBase; the kernel's base address (command 29) is kBaseAddress, so that a GPU
// address (physical - base) is offset + kGpuBase. The three ranges do not overlap, and none of
// them is a user address, so that code which mixes them up faults.
constexpr uint64_t kPhysicalBase = 0x48000000;
constexpr uint64_t kBaseAddress = 0x08000000;
constexpr uint64_t kGpuBase = kPhysicalBase - kBaseAddress;  // 0x40000000
constexpr uint64_t kVideoBytes = 64ull << 20;

// The pools inside the object, as offsets. Command buffers, non-paged and contiguous memory
// come from the contiguous pool; default and external requests from the external one.
struct PoolRange {
    uint64_t offset;
    uint64_t bytes;
};
constexpr PoolRange kInternalPool{0, 4ull << 20};
constexpr PoolRange kExternalPool{4ull << 20, 48ull << 20};
constexpr PoolRange kContiguousPool{52ull << 20, 12ull << 20};

// GPU addresses of user memory mapped with command 11 are handed out from this window; its
// pages are the caller's own, reached through the caller's memory.
constexpr uint64_t kUserWindowBase = 0xC0000000;
constexpr uint64_t kUserWindowBytes = 0x30000000;

// Freed video memory is filled with this byte, so that a read after free shows.
constexpr uint8_t kPoison = 0xA5;

// Allocation granule and the largest alignment a request may ask for.
constexpr uint64_t kGranule = 64;
constexpr uint64_t kMaxAlignment = 1u << 20;

// Limits of the other kernel objects.
constexpr uint32_t kMaxNodes = 0xFFFF;       // node handle: index (16 bits) | generation << 16
constexpr uint32_t kMaxSharedBuffer = 4096;  // bytes of one CMD_SHBUF buffer
constexpr uint32_t kMaxEventsPerCommit = 4096;
constexpr uint32_t kRegisterSpace = 0x40000;  // register addresses below this, word-aligned

// The version the simulator reports by default (the driver requires exactly this one).
struct Version {
    uint32_t major, minor, patch, build;
};
constexpr Version kDefaultVersion{5, 0, 11, 23085};

// A chip the simulator plays (VELD_GPU_PROFILE or --profile).
struct ChipProfile {
    std::string_view name;
    std::string_view summary;
    uint32_t model;
    uint32_t revision;
    std::array<uint32_t, 7> features;  // features, then minor features 0 to 5
    std::array<uint32_t, 3> further;   // identity words at u+60, u+84, u+88
    uint32_t chipCount;
    std::array<uint32_t, 3> chipTypes;
};

// "plain": a current 2D core beside a 3D core, no quirks. "old": a single core of an older
// revision (below 0x4401) with the older chips' quirks: per-rectangle flush and stall, the
// end-of-frame patch sequence, 4 KB page limit on 2D reservations, plain ROPs only.
extern const ChipProfile kProfiles[2];
const ChipProfile* findProfile(std::string_view name);

}  // namespace veld::gpusim
