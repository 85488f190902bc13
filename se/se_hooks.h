// What the context, the command channel and the daemon ask of the secure store,
// replay-protected storage and the permanent log. The store and replay-protected storage are
// placeholders that succeed until those modules land, so that an attachment runs through its
// whole sequence.
#pragma once

#include <cstdint>

#include "se_core.h"

namespace veld::se {

int storeInitialize(ProcessRecord& p);      // the secure store, on first attachment
int storeDataInitialize(ProcessRecord& p);  // its data partition "sedata"
int rpmbInitialize(ProcessRecord& p);       // replay-protected storage (se_rpmb.cpp)
// The daemon's side of a replay-protected transfer (netlink "RPMB:<number>").
int rpmbDaemonCommand(int number);
// The secure store as the debug shell uses it; placeholders that fail until the store lands.
// `record` is the caller's 18-word secure-store record (protection header, length, data).
int storeReadRecord(const char* name, void* record);  // VELD_SE_ReadSecureStore
int storeDeleteRecord(const char* name);              // deletes from the working copy
int storeUpdate();                                    // VELD_SE_UpdateSecureStore
int storeRewrite(bool main, bool backup);             // writes the chosen copies from the working copy
// A line for the permanent log (printf-style).
void permanentLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void permanentLogStopWriter();

}  // namespace veld::se
