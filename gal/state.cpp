// State loads into the command buffer and the state deltas that tell the kernel which states
// a submission changed. A load of n states at word address a is the word
// 0x08000000 | f << 26 | (n & 0x3FF) << 16 | a, the n values and a zero padding word when
// 1 + n is odd, so that every command ends on an 8-byte boundary; 1024 states are written as
// count 0 and longer loads are split.
#include <cstring>

#include "gal_internal.h"

namespace {

constexpr uint32_t kStateSpace = 0x10000;  // word addresses of the register file
constexpr uint32_t kMaxStatesPerLoad = 1024;

gcsSTATE_DELTA* currentDelta(gcoHARDWARE hw) { return hw->deltas[hw->currentDelta]; }

void record(gcsSTATE_DELTA* delta, uint32_t address, uint32_t mask, uint32_t value) {
    if (!delta) return;
    if (delta->mapId[address] == delta->id) {
        uint32_t* entry = delta->entries + 3 * delta->mapIndex[address];
        if (mask) {
            entry[1] |= mask;
            entry[2] = (value & mask) | (entry[2] & ~mask);
        } else {
            entry[1] = 0;
            entry[2] = value;
        }
        return;
    }
    delta->mapId[address] = delta->id;
    delta->mapIndex[address] = delta->elementCount;
    uint32_t* entry = delta->entries + 3 * delta->elementCount++;
    entry[0] = address;
    entry[1] = mask;
    entry[2] = value;
}

void resetDelta(gcsSTATE_DELTA* delta) {
    if (++delta->id == 0) {
        std::memset(delta->mapId, 0, kStateSpace * sizeof(uint32_t));
        delta->id = 1;
    }
    delta->elementCount = 0;
}

// One load command of at most 1024 states.
gceSTATUS loadChunk(gcoHARDWARE hw, uint32_t address, uint32_t count, const uint32_t* data,
                    uint32_t fixed, uint32_t mask) {
    const uint32_t bytes = ((count + 1) * 4 + 7) & ~7u;
    gcoCMDBUF cmdbuf = nullptr;
    const gceSTATUS status = gcoBUFFER_Reserve(hw->buffer, bytes, 1, 2, &cmdbuf);
    if (status < 0) return status;
    auto* words = reinterpret_cast<uint32_t*>(static_cast<uintptr_t>(cmdbuf->lastReserve));
    words[0] = 0x08000000u | (fixed << 26) | ((count & 0x3FFu) << 16) | (address & 0xFFFFu);
    std::memcpy(words + 1, data, count * sizeof(uint32_t));
    if ((count + 1) % 2) words[count + 1] = 0;
    for (uint32_t i = 0; i < count; ++i) record(currentDelta(hw), address + i, mask, data[i]);
    return gcvSTATUS_OK;
}

gceSTATUS load(gcoHARDWARE given, uint32_t byteAddress, uint32_t count, const uint32_t* data,
               uint32_t fixed, uint32_t mask) {
    if (!data || count == 0 || byteAddress % 4 != 0) return gcvSTATUS_INVALID_ARGUMENT;
    const uint64_t first = byteAddress / 4;
    if (first + count > kStateSpace) return gcvSTATUS_INVALID_ARGUMENT;
    gcoHARDWARE hw = nullptr;
    gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    if (!hw->buffer) return gcvSTATUS_INVALID_OBJECT;
    for (uint32_t done = 0; done < count; done += kMaxStatesPerLoad) {
        const uint32_t n = count - done < kMaxStatesPerLoad ? count - done : kMaxStatesPerLoad;
        status = loadChunk(hw, uint32_t(first) + done, n, data + done, fixed, mask);
        if (status < 0) return status;
    }
    return gcvSTATUS_OK;
}

}  // namespace

namespace gal {

gceSTATUS constructDeltas(gcoHARDWARE hw) {
    for (int i = 0; i < 3; ++i) {
        void* memory = nullptr;
        gceSTATUS status = gcoOS_AllocateSharedMemory(nullptr, sizeof(gcsSTATE_DELTA), &memory);
        if (status < 0) return status;
        auto* d = static_cast<gcsSTATE_DELTA*>(std::memset(memory, 0, sizeof(gcsSTATE_DELTA)));
        hw->deltas[i] = d;
        void* maps = nullptr;
        status = gcoOS_AllocateSharedMemory(nullptr, 5 * kStateSpace * sizeof(uint32_t), &maps);
        if (status < 0) return status;
        std::memset(maps, 0, 2 * kStateSpace * sizeof(uint32_t));
        d->mapId = static_cast<uint32_t*>(maps);
        d->mapIndex = d->mapId + kStateSpace;
        d->entries = d->mapIndex + kStateSpace;
        d->id = 1;
    }
    for (int i = 0; i < 3; ++i) hw->deltas[i]->next = hw->deltas[(i + 1) % 3];
    hw->currentDelta = 0;
    return gcvSTATUS_OK;
}

void destroyDeltas(gcoHARDWARE hw) {
    for (gcsSTATE_DELTA*& d : hw->deltas) {
        if (!d) continue;
        if (d->mapId) gcoOS_FreeSharedMemory(nullptr, d->mapId);
        gcoOS_FreeSharedMemory(nullptr, d);
        d = nullptr;
    }
}

void advanceDelta(gcoHARDWARE hw) {
    if (!hw->deltas[0]) return;
    hw->currentDelta = (hw->currentDelta + 1) % 3;
    resetDelta(currentDelta(hw));
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHARDWARE_LoadState(gcoHARDWARE hw, uint32_t address, uint32_t count,
                                const uint32_t* data) {
    return load(hw, address, count, data, 0, 0);
}

gceSTATUS gcoHARDWARE_LoadState32(gcoHARDWARE hw, uint32_t address, uint32_t value) {
    return load(hw, address, 1, &value, 0, 0);
}

gceSTATUS gcoHARDWARE_LoadState32x(gcoHARDWARE hw, uint32_t address, uint32_t value) {
    return load(hw, address, 1, &value, 1, 0);
}

gceSTATUS gcoHARDWARE_LoadState32WithMask(gcoHARDWARE hw, uint32_t address, uint32_t mask,
                                          uint32_t value) {
    return load(hw, address, 1, &value, 0, mask);
}

gceSTATUS gcoHARDWARE_LoadState64(gcoHARDWARE hw, uint32_t address, uint32_t low, uint32_t high) {
    const uint32_t values[2] = {low, high};
    return load(hw, address, 2, values, 0, 0);
}

gceSTATUS gcoHARDWARE_QueryCommandBuffer(gcoHARDWARE, uint32_t* alignment, uint32_t* reservedHead,
                                         uint32_t* reservedTail, uint32_t* kernelAllocated) {
    if (alignment) *alignment = gcdCMDBUF_ALIGNMENT;
    if (reservedHead) *reservedHead = gcdCMDBUF_RESERVED_HEAD;
    if (reservedTail) *reservedTail = gcdCMDBUF_RESERVED_TAIL;
    if (kernelAllocated) *kernelAllocated = 1;
    return gcvSTATUS_OK;
}

}  // extern "C"
