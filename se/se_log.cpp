// The secure engine's log object "vek-se" (see se_log.h) and its exported set-up calls.
#include "se_log.h"

#include "se_engine.h"

#include <atomic>
#include <cstdio>
#include <cstring>

// Where the platform library shows the levels of an object; a library that does not (the
// television's may not) leaves this null and the engine asks it line by line.
extern "C" const uint32_t* VELD_HOST_LogLevelMask(int32_t handle) __attribute__((weak));

namespace veld::se {
namespace {
constexpr const char* kLogName = "vek-se";
constexpr uint32_t kNoLevel = 0;
constexpr uint32_t kAskTheLibrary = ~0u;

const uint32_t* maskOf(int32_t handle) {
    const uint32_t* word = VELD_HOST_LogLevelMask ? VELD_HOST_LogLevelMask(handle) : nullptr;
    return word ? word : &kAskTheLibrary;
}
}  // namespace

std::atomic<int32_t> gLogHandle{-1};
std::atomic<const uint32_t*> gLogMask{&kNoLevel};

const char* sourceName(const char* file) {
    const char* slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}

}  // namespace veld::se

extern "C" {

void VELD_SE_DBG_Initialize(void) {
    auto& gLog = veld::se::gLogHandle;
    if (gLog.load() > 0) return;
    const int32_t handle = VELD_LOGM_ObjRegister(veld::se::kLogName);
    if (handle < 0) {
        std::printf("[%s:%u] fail register logm\n", __func__, static_cast<unsigned>(__LINE__));
        veld::se::gLogMask.store(&veld::se::kNoLevel);
        gLog.store(-1);
        return;
    }
    for (uint32_t level : {0u, 1u, 2u}) VELD_LOGM_BitMaskEnable(handle, level);
    veld::se::gLogMask.store(veld::se::maskOf(handle));
    gLog.store(handle);
}

void VELD_SE_DBG_Shutdown(void) {
    auto& gLog = veld::se::gLogHandle;
    if (gLog.load() < 0) return;
    if (VELD_LOGM_ObjDeregister(veld::se::kLogName) < 0)
        std::printf("[%s:%u] fail deregister logm\n", __func__, static_cast<unsigned>(__LINE__));
    veld::se::gLogMask.store(&veld::se::kNoLevel);
    gLog.store(-1);
}

}  // extern "C"
