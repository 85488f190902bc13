// The daemon's log object "veldd", shared by the daemon core, the window system and the
// monitor, and the macros that write through it with the caller's function name and line.
#pragma once

#include <cstdint>

#include "veldcore.h"

extern "C" {
// Handle of the log object "veldd"; -1 until registered.
extern int32_t g_veldd_logm_fd;
}

// Log levels in use (the first three are enabled at start).
namespace veld::loglevel {
constexpr uint32_t kFailure = 0;    // start-up failures, launcher, reception
constexpr uint32_t kUnexpected = 1; // unexpected messages and failures
constexpr uint32_t kProgress = 2;   // "<!> " progress lines
constexpr uint32_t kFileMonitor = 4;
constexpr uint32_t kLoadLine = 9;   // the log panel's once-a-second line
constexpr uint32_t kDebug = 13;     // "[xDbg]"
constexpr uint32_t kError = 14;     // "[xErr]"
}  // namespace veld::loglevel

#define VELDD_LOG(level, ...) \
    VELD_LOGM_WriteLog(g_veldd_logm_fd, (level), __func__, __LINE__, __VA_ARGS__)
// For lines that carry another function's name than the one writing them.
#define VELDD_LOG_AS(function, level, ...) \
    VELD_LOGM_WriteLog(g_veldd_logm_fd, (level), (function), __LINE__, __VA_ARGS__)
