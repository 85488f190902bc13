// The trusted command channel: the command header handed to the device, the parameter area in
// the shared window, result codes, re-initialisation after the trusted world lost its state,
// and one function per command family. Every function here runs with the lock held and the
// process attached.
#pragma once

#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "se_core.h"
#include "se_log.h"
#include "se_use_guard.h"

namespace veld::se {

// What a step of a command reports: done, failed, or the trusted world lost its state and was
// initialised again, so that the whole operation must run again from the start.
enum class St { Ok, Fail, Lost };

// Room in the parameter area before the trusted debug text (the last 1,028 bytes).
constexpr uint32_t kParamRoom = kParamBytes - 1028;
constexpr uint32_t kRandomMax = kParamRoom - 4;  // random bytes follow the length word
// Re-initialisations one operation may go through before it gives up.
constexpr int kMaxReinit = 2;

St runCommand(ProcessRecord& p, uint32_t header[8]);
// Command 2 with the window and region; 0 or -1. No re-initialisation.
int initCommand(ProcessRecord& p);
int loadUserApplications(ProcessRecord& p);
int copyIntoWindow(ProcessRecord& p, uint32_t physical, const void* src, uint32_t length);
int copyOutOfWindow(ProcessRecord& p, void* dst, uint32_t physical, uint32_t length);
// True when [address, address + length) is one the secure-memory operations may touch.
bool secureRangeValid(ProcessRecord& p, uint32_t address, uint32_t length);

St chainCommand(ProcessRecord& p, uint32_t command, const VELD_SE_CHAIN& chain);
St keyRecordCommand(ProcessRecord& p, uint32_t command, VELD_SE_KEY_RECORD& record);
St trustedOperation(ProcessRecord& p, VELD_SE_TRUSTED_OP& op);
// Trusted operation 0x0001 for an option record {first, second}.
St optionOperation(ProcessRecord& p, uint32_t* option, uint32_t selector);
St randomCommand(ProcessRecord& p, uint8_t* out, uint32_t length);
// `done` counts the bytes already processed by earlier attempts of a large transfer.
St blockOperation(ProcessRecord& p, const VELD_SE_BLOCK_OP& op, uint32_t& done);
St hashOperation(ProcessRecord& p, const VELD_SE_HASH_REQUEST& request);
St rsaOperation(ProcessRecord& p, VELD_SE_RSA_REQUEST& request);
St simpleCommand(ProcessRecord& p, uint32_t command, uint32_t headerWord2 = 0);
St makeCurrent(ProcessRecord& p, VELD_SE_CTX* ctx);
// In-place AES-CBC under the store key with a vector the trusted world generates into
// `vector` (seal), or with the given vector (unseal); se_wrappers.cpp.
St sealInPlace(ProcessRecord& p, uint8_t* vector, uint8_t* data, uint32_t length);
St unsealInPlace(ProcessRecord& p, const uint8_t* vector, uint8_t* data, uint32_t length);

// Shutdown waits for the calls running in this process: they hold this shared.
inline UseGuard& useMutex() {
    static UseGuard guard;
    return guard;
}

// Runs `body` again after each re-initialisation, at most kMaxReinit times.
template <typename Body>
St runBounded(ProcessRecord& p, Body&& body) {
    for (int attempt = 0;; ++attempt) {
        const St st = body(p);
        if (st != St::Lost) return st;
        if (attempt == kMaxReinit) {
            SE_LOG(0, "trusted world lost its state again after %d re-initialisations\n",
                   kMaxReinit);
            return St::Fail;
        }
    }
}

// One exported operation: the lock, the attachment, the body with bounded re-initialisation,
// the unlock; 0 or -1 with the failing source's name logged.
template <typename Body>
int32_t engineCall(const char* file, Body&& body) {
    UseGuard::Inside use(useMutex());
    if (seLock() != 0) {
        SE_LOG(0, "%s\n", sourceName(file));
        return -1;
    }
    St st = St::Fail;
    if (ProcessRecord* p = getProcessRecord()) st = runBounded(*p, body);
    seUnlock();
    if (st != St::Ok) SE_LOG(0, "%s\n", sourceName(file));
    return st == St::Ok ? 0 : -1;
}

#define SE_ENGINE_CALL(...) ::veld::se::engineCall(__FILE__, __VA_ARGS__)

}  // namespace veld::se
