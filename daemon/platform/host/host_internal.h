// Shared helpers of the host platform library.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace veld::host {

void writeLogLine(int32_t handle, uint32_t level, const char* function, int32_t line,
                  const char* format, va_list args);

// A line on the platform library's own log object ("veldcore").
void logPlatform(uint32_t level, const char* function, int32_t line, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace veld::host

#define VELD_HOST_LOG(level, ...) ::veld::host::logPlatform((level), __func__, __LINE__, __VA_ARGS__)
