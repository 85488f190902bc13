// The secure engine's log object "vek-se", written through the platform log like the daemon's.
#pragma once

#include <atomic>
#include <cstdint>

#include "veldcore.h"

namespace veld::se {

// The registered handle, -1 before VELD_SE_DBG_Initialize.
extern std::atomic<int32_t> gLogHandle;
inline int32_t logHandle() { return gLogHandle.load(std::memory_order_relaxed); }

// The enabled levels of "vek-se": the platform library's own mask word when it shows it, a word
// with every level set when it does not (each line then goes to VELD_LOGM_WriteLog, which
// decides), a zero word while the object is not registered. Trace lines sit on the lock's fast
// path: a disabled level costs this one test, and nothing is formatted or called.
extern std::atomic<const uint32_t*> gLogMask;
inline bool logOn(uint32_t level) {
    return level < 32 &&
           ((__atomic_load_n(gLogMask.load(std::memory_order_relaxed), __ATOMIC_RELAXED) >> level) & 1u);
}
// The source file's name without its folders, for the engine's "%s\n" failure lines.
const char* sourceName(const char* file);

}  // namespace veld::se

#define SE_LOG(level, ...)                                                                           \
    (::veld::se::logOn(level)                                                                        \
         ? static_cast<void>(                                                                        \
               VELD_LOGM_WriteLog(::veld::se::logHandle(), level, __func__, __LINE__, __VA_ARGS__)) \
         : static_cast<void>(0))
// The line every failing operation writes, with the failing function and line.
#define SE_FAILED() SE_LOG(0, "%s\n", ::veld::se::sourceName(__FILE__))
