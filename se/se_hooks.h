// What the context, the command channel, the daemon and the debug shell ask of the secure
// store, replay-protected storage and the permanent log.
#pragma once

#include <cstdint>

#include "se_core.h"

namespace veld::se {

int storeInitialize(ProcessRecord& p);      // the secure store, on first attachment (se_store.cpp)
int storeDataInitialize(ProcessRecord& p);  // its data partition "sedata" (se_store.cpp)
int rpmbInitialize(ProcessRecord& p);       // replay-protected storage (se_rpmb.cpp)
// The daemon's side of a replay-protected transfer (netlink "RPMB:<number>").
int rpmbDaemonCommand(int number);
// The secure store as the debug shell uses it (se_store.cpp); 0 or -1.
int storeDeleteRecord(const char* name);   // deletes from the working copy (VELD_SE_SS010)
int storeUpdate();                         // seals and writes both copies (VELD_SE_SS011)
int storeRewrite(bool main, bool backup);  // writes the chosen copies from the working copy
// A line for the permanent log (printf-style).
void permanentLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void permanentLogStopWriter();

}  // namespace veld::se
