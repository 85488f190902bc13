// Process set-up and the board services of the platform library on a PC: the library's own
// log object, the chip identifier (VELD_CHIP), the kernel command line (through the seams),
// and the TE firmware, HDR event monitor and OTP thread of the simulated board.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "board.h"
#include "host_internal.h"
#include "seam.h"
#include "veldcore.h"

namespace {

// The chip a PC reports without VELD_CHIP: a chip without the low-power command file.
constexpr int32_t kDefaultChip = 0;

std::once_flag gHdrOnce;
int32_t gHdrResult = -1;

void* hdrEventMonitor(void*) {
    // The television's monitor waits for HDR metadata events from the video path; a PC has
    // none, so the thread only waits.
    for (;;) VELD_OSA_SleepMsec(60000);
    return nullptr;
}

void* otpThread(void*) {
    VELD_HOST_LOG(2, "OTP values read\n");
    return nullptr;
}

}  // namespace

extern "C" {

int32_t VELD_InitSystem(int /*argc*/, char** /*argv*/) {
    if (g_global_vdk_logm_fd < 0) {
        g_global_vdk_logm_fd = VELD_LOGM_ObjRegister("veldcore");
        for (uint32_t level : {0u, 1u, 2u}) VELD_LOGM_BitMaskEnable(g_global_vdk_logm_fd, level);
    }
    return 0;
}

int32_t VELD_ShutdownSystem(void) { return 0; }

int32_t qz_chip(void) {
    const char* chip = std::getenv("VELD_CHIP");
    if (!chip || !*chip) return kDefaultChip;
    return static_cast<int32_t>(std::strtol(chip, nullptr, 0));
}

int32_t VELD_UTIL_ScanKernelCmdline(const char* pattern, char* value) {
    if (!pattern || !value) return -1;
    // The pattern is "key=%s": the key is everything before "=%".
    std::string_view key(pattern);
    if (const size_t cut = key.find("=%"); cut != std::string_view::npos) key = key.substr(0, cut);
    bool found = false;
    const std::string text = veld::seam::cmdlineValue(veld::seam::kernelCmdline(), key, found);
    if (!found) return -1;
    const size_t n = std::min(text.size(), static_cast<size_t>(VELD_CMDLINE_VALUE_MAX - 1));
    std::memcpy(value, text.data(), n);
    value[n] = '\0';
    return 0;
}

int32_t VELD_TE_Open(void) {
    veld::host::boardUpdate([](VELD_BOARD_STATE& s) { s.teLoaded = 1; });
    return 1;
}

int32_t VELD_HDR_DOLBY_event_Monitor(void) {
    std::call_once(gHdrOnce, [] {
        const VELD_THREAD t = VELD_OSA_CreateThread("hdr_evt_mon", hdrEventMonitor, nullptr, 0, 2, 0);
        gHdrResult = t ? 0 : -1;
        if (t) veld::host::boardUpdate([](VELD_BOARD_STATE& s) { s.hdrMonitorStarted = 1; });
    });
    return gHdrResult;
}

int32_t VELD_AFE_Init_OTP_Thread(void) {
    const VELD_THREAD t = VELD_OSA_CreateThread("afe_otp", otpThread, nullptr, 0, 2, 0);
    if (!t) return -1;
    VELD_OSA_JoinThread(t, nullptr);
    veld::host::boardUpdate([](VELD_BOARD_STATE& s) { s.otpThreadStarted = 1; });
    return 0;
}

}  // extern "C"
