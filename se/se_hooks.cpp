// Permanent-log lines (see se_hooks.h). The secure store's calls live in se_store.cpp,
// replay-protected storage in se_rpmb.cpp.
#include "se_hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "se_permanent_log.h"

namespace veld::se {

void permanentLog(const char* format, ...) {
    char line[kLogLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    VELD_SE_PL02("%s", line);
}

void permanentLogStopWriter() { stopWriter(); }

}  // namespace veld::se
