// The secure engine's log object "vek-se" (see se_log.h) and its exported set-up calls.
#include "se_log.h"

#include "se_engine.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace veld::se {
std::atomic<int32_t> gLogHandle{-1};
namespace {
constexpr const char* kLogName = "vek-se";
}  // namespace

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
        gLog.store(-1);
        return;
    }
    for (uint32_t level : {0u, 1u, 2u}) VELD_LOGM_BitMaskEnable(handle, level);
    gLog.store(handle);
}

void VELD_SE_DBG_Shutdown(void) {
    auto& gLog = veld::se::gLogHandle;
    if (gLog.load() < 0) return;
    if (VELD_LOGM_ObjDeregister(veld::se::kLogName) < 0)
        std::printf("[%s:%u] fail deregister logm\n", __func__, static_cast<unsigned>(__LINE__));
    gLog.store(-1);
}

}  // extern "C"
