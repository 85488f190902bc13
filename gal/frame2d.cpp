// The 2D command window and the end of a 2D frame: states written straight into reserved
// command-buffer space (or only counted, to measure a frame), no-op filling, the flush,
// semaphore and stall that close every frame, the older chips' end-of-frame state and patch
// sequence, the trailing word pair, and the command and stretch-factor translations.
#include <cstring>

#include "gal_internal.h"
#include "gal_states.h"

namespace {

// The older chips' end-of-frame patch; word 9 becomes the 16 x 16 temporary surface's address.
constexpr uint32_t kPatchTemplate[34] = {
    0x08010483, 0,          0x080104B0, 0,          0x080104C9, 0x00030003, 0x080104AD,
    0,          0x0804048A, 0,          0x20,       0x10,       0xA0000004, 0,
    0x08030497, 0x0030CCCC, 0,          0x00100010, 0x0801049F, 0,          0x080104AF,
    0x00000CC0, 0x080104CA, 0xFFFFFFCF, 0x080104CB, 0xFFF0FFFF, 0x080204B4, 0,
    0,          0,          0x20000100, 0,          0,          0x00040004,
};
constexpr uint32_t kPatchAddressWord = 9;

}  // namespace

namespace gal {

// Prepares the older chips' patch (hardware construction): the template and its surface.
gceSTATUS preparePatch(gcoHARDWARE hw) {
    std::memcpy(hw->patch, kPatchTemplate, sizeof kPatchTemplate);
    size_t bytes = 16 * 16 * 4;
    void* logical = nullptr;
    const gceSTATUS status =
        gcoOS_AllocateVideoMemory(nullptr, 0, &bytes, &hw->patchAddress, &logical, &hw->patchNode);
    if (status < 0) return status;
    hw->patch[kPatchAddressWord] = hw->patchAddress;
    return gcvSTATUS_OK;
}

// The hardware object is going away after a stall: its surface is unlocked at once, not
// through an event on a hardware object that may no longer be there.
void releasePatch(gcoHARDWARE hw) {
    if (!hw->patchNode) return;
    TypeScope scope(HW_TYPE_3D);
    gcsIO_REQUEST unlock = request(CMD_UNLOCK_VIDEO_MEMORY);
    setField<uint32_t>(unlock, 0, hw->patchNode);
    setField<uint32_t>(unlock, 8, 6);
    call(unlock);
    gcsIO_REQUEST release = request(CMD_RELEASE_VIDEO_MEMORY);
    setField<uint32_t>(release, 0, hw->patchNode);
    call(release);
    hw->patchNode = 0;
}

}  // namespace gal

