// Replay-protected eMMC storage: initialisation with the key programming of a fresh part, the
// authenticated frame transfers (read counter, read block, write block) in direct and indirect
// mode, the block list in "se-rpmb-shmem" with its counts, find, print, update and erase, the
// daemon's side of an indirect transfer, and the exports of se_rpmb.h.
//
// The trusted world builds and checks every frame (trusted operation 0x0020 with a selector and
// the frame): 21 hands out a read's nonce, 19 completes a write with the counter and the MAC, 20
// checks a response, 0 accepts a counter, 1 releases the key while the part has none. A block
// read's response is checked with 23, whose answer also carries the nonce of this process's next
// block read: a run of single reads costs two round trips each (the part, the check) instead of
// three. A block address is checked before anything is sent.
#include "se_rpmb.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "se_daemon.h"
#include "se_device.h"
#include "se_hooks.h"
#include "se_log.h"
#include "se_rpmb_shared.h"

namespace veld::se {
namespace {

using rpmb::Frame;

constexpr uint32_t kRpmbOperation = 0x0020;
constexpr uint32_t kIocIndirect = 0x00005300;
enum Selector : uint32_t {
    kAcceptCounter = 0,
    kReleaseKey = 1,
    kBuildWrite = 19,
    kCheckResponse = 20,
    kStartRead = 21,
    kStartReadRun = 22,
    kCheckReadAndNext = 23,
};
// The trusted world's answer when it holds no nonce for this process's next read (it restarted).
constexpr uint32_t kNothingPending = 7;
// What the daemon is asked for, and the platform call it makes (indirect transfers).
enum Transfer : int { kTransferCounter = 0, kTransferRead = 1, kTransferWrite = 2 };

struct ProcessState {
    VELD_HANDLE handle = 0;
    RpmbShared* shared = nullptr;
    RpmbMode mode = RpmbMode::Unknown;
    uint32_t pid = 0;  // the process that decided the mode (a forked child decides again)
    // The nonce the trusted world handed out for this process's next block read.
    bool haveNextNonce = false;
    uint8_t nextNonce[16] = {};
};
ProcessState gState;
// The part's result code of the last block read that failed, -1 when the part did not answer
// or the trusted world refused the response.
int gLastReadResult = 0;

// The daemon maps the shared frame on its first indirect transfer.
VELD_HANDLE gDaemonHandle = 0;
RpmbShared* gDaemonShared = nullptr;

void wipe(void* data, size_t length) {
    volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) p[i] = 0;
}

RpmbShared* mapShared(VELD_HANDLE& handle) {
    handle = VELD_OSA_OpenMemory(kRpmbMemoryName, sizeof(RpmbShared));
    return static_cast<RpmbShared*>(handle ? VELD_OSA_GetMemory(handle) : nullptr);
}

// Maps the shared memory and decides the mode on this process's first use.
bool attach(ProcessRecord& p) {
    if (gState.shared && gState.pid == currentPid()) [[likely]]
        return true;
    if (!gState.shared) gState.shared = mapShared(gState.handle);
    if (!gState.shared) {
        SE_FAILED();
        return false;
    }
    gState.pid = currentPid();
    gState.haveNextNonce = false;  // the parent's, if this is a forked child
    if (seDevice::ioctl(p.devFd, kIocIndirect, nullptr) == 0) {
        SE_LOG(2, "Indirect Access\n");
        gState.mode = RpmbMode::Indirect;
    } else {
        gState.mode = RpmbMode::Direct;
    }
    return true;
}

// Trusted operation 0x0020 on a frame; Fail when the trusted world refuses it, with its answer
// in `answer` when asked.
St trusted(ProcessRecord& p, uint32_t selector, Frame& frame, uint32_t* answer = nullptr) {
    uint8_t argument[4 + sizeof(Frame)];
    std::memcpy(argument, &selector, 4);
    std::memcpy(argument + 4, &frame, sizeof frame);
    VELD_SE_TRUSTED_OP op{kRpmbOperation, 0, reinterpret_cast<uintptr_t>(argument), sizeof argument};
    const St st = trustedOperation(p, op);
    if (st != St::Ok) return st;
    if (answer) *answer = op.result;
    if (op.result != 0) {
        SE_LOG(1, "RPMB frame refused by the trusted world (selector %u): 0x%x\n", selector, op.result);
        return St::Fail;
    }
    std::memcpy(&frame, argument + 4, sizeof frame);
    return St::Ok;
}

// Sends the frame to the eMMC and puts the response in its place. Direct: the platform call's
// result, the response in `frame` whenever the part answered. Indirect: through the daemon;
// unless it answers "Done." nothing is copied back and the transfer fails.
int transfer(Transfer which, Frame& frame) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(&frame);
    if (gState.mode != RpmbMode::Indirect) {
        switch (which) {
        case kTransferCounter: return VELD_MMC_rpmb_read_writecounter(bytes);
        case kTransferRead: return VELD_MMC_rpmb_read_block(bytes);
        case kTransferWrite: return VELD_MMC_rpmb_write_block(bytes);
        }
        return -1;
    }
    std::memcpy(gState.shared->frame, bytes, sizeof frame);
    char request[kRelayTextBytes] = {};
    std::snprintf(request, sizeof request, "RPMB:%d", static_cast<int>(which));
    if (_SE_VELDD_01(request) != 0) {
        SE_FAILED();
        return -1;
    }
    if (std::strncmp(request, "Done.", 5) != 0) {
        SE_LOG(0, "%s\n", request);
        return -1;
    }
    std::memcpy(bytes, gState.shared->frame, sizeof frame);
    return 0;
}

