// The power cut between a test program and the C library's writes (see power_cut.h). The
// program's own pwrite and write take the place of the C library's; unarmed they only pass the
// call on.
#include "power_cut.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace veld::sim {
namespace {

using PwriteFn = ssize_t (*)(int, const void*, size_t, off_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);

std::atomic<bool> gArmed{false};
std::mutex gMutex;
dev_t gDevice = 0;
ino_t gInode = 0;
long gBudget = 0;  // blocks still let through; -1 without limit
long gWritten = 0;
bool gCut = false;

PwriteFn realPwrite() {
    static PwriteFn fn = reinterpret_cast<PwriteFn>(::dlsym(RTLD_NEXT, "pwrite64"));
    return fn;
}
WriteFn realWrite() {
    static WriteFn fn = reinterpret_cast<WriteFn>(::dlsym(RTLD_NEXT, "write"));
    return fn;
}

bool armedFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == gDevice && st.st_ino == gInode;
}

// How many of `length` bytes at `offset` may reach the file; the rest is lost.
size_t allowance(off_t offset, size_t length) {
    size_t allowed = 0;
    while (allowed < length) {
        const off_t at = offset + static_cast<off_t>(allowed);
        const size_t piece = std::min<size_t>(length - allowed, kFlashBlock - at % kFlashBlock);
        if (gBudget == 0) {
            gCut = true;
            break;
        }
        if (gBudget > 0) --gBudget;
        ++gWritten;
        allowed += piece;
    }
    return allowed;
}

ssize_t cutWrite(int fd, const void* data, size_t length, off_t offset, bool positioned) {
    std::lock_guard lock(gMutex);
    const size_t allowed = allowance(offset, length);
    if (allowed > 0) {
        const ssize_t n = realPwrite()(fd, data, allowed, offset);
        if (n < 0) return n;
    }
    // The writer never learns: it goes on as if every byte had reached the file.
    if (!positioned) ::lseek(fd, offset + static_cast<off_t>(length), SEEK_SET);
    return static_cast<ssize_t>(length);
}

}  // namespace

void armPowerCut(const std::string& path, long blocks) {
    struct stat st {};
    std::lock_guard lock(gMutex);
    if (::stat(path.c_str(), &st) != 0) return;
    gDevice = st.st_dev;
    gInode = st.st_ino;
    gBudget = blocks;
    gWritten = 0;
    gCut = false;
    gArmed = true;
}

void disarmPowerCut() { gArmed = false; }

long blocksWritten() {
    std::lock_guard lock(gMutex);
    return gWritten;
}

bool powerWasCut() {
    std::lock_guard lock(gMutex);
    return gCut;
}

}  // namespace veld::sim

using namespace veld::sim;

extern "C" {

ssize_t pwrite64(int fd, const void* data, size_t length, off_t offset) {
    if (gArmed && armedFile(fd)) return cutWrite(fd, data, length, offset, true);
    return realPwrite()(fd, data, length, offset);
}

// With 64-bit file offsets on a 32-bit system the headers already name pwrite64 for pwrite.
#if defined(__LP64__) || !defined(__USE_FILE_OFFSET64)
ssize_t pwrite(int fd, const void* data, size_t length, off_t offset) {
    return pwrite64(fd, data, length, offset);
}
#endif

ssize_t write(int fd, const void* data, size_t length) {
    if (gArmed && armedFile(fd)) {
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        if (offset >= 0) return cutWrite(fd, data, length, offset, false);
    }
    return realWrite()(fd, data, length);
}

}  // extern "C"