extern "C" {

gceSTATUS gcoHARDWARE_Load2DState(gcoHARDWARE given, uint32_t address, uint32_t count,
                                  const uint32_t* data) {
    if (!data || count == 0 || count > 1024 || address % 4 != 0 ||
        address / 4 + uint64_t(count) > GAL_STATE_SPACE)
        return gcvSTATUS_INVALID_ARGUMENT;
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    if (hw->windowIndex % 2) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t words = (1 + count + 1) & ~1u;
    if (hw->window2D) {
        if (hw->windowSize - hw->windowIndex < ((count + 2) & ~1u)) return gcvSTATUS_OUT_OF_MEMORY;
        uint32_t* p = hw->window2D + hw->windowIndex;
        p[0] = 0x08000000u | ((count & 0x3FFu) << 16) | (address / 4);
        std::memcpy(p + 1, data, count * sizeof(uint32_t));
        if (words > 1 + count) p[1 + count] = 0;
    }
    hw->windowIndex += words;
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_Load2DState32(gcoHARDWARE hw, uint32_t address, uint32_t value) {
    return gcoHARDWARE_Load2DState(hw, address, 1, &value);
}

gceSTATUS gcoHARDWARE_2DAppendNop(gcoHARDWARE given) {
    gcoHARDWARE hw = nullptr;
    const gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    if (!hw->window2D) return gcvSTATUS_OK;
    while (hw->windowIndex + 2 <= hw->windowSize) {
        hw->window2D[hw->windowIndex++] = GAL_NOP_WORD;
        hw->window2D[hw->windowIndex++] = 0;
    }
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_End2DFrame(gcoHARDWARE given) {
    gcoHARDWARE hw = nullptr;
    gceSTATUS status = gal::hardwareOf(given, hw);
    if (status < 0) return status;
    status = gcoHARDWARE_Load2DState32(hw, GAL_STATE_FLUSH, 8);
    if (status >= 0 && hw->needsEndFrameState)
        status = gcoHARDWARE_Load2DState32(hw, GAL_STATE_END_FRAME_OLD, 1);
    if (status >= 0 && hw->needsPatch) {
        if (hw->window2D) {
            if (hw->windowSize - hw->windowIndex < 34) return gcvSTATUS_OUT_OF_MEMORY;
            std::memcpy(hw->window2D + hw->windowIndex, hw->patch, sizeof hw->patch);
        }
        hw->windowIndex += 34;
    }
    if (status >= 0) status = gcoHARDWARE_Load2DState32(hw, GAL_STATE_SEMAPHORE, GAL_SEMAPHORE_TOKEN);
    if (status >= 0) {
        if (hw->window2D) {
            if (hw->windowSize - hw->windowIndex < 2) return gcvSTATUS_OUT_OF_MEMORY;
            hw->window2D[hw->windowIndex] = GAL_STALL_WORD;
            hw->window2D[hw->windowIndex + 1] = GAL_SEMAPHORE_TOKEN;
        }
        hw->windowIndex += 2;
    }
    if (status < 0) return status;
    if (hw->window2D && hw->windowIndex > hw->windowSize) return gcvSTATUS_OUT_OF_MEMORY;
    if (hw->window2D && hw->processDetection && hw->windowSize - hw->windowIndex >= 2) {
        hw->window2D[hw->windowIndex++] = GAL_TRAILER_WORD;
        hw->window2D[hw->windowIndex++] = hw->targetAddress;
    }
    return gcoHARDWARE_2DAppendNop(hw);
}

gceSTATUS gcoHARDWARE_TranslateCommand(uint32_t command, uint32_t* hwCommand) {
    static constexpr uint32_t kHardware[] = {0, 1, 2, 4, 5, 6, 8};
    if (!hwCommand) return gcvSTATUS_INVALID_ARGUMENT;
    if (command >= sizeof kHardware / sizeof kHardware[0]) return gcvSTATUS_NOT_SUPPORTED;
    *hwCommand = kHardware[command];
    return gcvSTATUS_OK;
}

uint32_t gcoHARDWARE_GetStretchFactor(int32_t gdiStretch, int32_t source, int32_t destination) {
    if (!gdiStretch && source >= 2 && destination >= 2)
        return (uint32_t(source - 1) << 16) / uint32_t(destination - 1);
    if (source > 0 && destination > 0) return (uint32_t(source) << 16) / uint32_t(destination);
    return 0;
}

gceSTATUS gcoHARDWARE_GetStretchFactors(int32_t gdiStretch, const gcsRECT* sourceRect,
                                        const gcsRECT* destRect, uint32_t* horizontal,
                                        uint32_t* vertical) {
    if (!sourceRect || !destRect) return gcvSTATUS_INVALID_ARGUMENT;
    if (horizontal)
        *horizontal = gcoHARDWARE_GetStretchFactor(gdiStretch, sourceRect->right - sourceRect->left,
                                                   destRect->right - destRect->left);
    if (vertical)
        *vertical = gcoHARDWARE_GetStretchFactor(gdiStretch, sourceRect->bottom - sourceRect->top,
                                                 destRect->bottom - destRect->top);
    return gcvSTATUS_OK;
}

}  // extern "C"