Frame request(uint16_t type, uint16_t address) {
    Frame f{};
    rpmb::put16(f.type, type);
    rpmb::put16(f.address, address);
    rpmb::put16(f.blockCount, type == rpmb::kReadCounter ? 0 : 1);
    return f;
}

// Reads the counter frame: the nonce from the trusted world, the transfer. `partAnswer`
// receives the response when the part answered (direct mode), for the initialisation.
St counterFrame(ProcessRecord& p, Frame& frame, int& transferResult) {
    frame = request(rpmb::kReadCounter, 0);
    const St st = trusted(p, kStartRead, frame);
    if (st != St::Ok) return st;
    transferResult = transfer(kTransferCounter, frame);
    return St::Ok;
}

// The trusted world releases the key of a part that has none; it is programmed and wiped.
St programKey(ProcessRecord& p) {
    uint8_t argument[4 + rpmb::kKeyBytes] = {};
    const uint32_t selector = kReleaseKey;
    std::memcpy(argument, &selector, 4);
    VELD_SE_TRUSTED_OP op{kRpmbOperation, 0, reinterpret_cast<uintptr_t>(argument), sizeof argument};
    St st = trustedOperation(p, op);
    if (st != St::Ok || op.result != 0) {
        wipe(argument, sizeof argument);
        SE_FAILED();
        return st == St::Ok ? St::Fail : st;
    }
    const int result = VELD_MMC_rpmb_key_write(argument + 4, rpmb::kKeyBytes);
    wipe(argument, sizeof argument);
    permanentLog("%s(%d):(%d)\n", __func__, __LINE__, result);
    if (result != 0) {
        SE_FAILED();
        return St::Fail;
    }
    SE_LOG(2, "<!> RPMB key programmed\n");
    return St::Ok;
}

bool addressValid(uint32_t address) {
    if (address < kRpmbBlocks) return true;
    SE_LOG(0, "RPMB block address %u is outside the %u blocks\n", address, kRpmbBlocks);
    return false;
}

// The initialisation again when a restore asked for it (`_CheckAndReInitRPMB`). Writes ask
// the driver about a suspend first; reads skip that request, which would cost them a quarter
// of their time, and rely on the state the last write or initialisation saw.
St checkAndReinit(ProcessRecord& p, bool detectSuspend) {
    if (detectSuspend) detectSuspendResume();
    if (p.pSharedInfo->bInitRPMB != 0 && attach(p)) return St::Ok;
    SE_LOG(2, "Re-Initialize\n");
    return rpmbInit(p);
}

void recount(RpmbShared& s) {
    uint32_t used = 0, errors = 0;
    for (const auto& header : s.list) {
        if (header[0] != '!') continue;
        if (header[1] == '+') ++used;
        else if (header[1] == 'E') ++errors;
    }
    s.numOfUsedBlock = used;
    s.numOfErrorBlock = errors;
}

St readBlock(ProcessRecord& p, uint32_t address, uint8_t* data, const uint8_t* runNonce);

