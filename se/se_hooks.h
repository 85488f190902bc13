// What the context, the command channel and the daemon ask of the secure store,
// replay-protected storage and the permanent log. Replay-protected storage is a placeholder that
// succeeds until its module lands, so that an attachment runs through its whole sequence.
#pragma once

#include <cstdint>

#include "se_core.h"

namespace veld::se {

int storeInitialize(ProcessRecord& p);      // the secure store, on first attachment (se_store.cpp)
int storeDataInitialize(ProcessRecord& p);  // its data partition "sedata" (se_store.cpp)
int rpmbInitialize(ProcessRecord& p);       // replay-protected storage
// The daemon's side of a replay-protected transfer (netlink "RPMB:<number>").
int rpmbDaemonCommand(int number);
// A line for the permanent log (printf-style).
void permanentLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void permanentLogStopWriter();

}  // namespace veld::se
