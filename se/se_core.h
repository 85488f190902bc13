// The secure engine's process and shared records, the cross-process lock and the attachment
// of a process to the trusted world: what every other module of the engine runs inside.
#pragma once

#include <semaphore.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "se_engine.h"
#include "veldcore.h"

namespace veld::se {

constexpr const char* kDevicePath = "/dev/qv/se0";
constexpr const char* kLockName = "veld-se-sema";
constexpr const char* kSharedName = "veld-se-shmem";
constexpr const char* kStoreMemoryName = "veld-se-sestore";
constexpr uint32_t kSharedBytes = 760;
constexpr uint32_t kStoreMemoryBytes = 0x40000;
constexpr uint32_t kParamBytes = 16384;
constexpr uint32_t kSecureReserve = 0xB24000;  // secure end minus this is the secure size
constexpr uint32_t kTempSecureDataSize = 16384;

// Device requests of "/dev/qv/se0".
constexpr unsigned long kIocMemInfo = 0x800453FFul;
constexpr unsigned long kIocCache = 0x80045380ul;
constexpr unsigned long kIocDmaInfo = 0x80045301ul;
constexpr unsigned long kIocRunCommand = 0xC0045300ul;
constexpr unsigned long kIocSuspendState = 0x800453F1ul;
constexpr unsigned long kIocInitDone = 0x000053FEul;

struct MemInfo {
    uint32_t base;
    uint32_t size;
    uint32_t secureBase;
    uint32_t secureSize;
    uint32_t tempSecureDataBase;
    uint32_t tempSecureDataSize;
};
static_assert(sizeof(MemInfo) == 24, "memory info: six words");

// SE process record: one per process.
struct ProcessRecord {
    uint32_t bInit;
    uint32_t numOfOpenedCtx;
    uint32_t pid;
    int32_t devFd;
    int32_t cacheFd;
    sem_t* pLockSema;
    VELD_HANDLE pShmem;
    struct SharedRecord* pSharedInfo;
    VELD_HANDLE pShmemSeStore;
    uint8_t* pSeStore;
    MemInfo memInfo;
    uint8_t* pBuffer;
    uint8_t* pCachedBuffer;
    uint8_t* pTzParm;
    uint32_t* pDMAInfo;
    uint32_t bufferAddr;
    uint32_t bufferLength;
};

struct SecureArea {
    uint32_t inUse;
    uint32_t base;
    uint32_t size;
};

constexpr int kOpenSlots = 8;

// The engine's own bookkeeping inside the shared record. Lock words are read and written
// atomically by every process.
struct Bookkeeping {
    uint32_t setup;           // 0 new, 1 being set up, 2 ready: the record is set up once
    uint32_t holderTid;       // the holder's thread; its pid is lockPid (-1 when free)
    uint32_t recursivePid;    // the thread that holds the lock recursively, 0 when none
    uint32_t recursiveTid;
    uint32_t recursiveDepth;
    uint32_t lockGeneration;  // counts acquisitions
    uint32_t reinitCount;     // re-initialisations after lost state
    uint32_t openPid[kOpenSlots];    // contexts open per process, for the dead-process clean-up
    uint32_t openCount[kOpenSlots];
    uint32_t storeInvalidCounted;  // the secure store's invalid data was counted this boot
};

// The shared record is 760 bytes on both word sizes; on 64-bit the current-context word
// widens, and the spare bookkeeping words shrink to keep the size.
constexpr size_t kBookkeepingWords = sizeof(void*) == 4 ? 34 : 32;

// SE shared record: named shared memory "veld-se-shmem", one per system.
struct SharedRecord {
    uint32_t bInit;
    uint32_t bInitSeStore;
    uint32_t bInitRPMB;
    uint32_t bCachedBuffer;
    uint32_t numOfOpenedCtx;
    uintptr_t pCurrentCtx;
    uint32_t currentPid;
    uint32_t numOfSeStoreData;
    uint32_t seStoreUsage;
    char seStorePath[256];
    uint8_t storeMask[256];
    SecureArea secureArea[4];
    union {
        Bookkeeping bk;
        uint32_t bookkeeping[kBookkeepingWords];
    };
    int32_t recursiveOwner;
    int32_t lockPid;
    int32_t pidLockSecureMem;
    uint32_t permanentLogPoint;
    uint32_t bSuspended;
    uint32_t resumeFlags;
    uint32_t bVerified;
};
static_assert(sizeof(Bookkeeping) <= kBookkeepingWords * 4, "bookkeeping fits");
static_assert(sizeof(SharedRecord) == kSharedBytes, "shared record: 760 bytes");
static_assert(offsetof(SharedRecord, seStorePath) == (sizeof(void*) == 4 ? 36 : 44), "store path");
static_assert(offsetof(SharedRecord, recursiveOwner) == kSharedBytes - 28, "lock words at the end");

// ---- lock (se_lock.cpp) ----

// Opens the semaphore and the shared record on first use in the process; 0 or -1.
int lockInit();
int seLock();
// SE_LOCK that gives up after timeoutMs (-1: never); 0 or -1.
int seLockWithin(long timeoutMs);
int seUnlock();
int seLockRecursive();
int seUnlockRecursive();
// True when the calling thread holds the lock (directly or recursively).
bool holdsLock();
// Releases the lock on behalf of `pid` when that process holds it and is gone; true when it
// did. Used by waiters and by the daemon's clean-up.
bool forceUnlockIfGone(uint32_t pid);
bool isProcessAlive(uint32_t pid);
// Closes this process's semaphore and shared record (detach).
void lockClose();
uint32_t currentTid();
// This process's id, asked of the kernel once (and again in a forked child).
uint32_t currentPid();

// ---- attachment and contexts (se_core.cpp) ----

ProcessRecord& processRecord();  // the record itself, attached or not
// The attached process record, attaching on first use; null on failure.
ProcessRecord* getProcessRecord();
int coreInitialize(const char* storePath);  // lock held
void detach();
void resetCurrent();
int cacheMaintenance(uint32_t address, uint32_t size, uint32_t operation);
int detectSuspendResume();
// Releases what a gone process left in the shared record (lock held).
void releaseProcess(uint32_t pid);
// Releases the resources of every process that has gone (lock held).
void releaseGoneProcesses();
// The daemon's clean-up for a process that closed the device; 0 or -1.
int cleanupDeadProcess(uint32_t pid);
int runDiagnostics(bool force);

}  // namespace veld::se

namespace veld::se {
// Takes the lock for the clean-up of `pid`, forcing it free first when that gone process
// holds it; 0 or -1 (se_lock.cpp).
int lockForCleanup(uint32_t pid);
// Log levels of the engine's own chatter (lock steps, sizes): off unless enabled.
constexpr uint32_t kTraceLevel = 5;
}  // namespace veld::se