// Reads one block into the list: its first 64 bytes, or "!E" when it cannot be read. With
// `runNonce` the block is one of a run of reads the trusted world prepared.
St refreshEntry(ProcessRecord& p, uint32_t address, const uint8_t* runNonce = nullptr) {
    uint8_t data[rpmb::kBlockBytes];
    uint8_t* header = gState.shared->list[address];
    const St st = readBlock(p, address, data, runNonce);
    if (st == St::Lost) return st;
    if (st == St::Ok) {
        std::memcpy(header, data, kRpmbHeaderBytes);
        return St::Ok;
    }
    SE_LOG(0, "RPMB %d : Read failed(%d)!\n", static_cast<int>(address), gLastReadResult);
    std::memset(header, 0, kRpmbHeaderBytes);
    header[0] = '!';
    header[1] = 'E';
    return St::Fail;
}

// The block list (`_RPMB_InitList`), read once; every block is read with the lock held.
St ensureList(ProcessRecord& p) {
    St st = checkAndReinit(p, true);
    if (st != St::Ok) return st;
    RpmbShared& s = *gState.shared;
    if (s.listValid == 1) return St::Ok;
    std::memset(s.list, 0, sizeof s.list);
    s.numOfUsedBlock = s.numOfErrorBlock = 0;
    // One nonce for the run of all blocks: two round trips a block instead of three.
    Frame run = request(rpmb::kRead, 0);
    rpmb::put16(run.blockCount, static_cast<uint16_t>(kRpmbBlocks));
    if ((st = trusted(p, kStartReadRun, run)) != St::Ok) return st;
    for (uint32_t address = 0; address < kRpmbBlocks; ++address)
        if ((st = refreshEntry(p, address, run.nonce)) == St::Lost) return st;
    recount(s);
    s.listValid = 1;
    return St::Ok;
}

bool inUse(const uint8_t* header) { return header[0] == '!' && header[1] == '+'; }

int32_t findBlock(const uint8_t* header) {
    const RpmbShared& s = *gState.shared;
    for (uint32_t address = 0; address < kRpmbBlocks; ++address) {
        const uint8_t* h = s.list[address];
        if (header ? std::memcmp(h, header, kRpmbHeaderBytes) == 0
                   : !inUse(h) && !(h[0] == '!' && h[1] == 'E'))
            return static_cast<int32_t>(address);
    }
    return -1;
}

void printList() {
    const RpmbShared& s = *gState.shared;
    for (uint32_t address = 0; address < kRpmbBlocks; ++address) {
        const uint8_t* h = s.list[address];
        if (h[0] != '!') continue;
        char text[kRpmbHeaderBytes];
        for (uint32_t i = 1; i < kRpmbHeaderBytes; ++i)
            text[i - 1] = h[i] >= 32 && h[i] < 127 ? static_cast<char>(h[i]) : '.';
        text[kRpmbHeaderBytes - 1] = '\0';
        std::printf("%04x : %s\n", address, text);
    }
    std::printf("\nnumOfUsedBlock = %d, numOfErrorBlock = %d\n", static_cast<int>(s.numOfUsedBlock),
                static_cast<int>(s.numOfErrorBlock));
    std::printf("SE_RPMB_START_BLOCK_ADDR = %d, SE_RPMB_MAX_NUM_OF_BLOCKS = %d\n",
                SE_RPMB_START_BLOCK_ADDR, SE_RPMB_MAX_NUM_OF_BLOCKS);
    std::fflush(stdout);
}

// Whether a block's header names `name` (its first `length` bytes).
bool named(const uint8_t* header, const char* name, uint32_t length) {
    if (!inUse(header)) return false;
    if (!name) return true;
    const uint32_t room = kRpmbHeaderBytes - 2;
    return std::memcmp(header + 2, name, length) == 0 && (length == room || header[2 + length] == 0);
}

}  // namespace

RpmbMode rpmbMode() { return gState.mode; }
RpmbShared* rpmbShared() { return gState.shared; }

void rpmbClose() {
    if (gState.handle) VELD_OSA_CloseMemory(gState.handle);
    gState = ProcessState{};
}

