// The secure engine's log object "vek-se", written through the platform log like the daemon's.
#pragma once

#include <atomic>
#include <cstdint>

#include "veldcore.h"

namespace veld::se {

// The registered handle, -1 before VELD_SE_DBG_Initialize. Read inline: trace lines sit on the
// lock's fast path.
extern std::atomic<int32_t> gLogHandle;
inline int32_t logHandle() { return gLogHandle.load(std::memory_order_relaxed); }
// The source file's name without its folders, for the engine's "%s\n" failure lines.
const char* sourceName(const char* file);

}  // namespace veld::se

#define SE_LOG(level, ...) \
    VELD_LOGM_WriteLog(::veld::se::logHandle(), level, __func__, __LINE__, __VA_ARGS__)
// The line every failing operation writes, with the failing function and line.
#define SE_FAILED() SE_LOG(0, "%s\n", ::veld::se::sourceName(__FILE__))
