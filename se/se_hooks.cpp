// Calls into the secure store, replay-protected storage and permanent log (see se_hooks.h).
// The store is a placeholder that succeeds until it lands; replay-protected storage is in
// se_rpmb.cpp; permanent-log lines go to the permanent log.
#include "se_hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "se_permanent_log.h"

namespace veld::se {

int storeInitialize(ProcessRecord&) { return 0; }
int storeDataInitialize(ProcessRecord&) { return 0; }
int storeReadRecord(const char*, void*) { return -1; }
int storeDeleteRecord(const char*) { return -1; }
int storeUpdate() { return -1; }
int storeRewrite(bool, bool) { return -1; }

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