St rpmbInit(ProcessRecord& p) {
    if (runDiagnostics(false) != 0) {
        SE_FAILED();
        return St::Fail;
    }
    if (!attach(p)) return St::Fail;
    gState.haveNextNonce = false;  // a trusted world that was initialised again forgot it
    gState.shared->listValid = 0;
    Frame frame;
    int result = -1;
    St st = counterFrame(p, frame, result);
    if (st != St::Ok) return st;
    if (result == 0) {
        if ((st = trusted(p, kAcceptCounter, frame)) != St::Ok) return st;
    } else if (gState.mode == RpmbMode::Direct && rpmb::typeOf(frame) == rpmb::responseOf(rpmb::kReadCounter) &&
               rpmb::resultOf(frame) == rpmb::kKeyNotProgrammed) {
        // Only a part that says so has no key: any other failure to read the counter is one.
        if ((st = programKey(p)) != St::Ok) return st;
        // The part now answers under the key; the trusted world learns its counter.
        if ((st = counterFrame(p, frame, result)) != St::Ok) return st;
        if (result != 0 || (st = trusted(p, kAcceptCounter, frame)) != St::Ok) {
            SE_FAILED();
            return st == St::Ok ? St::Fail : st;
        }
    } else {
        SE_LOG(0, "RPMB write counter unreadable (result 0x%x)\n", rpmb::resultOf(frame));
        return St::Fail;
    }
    p.pSharedInfo->bInitRPMB = 1;
    return St::Ok;
}

St rpmbReadCounter(ProcessRecord& p, uint32_t& counter) {
    Frame frame;
    int result = -1;
    St st = counterFrame(p, frame, result);
    if (st != St::Ok) return st;
    if (result != 0) {
        SE_FAILED();
        return St::Fail;
    }
    if ((st = trusted(p, kAcceptCounter, frame)) != St::Ok) return st;
    counter = rpmb::counterOf(frame);
    return St::Ok;
}

namespace {

St readBlock(ProcessRecord& p, uint32_t address, uint8_t* data, const uint8_t* runNonce) {
    if (!data || !addressValid(address)) return St::Fail;
    for (int attempt = 0;; ++attempt) {
        Frame frame = request(rpmb::kRead, static_cast<uint16_t>(address));
        St st = St::Ok;
        // The nonce: the run's, the one handed out with the last check, or a fresh one.
        const bool handedOut = !runNonce && gState.haveNextNonce;
        if (runNonce) std::memcpy(frame.nonce, runNonce, sizeof frame.nonce);
        else if (handedOut) std::memcpy(frame.nonce, gState.nextNonce, sizeof frame.nonce);
        else if ((st = trusted(p, kStartRead, frame)) != St::Ok) return st;
        gState.haveNextNonce = false;  // each nonce serves one read
        gLastReadResult = -1;
        if (transfer(kTransferRead, frame) != 0) {
            if (rpmb::typeOf(frame) == rpmb::responseOf(rpmb::kRead)) gLastReadResult = rpmb::resultOf(frame);
            return St::Fail;
        }
        if (runNonce) {
            if ((st = trusted(p, kCheckResponse, frame)) != St::Ok) return st;
        } else {
            // The address asked for travels in the stuff bytes, which the MAC does not cover.
            rpmb::put16(frame.stuff, static_cast<uint16_t>(address));
            uint32_t answer = 0;
            st = trusted(p, kCheckReadAndNext, frame, &answer);
            // A trusted world that no longer knows the nonce it handed out (it restarted) is
            // asked for a fresh one, once; a response it refuses is never retried.
            if (st == St::Fail && handedOut && answer == kNothingPending && attempt == 0) continue;
            if (st != St::Ok) return st;
            std::memcpy(gState.nextNonce, frame.nonce, sizeof gState.nextNonce);
            gState.haveNextNonce = true;
        }
        gLastReadResult = 0;
        std::memcpy(data, frame.data, rpmb::kBlockBytes);
        return St::Ok;
    }
}

}  // namespace

St rpmbReadBlock(ProcessRecord& p, uint32_t address, uint8_t* data) {
    return readBlock(p, address, data, nullptr);
}

St rpmbWriteBlock(ProcessRecord& p, uint32_t address, const uint8_t* data) {
    if (!addressValid(address)) return St::Fail;
    uint32_t counter = 0;
    St st = rpmbReadCounter(p, counter);
    if (st != St::Ok) return st;
    Frame frame = request(rpmb::kWrite, static_cast<uint16_t>(address));
    // The data goes into the frame before the trusted world signs it.
    if (data) std::memcpy(frame.data, data, rpmb::kBlockBytes);
    if ((st = trusted(p, kBuildWrite, frame)) != St::Ok) return st;
    if (transfer(kTransferWrite, frame) != 0) {
        SE_LOG(0, "RPMB write of block %u failed (result 0x%x)\n", address, rpmb::resultOf(frame));
        return St::Fail;
    }
    if ((st = trusted(p, kCheckResponse, frame)) != St::Ok) return st;
    // A list that has been read follows the block.
    if (RpmbShared* s = gState.shared; s && s->listValid == 1) {
        if (data) std::memcpy(s->list[address], data, kRpmbHeaderBytes);
        else std::memset(s->list[address], 0, kRpmbHeaderBytes);
        recount(*s);
    }
    return St::Ok;
}

