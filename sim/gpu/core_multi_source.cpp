// The 2D core's multi-source blit (hardware command 8): each source's control word latches the
// source states the driver loaded before it (0x1200 to 0x12FF and the rotation state); the draw
// runs, for each rectangle, one blit per latched source in index order, each with its own
// states, over the target as the previous source left it (gal_states.h).
#include <algorithm>

#include "core2d.h"
#include "gal_states.h"

namespace veld::gpusim {
namespace {

constexpr uint32_t kFirst = GAL_STATE_SOURCE_BANK_FIRST / 4, kEnd = GAL_STATE_SOURCE_BANK_END / 4;

}  // namespace

void Core2D::latchSource(uint32_t index, uint32_t control) {
    SourceBank& bank = banks_[index];
    bank.enabled = control & GAL_MULTI_SOURCE_ENABLE;
    if (!bank.enabled) return;
    bank.rotation = rotation_;
    bank.states.assign(registers_.begin() + kFirst, registers_.begin() + kEnd);
}

void Core2D::multiSource(const Command& c, uint32_t index) {
    // The states as loaded come back after the draw, as after any other draw.
    const std::vector<uint32_t> saved(registers_.begin() + kFirst, registers_.begin() + kEnd);
    const uint32_t savedRotation = rotation_;
    const uint32_t config = registers_[GAL_STATE_TARGET_CONFIG / 4];
    bool any = false;
    for (const SourceBank& bank : banks_) {
        if (!bank.enabled) continue;
        any = true;
        std::copy(bank.states.begin(), bank.states.end(), registers_.begin() + kFirst);
        // Each source blits into the same target with the draw's own destination configuration.
        registers_[GAL_STATE_TARGET_CONFIG / 4] = (config & ~0xF000u) | GAL_HW_BITBLIT << 12;
        rotation_ = bank.rotation;
        drawRectangle(c, index, GAL_HW_BITBLIT);
    }
    std::copy(saved.begin(), saved.end(), registers_.begin() + kFirst);
    rotation_ = savedRotation;
    if (!any) fault_("2D multi-source blit without a source", index, config);
}

}  // namespace veld::gpusim
