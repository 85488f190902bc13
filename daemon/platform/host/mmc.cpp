// The replay-protected eMMC calls of the platform library on a PC: each call names its request
// type, hands the frame to the part through the eMMC seam (emmc_device.h: the simulator under
// VELD_SIM=1) and returns the part's response in the same buffer.
#include <cerrno>
#include <cstring>

#include "emmc_device.h"
#include "host_internal.h"
#include "rpmb_frame.h"
#include "veldcore.h"

namespace {

using veld::rpmb::Frame;

int32_t request(uint8_t* buffer, uint16_t type, const char* function) {
    if (!buffer) return -1;
    Frame frame;
    std::memcpy(&frame, buffer, sizeof frame);
    veld::rpmb::put16(frame.type, type);
    const int result = veld::emmcDevice::exchange(frame);
    const int error = errno;
    if (result == 0 || error == EIO) std::memcpy(buffer, &frame, sizeof frame);
    if (result != 0 && error != EIO)
        veld::host::logPlatform(1, function, __LINE__, "RPMB request 0x%04x: %s(%d)\n", type,
                                std::strerror(error), error);
    return result == 0 ? 0 : -1;
}

}  // namespace

extern "C" {

int32_t VELD_MMC_rpmb_read_writecounter(uint8_t* frame) {
    return request(frame, veld::rpmb::kReadCounter, __func__);
}

int32_t VELD_MMC_rpmb_read_block(uint8_t* frame) { return request(frame, veld::rpmb::kRead, __func__); }

int32_t VELD_MMC_rpmb_write_block(uint8_t* frame) { return request(frame, veld::rpmb::kWrite, __func__); }

int32_t VELD_MMC_rpmb_key_write(const uint8_t* key, uint32_t length) {
    if (!key || length != veld::rpmb::kKeyBytes) return -1;
    Frame frame{};
    std::memcpy(frame.keyMac, key, sizeof frame.keyMac);
    veld::rpmb::put16(frame.type, veld::rpmb::kProgramKey);
    const int result = veld::emmcDevice::exchange(frame);
    const int error = errno;
    // The key leaves no copy behind in this library.
    volatile uint8_t* wipe = reinterpret_cast<volatile uint8_t*>(&frame);
    for (size_t i = 0; i < sizeof frame; ++i) wipe[i] = 0;
    if (result != 0)
        VELD_HOST_LOG(1, "RPMB key programming refused: %s(%d)\n", std::strerror(error), error);
    return result == 0 ? 0 : -1;
}

}  // extern "C"
