// The software 2D core, stage 1 (see core2d.h).
#include "core2d.h"

#include <algorithm>
#include <cstring>

#include "gal_states.h"

namespace veld::gpusim {
namespace {

constexpr uint32_t reg(uint32_t byteAddress) { return byteAddress / 4; }

bool is32Bit(uint32_t format) {
    return format == GAL_HW_FORMAT_X8R8G8B8 || format == GAL_HW_FORMAT_A8R8G8B8;
}

}  // namespace

Core2D::Core2D(uint8_t* memory, const ChipProfile& profile, Inside inside, Fault fault)
    : memory_(memory), profile_(profile), inside_(std::move(inside)), fault_(std::move(fault)),
      registers_(GAL_STATE_SPACE, 0) {}

void Core2D::execute(const std::vector<Command>& commands) {
    for (const Command& c : commands) {
        if (c.op == Op::Load) {
            for (uint32_t k = 0; k < c.count; ++k) registers_[reg(c.address) + k] = c.data[k];
        } else if (c.op == Op::Draw) {
            for (uint32_t r = 0; r < c.count; ++r) draw(c.data[2 * r], c.data[2 * r + 1]);
        }
    }
}

bool Core2D::clipped(uint32_t topLeft, uint32_t bottomRight, Rect& r) const {
    r = Rect{int32_t(topLeft & 0xFFFF), int32_t(topLeft >> 16), int32_t(bottomRight & 0xFFFF),
             int32_t(bottomRight >> 16)};
    const uint32_t clipA = registers_[reg(GAL_STATE_CLIP_TOP_LEFT)];
    const uint32_t clipB = registers_[reg(GAL_STATE_CLIP_BOTTOM_RIGHT)];
    r.left = std::max(r.left, int32_t(clipA & 0x7FFF));
    r.top = std::max(r.top, int32_t((clipA >> 16) & 0x7FFF));
    r.right = std::min(r.right, int32_t(clipB & 0x7FFF));
    r.bottom = std::min(r.bottom, int32_t((clipB >> 16) & 0x7FFF));
    return r.left < r.right && r.top < r.bottom;
}

bool Core2D::region(uint32_t gpuAddress, uint32_t stride, const Rect& r, uint64_t& offset) {
    const uint64_t first = uint64_t(gpuAddress) + uint64_t(r.top) * stride + uint64_t(r.left) * 4;
    const uint64_t bytes = uint64_t(r.bottom - r.top - 1) * stride + uint64_t(r.right - r.left) * 4;
    if (first < kGpuBase || !inside_(first - kGpuBase, bytes) ||
        stride < uint64_t(r.right) * 4) {
        fault_("2D access outside the allocated video memory", first, bytes);
        return false;
    }
    offset = first - kGpuBase;
    return true;
}

void Core2D::draw(uint32_t topLeft, uint32_t bottomRight) {
    ++draws_;
    const uint32_t config = registers_[reg(GAL_STATE_TARGET_CONFIG)];
    const uint32_t format = config & 0x1F;
    const uint32_t command = (config >> 12) & 0xF;
    if (!is32Bit(format)) {
        fault_("2D target format not supported by the core", format, config);
        return;
    }
    Rect r{};
    if (!clipped(topLeft, bottomRight, r)) return;
    if (command == GAL_HW_CLEAR) {
        clear(r);
    } else if (command == GAL_HW_BITBLIT) {
        blit(r, Rect{int32_t(topLeft & 0xFFFF), int32_t(topLeft >> 16),
                     int32_t(bottomRight & 0xFFFF), int32_t(bottomRight >> 16)});
    } else {
        fault_("2D command not supported by the core", command, config);
    }
}

void Core2D::clear(const Rect& r) {
    const uint32_t stride = registers_[reg(GAL_STATE_TARGET_STRIDE)];
    uint64_t offset = 0;
    if (!region(registers_[reg(GAL_STATE_TARGET_ADDRESS)], stride, r, offset)) return;
    // Newer chips (feature 36) take the clear colour from 0x12C0, older ones from 0x1270.
    const bool newer = (profile_.features[1] >> 4) & 1u;
    const uint32_t colour =
        registers_[reg(newer ? GAL_STATE_CLEAR_COLOR : GAL_STATE_CLEAR_COLOR_OLD)];
    // The first row is filled word by word; the others are copies of it, which run at the
    // speed of the memory rather than of the loop.
    auto* first = reinterpret_cast<uint32_t*>(memory_ + offset);
    const size_t rowBytes = size_t(r.right - r.left) * 4;
    std::fill(first, first + (r.right - r.left), colour);
    for (int32_t y = r.top + 1; y < r.bottom; ++y)
        std::memcpy(memory_ + offset + uint64_t(y - r.top) * stride, first, rowBytes);
    pixels_ += uint64_t(r.right - r.left) * uint64_t(r.bottom - r.top);
}

void Core2D::blit(const Rect& r, const Rect& unclipped) {
    const uint32_t rop = registers_[reg(GAL_STATE_ROP)];
    if ((rop & 0xFF) != 0xCC) {
        fault_("ROP not supported by the core", rop, 0);
        return;
    }
    const uint32_t sourceFormat = GAL_SOURCE_CONFIG_FORMAT(registers_[reg(GAL_STATE_SOURCE_CONFIG)]);
    if (!is32Bit(sourceFormat)) {
        fault_("2D source format not supported by the core", sourceFormat, 0);
        return;
    }
    const uint32_t origin = registers_[reg(GAL_STATE_SOURCE_ORIGIN)];
    const Rect source{int32_t(origin & 0xFFFF) + (r.left - unclipped.left),
                      int32_t(origin >> 16) + (r.top - unclipped.top), 0, 0};
    const Rect sourceRect{source.left, source.top, source.left + (r.right - r.left),
                          source.top + (r.bottom - r.top)};
    const uint32_t targetStride = registers_[reg(GAL_STATE_TARGET_STRIDE)];
    const uint32_t sourceStride = registers_[reg(GAL_STATE_SOURCE_STRIDE)];
    uint64_t to = 0, from = 0;
    if (!region(registers_[reg(GAL_STATE_TARGET_ADDRESS)], targetStride, r, to)) return;
    if (!region(registers_[reg(GAL_STATE_SOURCE_ADDRESS)], sourceStride, sourceRect, from)) return;
    const size_t rowBytes = size_t(r.right - r.left) * 4;
    for (int32_t y = 0; y < r.bottom - r.top; ++y)
        std::memmove(memory_ + to + uint64_t(y) * targetStride,
                     memory_ + from + uint64_t(y) * sourceStride, rowBytes);
    pixels_ += uint64_t(r.right - r.left) * uint64_t(r.bottom - r.top);
}

}  // namespace veld::gpusim