int rpmbInitialize(ProcessRecord& p) {
    return runBounded(p, [](ProcessRecord& q) { return rpmbInit(q); }) == St::Ok ? 0 : -1;
}

int rpmbDaemonCommand(int number) { return _SE_RBCMD(number); }

}  // namespace veld::se

using namespace veld::se;

extern "C" {

int32_t _SE_RB000(void) {
    return SE_ENGINE_CALL([](ProcessRecord& p) { return rpmbInit(p); });
}

int32_t _SE_RB001(uint32_t* counter) {
    if (!counter) return -1;
    uint32_t value = 0;
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        const St st = checkAndReinit(p, false);
        return st == St::Ok ? rpmbReadCounter(p, value) : st;
    });
    if (result == 0) *counter = value;
    return result;
}

int32_t _SE_RB002(uint32_t address, uint8_t data[256]) {
    if (!data || !addressValid(address)) return -1;
    uint8_t block[veld::rpmb::kBlockBytes];
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        const St st = checkAndReinit(p, false);
        return st == St::Ok ? rpmbReadBlock(p, address, block) : st;
    });
    if (result == 0) std::memcpy(data, block, sizeof block);
    return result;
}

int32_t _SE_RB003(uint32_t address, const uint8_t* data) {
    if (!addressValid(address)) return -1;
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        const St st = checkAndReinit(p, true);
        return st == St::Ok ? rpmbWriteBlock(p, address, data) : st;
    });
}

int32_t _SE_RB006(const char* name, uint32_t length) {
    if (name && (length == 0 || length > kRpmbHeaderBytes - 2)) {
        SE_FAILED();
        return -1;
    }
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        St st = ensureList(p);
        for (uint32_t address = 0; st == St::Ok && address < kRpmbBlocks; ++address)
            if (named(gState.shared->list[address], name, length)) st = rpmbWriteBlock(p, address, nullptr);
        return st;
    });
}

int32_t _SE_RB100(void) {
    return SE_ENGINE_CALL([](ProcessRecord& p) {
        const St st = ensureList(p);
        if (st == St::Ok) printList();
        return st;
    });
}

int32_t _SE_RB101(uint32_t address) {
    if (!addressValid(address)) return -1;
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        St st = ensureList(p);
        if (st != St::Ok) return st;
        st = refreshEntry(p, address);
        recount(*gState.shared);
        return st;
    });
}

int32_t _SE_RB102(const uint8_t* header) {
    int32_t found = -1;
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        const St st = ensureList(p);
        if (st == St::Ok) found = findBlock(header);
        return st;
    });
    return result == 0 ? found : -1;
}

int32_t _SE_RBCMD(int32_t command) {
    // Runs in the daemon without the lock: the requester holds it while it waits.
    if (!gDaemonShared) gDaemonShared = mapShared(gDaemonHandle);
    if (!gDaemonShared) {
        SE_FAILED();
        return -1;
    }
    uint8_t* frame = gDaemonShared->frame;
    int32_t result;
    switch (command) {
    case kTransferCounter: result = VELD_MMC_rpmb_read_writecounter(frame); break;
    case kTransferRead: result = VELD_MMC_rpmb_read_block(frame); break;
    case kTransferWrite: result = VELD_MMC_rpmb_write_block(frame); break;
    default:
        SE_LOG(0, "unknown RPMB command %d\n", static_cast<int>(command));
        return -1;
    }
    if (result != 0) SE_LOG(0, "%d - %d\n", static_cast<int>(command), static_cast<int>(result));
    return result == 0 ? 0 : -1;
}

int32_t VELD_SE_CheckRPMBPartition(void) {
    uint32_t counter = 0;
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        const St st = checkAndReinit(p, true);
        return st == St::Ok ? rpmbReadCounter(p, counter) : st;
    });
}

}  // extern "C"
