// Calls into replay-protected storage and the permanent log (see se_hooks.h). Replay-protected
// storage is a placeholder that succeeds until its module lands; permanent-log lines go to the
// permanent log. The secure store's calls live in se_store.cpp.
#include "se_hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "se_permanent_log.h"

namespace veld::se {

int rpmbInitialize(ProcessRecord&) { return 0; }
int rpmbDaemonCommand(int) { return 0; }

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
