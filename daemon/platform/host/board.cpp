// The simulated board: the state that lives in the chip and its firmware on a television
// (registers, low-power mode, TE firmware, HDR monitor, OTP thread), kept in one shared-memory
// record per namespace so that the daemon, veldctl and tests see the same board.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "board.h"
#include "host_internal.h"
#include "seam.h"

namespace veld::host {
namespace {

struct BoardRecord {
    std::atomic<uint32_t> magic;
    pthread_mutex_t lock;  // process-shared, robust
    VELD_BOARD_STATE state;
    VELD_BOARD_REGISTER registers[VELD_BOARD_REGISTERS];
};

std::once_flag gOnce;
BoardRecord* gBoard = nullptr;

BoardRecord* mapBoard() {
    const std::string name = seam::ipcName(VELD_BOARD_REGION);
    bool creator = true;
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        creator = false;
        fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        VELD_HOST_LOG(1, "board %s: %s\n", name.c_str(), strerror(errno));
        return nullptr;
    }
    if (creator && ftruncate(fd, sizeof(BoardRecord)) != 0) {
        close(fd);
        return nullptr;
    }
    // Another process may still be sizing the record it just created.
    for (int i = 0; !creator && i < 1000; ++i) {
        struct stat st{};
        if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(BoardRecord))) break;
        usleep(1000);
    }
    void* address = mmap(nullptr, sizeof(BoardRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (address == MAP_FAILED) return nullptr;
    auto* board = static_cast<BoardRecord*>(address);
    if (creator) {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        pthread_mutex_init(&board->lock, &attr);
        pthread_mutexattr_destroy(&attr);
        board->magic.store(VELD_BOARD_MAGIC, std::memory_order_release);
    } else {
        for (int i = 0; i < 1000 && board->magic.load(std::memory_order_acquire) != VELD_BOARD_MAGIC; ++i)
            usleep(1000);
        if (board->magic.load() != VELD_BOARD_MAGIC) {
            munmap(address, sizeof(BoardRecord));
            return nullptr;
        }
    }
    return board;
}

BoardRecord* board() {
    std::call_once(gOnce, [] { gBoard = mapBoard(); });
    return gBoard;
}

class BoardLock {
public:
    explicit BoardLock(BoardRecord* b) : board_(b) {
        // A process killed while holding the lock leaves it "owner dead"; the state it guards
        // is a set of plain words, always consistent, so the next owner just carries on.
        if (pthread_mutex_lock(&board_->lock) == EOWNERDEAD) pthread_mutex_consistent(&board_->lock);
    }
    ~BoardLock() { pthread_mutex_unlock(&board_->lock); }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

private:
    BoardRecord* board_;
};

VELD_BOARD_REGISTER* findRegister(BoardRecord* b, uint32_t address) {
    for (uint32_t i = 0; i < b->state.registerCount; ++i)
        if (b->registers[i].address == address) return &b->registers[i];
    return nullptr;
}

}  // namespace

int32_t boardUpdate(const std::function<void(VELD_BOARD_STATE&)>& change) {
    BoardRecord* b = board();
    if (!b) return -1;
    BoardLock lock(b);
    change(b->state);
    return 0;
}

}  // namespace veld::host

using namespace veld::host;

extern "C" {

int32_t VELD_SYS_RegReadSimple(uint32_t physicalAddress, uint32_t* value) {
    BoardRecord* b = board();
    if (!b || !value) return -1;
    BoardLock lock(b);
    const VELD_BOARD_REGISTER* r = findRegister(b, physicalAddress);
    *value = r ? r->value : 0;  // registers never written read as 0
    ++b->state.registerReads;
    return 0;
}

int32_t VELD_SYS_RegWriteSimple(uint32_t physicalAddress, uint32_t value) {
    BoardRecord* b = board();
    if (!b) return -1;
    BoardLock lock(b);
    VELD_BOARD_REGISTER* r = findRegister(b, physicalAddress);
    if (!r) {
        if (b->state.registerCount >= VELD_BOARD_REGISTERS) {
            VELD_HOST_LOG(1, "board register file full, 0x%08x not written\n", physicalAddress);
            return -1;
        }
        r = &b->registers[b->state.registerCount++];
        r->address = physicalAddress;
    }
    r->value = value;
    ++b->state.registerWrites;
    return 0;
}

int32_t VELD_SYS_EnterLowPowerMode(void) {
    VELD_HOST_LOG(2, "entering low-power mode\n");
    return boardUpdate([](VELD_BOARD_STATE& s) {
        s.lowPower = 1;
        ++s.lowPowerEnters;
    });
}

int32_t VELD_SYS_ExitLowPowerMode(void) {
    VELD_HOST_LOG(2, "leaving low-power mode\n");
    return boardUpdate([](VELD_BOARD_STATE& s) {
        s.lowPower = 0;
        ++s.lowPowerExits;
    });
}

int32_t VELD_HOST_BoardSnapshot(VELD_BOARD_STATE* state, VELD_BOARD_REGISTER* registers,
                                uint32_t capacity) {
    BoardRecord* b = board();
    if (!b || !state) return -1;
    BoardLock lock(b);
    *state = b->state;
    if (registers) {
        const uint32_t n = b->state.registerCount < capacity ? b->state.registerCount : capacity;
        std::memcpy(registers, b->registers, n * sizeof(VELD_BOARD_REGISTER));
    }
    return 0;
}

}  // extern "C"
