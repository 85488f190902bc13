// Calls into the secure store, replay-protected storage and permanent log (see se_hooks.h):
// placeholders that succeed until those modules land. A permanent-log line goes to the
// engine's log meanwhile, so that it is not lost from sight.
#include "se_hooks.h"

#include <cstdarg>
#include <cstdio>

#include "se_log.h"

namespace veld::se {

int storeInitialize(ProcessRecord&) { return 0; }
int storeDataInitialize(ProcessRecord&) { return 0; }
int rpmbInitialize(ProcessRecord&) { return 0; }

void permanentLog(const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    SE_LOG(1, "permanent log: %s", line);
}

void permanentLogStopWriter() {}

}  // namespace veld::se
