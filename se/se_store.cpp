// The secure store on flash: finding its partitions, the masked main and backup copies, the
// count string, initialisation with repair of a broken copy, the update that seals the working
// copy and writes both copies with read-back, and the record operations on the working copy.
// Exports VELD_SE_SS004, SS006, SS008, SS010 and SS011.
//
// Power loss: an update writes the whole main copy before it touches the backup, and the
// initialisation takes a copy only when its code verifies. A cut while main is written leaves
// the old backup, which the next start restores into main; a cut while the backup is written
// leaves the new main, which the next start copies into the backup.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "se_hooks.h"
#include "se_log.h"
#include "se_secure_store.h"
#include "seam.h"

namespace veld::se {
namespace {

constexpr int kRetries = 10;
constexpr uint32_t kBlankProbe = 512;
constexpr int kBlankPasses = 10;
constexpr const char* kIllegalChange = "Illegal change detected!";

void pause10ms() {
    timespec ts{0, 10'000'000};
    ::nanosleep(&ts, nullptr);
}

int pidOf(const ProcessRecord& p) { return static_cast<int>(p.pid); }

void ioFailed(const char* file) {
    const int e = errno;
    SE_LOG(0, "%s:%s(%d)\n", sourceName(file), std::strerror(e), e);
}
#define SE_IO_FAILED() ioFailed(__FILE__)

// A descriptor closed when it goes out of scope.
class File {
public:
    explicit File(int fd) : fd_(fd) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// Reads `length` bytes at `offset`; what lies beyond the end of a plain file reads as erased
// flash (0xFF), so that a new empty file is a blank store.
bool readAt(int fd, uint8_t* out, uint32_t offset, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out + done, length - done, off_t(offset) + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SE_IO_FAILED();
            return false;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    std::memset(out + done, 0xFF, length - done);
    return true;
}

bool writeAt(int fd, const uint8_t* data, uint32_t offset, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, data + done, length - done, off_t(offset) + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SE_IO_FAILED();
            return false;
        }
        done += static_cast<uint32_t>(n);
    }
    return true;
}

void applyMask(uint8_t* data, uint32_t length, const uint8_t mask[256]) {
    for (uint32_t i = 0; i < length; ++i) data[i] ^= mask[i & 0xFF];
}

// The store's path: the one given at first attachment, else the "sestore" partition's device,
// recorded for the other processes.
const char* storePath(ProcessRecord& p) {
    SharedRecord& s = *p.pSharedInfo;
    if (s.seStorePath[0]) return s.seStorePath;
    const std::string device = partitionDevice("sestore");
    if (device.empty()) {
        SE_LOG(0, "Can't find sestore partition!\n");
        return nullptr;
    }
    if (device.size() >= sizeof s.seStorePath) {
        SE_LOG(0, "Too large SeStorePath!\n");
        return nullptr;
    }
    std::memcpy(s.seStorePath, device.c_str(), device.size() + 1);
    return s.seStorePath;
}

// Opens the store read-write, retrying for a while (a device may appear late at boot). A plain
// file named by the caller is created when missing; a device file never is.
int openStore(ProcessRecord& p) {
    const char* path = storePath(p);
    if (!path) return -1;
    const bool device = std::strncmp(path, seam::path("/dev/").c_str(), seam::path("/dev/").size()) == 0;
    for (int attempt = 0;; ++attempt) {
        const int fd = ::open(path, O_RDWR | O_CLOEXEC | (device ? 0 : O_CREAT), 0600);
        if (fd >= 0) return fd;
        SE_LOG(0, "%s - %s\n", path, std::strerror(errno));
        if (attempt == kRetries) {
            SE_LOG(0, "Can't use secure store.\n");
            return -1;
        }
        pause10ms();
        SE_LOG(1, "Retry open(%d)\n", attempt + 1);
    }
}

bool uniform(const uint8_t* data, uint32_t length) {
    for (uint32_t i = 1; i < length; ++i)
        if (data[i] != data[0]) return false;
    return true;
}

// Blank when, in every pass, the first 512 bytes of each copy are one repeated value.
bool checkBlank(ProcessRecord& p, int fd) {
    uint8_t main[kBlankProbe], backup[kBlankProbe];
    for (int pass = 0; pass < kBlankPasses; ++pass) {
        for (uint32_t i = 0; i < kBlankProbe; ++i) main[i] = backup[i] = static_cast<uint8_t>(i);
        if (!readAt(fd, main, kMainOffset, kBlankProbe) || !readAt(fd, backup, kBackupOffset, kBlankProbe))
            return false;
        if (!uniform(main, kBlankProbe) || !uniform(backup, kBlankProbe)) {
            if (pass > 0) permanentLog("%s(%d) : (%d)Not blank(%d)\n", __func__, __LINE__, pidOf(p), pass);
            return false;
        }
    }
    return true;
}

// Reads, bumps and writes back the count string.
bool updateCountString(int fd, bool init, bool invalid) {
    uint8_t text[8];
    if (!readAt(fd, text, kCountOffset, sizeof text)) return false;
    bumpCountString(text, init, invalid);
    return writeAt(fd, text, kCountOffset, sizeof text) && ::fsync(fd) == 0;
}

// Reads a copy into `image` and unmasks it.
bool readCopy(int fd, uint8_t* image, uint32_t offset, const uint8_t mask[256]) {
    if (!readAt(fd, image, offset, kImageBytes)) return false;
    applyMask(image, kImageBytes, mask);
    return true;
}

// A copy is usable when its structure holds and the trusted world confirms its code.
St copyValid(ProcessRecord& p, const uint8_t* image, bool& valid) {
    uint32_t used = 0;
    valid = false;
    if (!imageStructureValid(std::span(image, kImageBytes), used)) return St::Ok;
    return imageCodeValid(p, image, used, valid);
}

// Stops the store after the working copy was found changed behind the engine's back.
void illegalChange(ProcessRecord& p) {
    p.pSharedInfo->bInitSeStore = 0;
    SE_LOG(0, "%s : Diable Secure Store\n", kIllegalChange);
    permanentLog("%s(%d):(%d)%s\n", __func__, __LINE__, pidOf(p), kIllegalChange);
}

// Writes the working copy to main or backup: masked on a scratch copy (the shared working copy
// is never masked), synced, read back and compared, retried ten times.
St writeCopy(ProcessRecord& p, bool backup) {
    const uint8_t* image = p.pSeStore;
    bool valid = false;
    St st = copyValid(p, image, valid);
    if (st == St::Lost) return st;
    if (!valid) {
        illegalChange(p);
        return St::Fail;
    }
    const uint32_t used = imageUsage(image);
    uint8_t mask[256];
    if ((st = makeMask(p, mask)) != St::Ok) return st;
    std::vector<uint8_t> scratch(image, image + used), back(used);
    applyMask(scratch.data(), used, mask);
    const uint32_t offset = backup ? kBackupOffset : kMainOffset;
    const char* which = backup ? "backup" : "main";
    for (int attempt = 0;; ++attempt) {
        bool ok;
        {
            File f(openStore(p));
            ok = f.ok() && writeAt(f.fd(), scratch.data(), offset, used) && ::fsync(f.fd()) == 0;
        }
        if (ok) {
            File f(openStore(p));
            ok = f.ok() && readAt(f.fd(), back.data(), offset, used) &&
                 std::memcmp(back.data(), scratch.data(), used) == 0;
        }
        if (ok) return St::Ok;
        if (attempt == kRetries) {
            permanentLog("%s(%d):(%d)Write Error : %s\n", __func__, __LINE__, pidOf(p), which);
            return St::Fail;
        }
        pause10ms();
        SE_LOG(1, "Retry write(%d) : %s\n", attempt + 1, which);
    }
}

// A fresh seed and code over the working copy's directory and data.
St seal(ProcessRecord& p) {
    uint8_t* image = p.pSeStore;
    uint32_t used = 0;
    if (imageCount(image) == 0) {
        SE_LOG(0, "Can't not perform GenHMAC\n");
        return St::Fail;
    }
    if (!imageStructureValid(std::span(image, kImageBytes), used)) {
        illegalChange(p);
        return St::Fail;
    }
    return computeCode(p, image + kSeedOffset, true,
                       std::span(image + kHeaderBytes, used - kHeaderBytes), image + kCodeOffset);
}

void loaded(ProcessRecord& p) {
    SharedRecord& s = *p.pSharedInfo;
    s.numOfSeStoreData = imageCount(p.pSeStore);
    s.seStoreUsage = imageUsage(p.pSeStore);
    s.bInitSeStore = 1;
}

// The store's own marker is never replaced or deleted, whoever names it (a caller or "sedata").
bool namesMarker(ProcessRecord& p, const char* name) {
    const int marker = findRecord(p.pSeStore, kInitRecord).index;
    if (marker < 0 || findRecord(p.pSeStore, name).index != marker) return false;
    SE_LOG(0, "record name %s refused\n", name);
    return true;
}

// A rebuilt image becomes the working copy.
void commit(ProcessRecord& p, const uint8_t* image) {
    std::memcpy(p.pSeStore, image, imageUsage(image));
    loaded(p);
}

// Both copies are unusable: counted once per boot in the count string and the permanent log.
St invalidData(ProcessRecord& p, int fd) {
    SharedRecord& s = *p.pSharedInfo;
    std::memset(p.pSeStore, 0, kImageBytes);
    if (!s.bk.storeInvalidCounted) {
        s.bk.storeInvalidCounted = 1;
        updateCountString(fd, false, true);
        permanentLog("%s(%d):(%d)Invalid Data!\n", __func__, __LINE__, pidOf(p));
    }
    SE_LOG(0, "%d : Can't use Secure Store by invalid data!\n", pidOf(p));
    return St::Fail;
}

}  // namespace

int findPartition(const char* name) {
    FILE* f = std::fopen(seam::path("/proc/partinfo").c_str(), "r");
    if (!f) return -1;
    char line[128];
    int number = -1;
    while (number < 0 && std::fgets(line, sizeof line, f)) {
        line[std::strcspn(line, "\n")] = '\0';
        // The name must be a whole field (quotes allowed): "sedata" is not "sedata_backup".
        bool named = false;
        for (char* save = nullptr, *field = strtok_r(line + std::strcspn(line, " \t"), " \t\"", &save);
             field; field = strtok_r(nullptr, " \t\"", &save))
            named = named || std::strcmp(field, name) == 0;
        int n = 0;
        if (named && std::sscanf(line, "part%d:", &n) == 1 && n >= 1 && n <= 100) number = n;
    }
    std::fclose(f);
    return number;
}

std::string partitionDevice(const char* name) {
    const int number = findPartition(name);
    if (number < 0) return {};
    for (const char* pattern : {"/dev/mmcblk0p%d", "/dev/block/mmcblk0p%d"}) {
        char device[64];
        std::snprintf(device, sizeof device, pattern, number);
        const std::string path = seam::path(device);
        if (::access(path.c_str(), F_OK) == 0) return path;
    }
    return {};
}

St initializeStore(ProcessRecord& p) {
    SharedRecord& s = *p.pSharedInfo;
    uint8_t* work = p.pSeStore;
    s.bInitSeStore = 0;
    std::memset(work, 0, kImageBytes);
    File f(openStore(p));
    if (!f.ok()) return St::Fail;
    uint8_t mask[256];
    St st = makeMask(p, mask);
    if (st != St::Ok) return st;

    bool writeMain = true, writeBackup = true;
    if (checkBlank(p, f.fd())) {
        if (!updateCountString(f.fd(), true, false)) return St::Fail;
        permanentLog("%s(%d):(%d)Init\n", __func__, __LINE__, pidOf(p));
        freshImage(work);
        if ((st = seal(p)) != St::Ok) return st;
    } else {
        bool valid = false;
        if (!readCopy(f.fd(), work, kMainOffset, mask)) return St::Fail;
        if ((st = copyValid(p, work, valid)) != St::Ok) return st;
        if (valid) {
            // Without memory for the comparison the backup is rewritten from the valid main.
            std::unique_ptr<uint8_t[]> backup(new (std::nothrow) uint8_t[kImageBytes]);
            if (!backup) {
                SE_LOG(1, "%s: Not enough memory - force update Backup\n", __func__);
            } else {
                if (!readCopy(f.fd(), backup.get(), kBackupOffset, mask)) return St::Fail;
                if (std::memcmp(backup.get(), work, imageUsage(work)) == 0) {
                    loaded(p);
                    return St::Ok;
                }
                SE_LOG(1, "Backup is broken! Restoring...\n");
            }
            writeMain = false;
        } else {
            SE_LOG(1, "Main is broken! Restoring...\n");
            if (!readCopy(f.fd(), work, kBackupOffset, mask)) return St::Fail;
            if ((st = copyValid(p, work, valid)) != St::Ok) return st;
            if (!valid) return invalidData(p, f.fd());
            // The backup's code is valid as it stands: main gets it unsealed.
            writeBackup = false;
        }
    }
    const St mainSt = writeMain ? writeCopy(p, false) : St::Ok;
    if (mainSt == St::Lost) return mainSt;
    const St backupSt = writeBackup && mainSt == St::Ok ? writeCopy(p, true) : St::Ok;
    if (backupSt == St::Lost) return backupSt;
    if (mainSt != St::Ok || backupSt != St::Ok) {
        permanentLog("%s(%d):(%d)Update(%d:%d:%d) Error!\n", __func__, __LINE__, pidOf(p),
                     writeMain ? 1 : 0, writeBackup ? 1 : 0, mainSt == St::Ok ? 0 : 1);
        SE_LOG(0, "Can't use Secure Store by IO error!\n");
        s.bInitSeStore = 0;
        return St::Fail;
    }
    loaded(p);
    return St::Ok;
}

St checkAndReinit(ProcessRecord& p) {
    detectSuspendResume();
    SharedRecord& s = *p.pSharedInfo;
    uint32_t used = 0;
    // The working copy is writable by every process: a broken structure is reloaded from flash
    // before any record is looked up in it.
    if (s.bInitSeStore == 1 && !imageStructureValid(std::span(p.pSeStore, kImageBytes), used))
        illegalChange(p);
    if (s.bInitSeStore == 1) return St::Ok;
    SE_LOG(2, "Re-Initialize\n");
    return initializeStore(p);
}

St writeStoreRecord(ProcessRecord& p, const char* name, std::span<const uint8_t> stored) {
    if (namesMarker(p, name)) return St::Fail;
    std::vector<uint8_t> image(kImageBytes);
    const Rebuild result = rebuildImage(p.pSeStore, name, stored, false, image.data());
    if (result == Rebuild::TooMany) SE_LOG(0, "the store holds %u records already\n", kMaxRecords);
    if (result != Rebuild::Ok) return St::Fail;
    commit(p, image.data());
    permanentLog("%s(%d):W:(%d)%s\n", __func__, __LINE__, pidOf(p), name);
    return St::Ok;
}

St deleteStoreRecord(ProcessRecord& p, const char* name) {
    if (namesMarker(p, name)) return St::Fail;
    std::vector<uint8_t> image(kImageBytes);
    if (rebuildImage(p.pSeStore, name, {}, true, image.data()) != Rebuild::Ok) {
        SE_LOG(1, "%s(%s)\n", "Not found!", name);
        return St::Fail;
    }
    commit(p, image.data());
    permanentLog("%s(%d):D:(%d)%s\n", __func__, __LINE__, pidOf(p), name);
    return St::Ok;
}

St updateStore(ProcessRecord& p) {
    St st = checkAndReinit(p);
    if (st == St::Ok) st = seal(p);
    if (st == St::Ok) st = writeCopy(p, false);
    if (st == St::Ok) st = writeCopy(p, true);
    return st;
}

int storeInitialize(ProcessRecord& p) {
    return runBounded(p, [](ProcessRecord& q) { return initializeStore(q); }) == St::Ok ? 0 : -1;
}

int storeDataInitialize(ProcessRecord& p) {
    return runBounded(p, [](ProcessRecord& q) { return importData(q, nullptr); }) == St::Ok ? 0 : -1;
}

}  // namespace veld::se

using namespace veld::se;

namespace {

// A record name callers may use: not empty, not the store's own marker.
bool callerName(const char* name) {
    return name && *name && std::strcmp(name, kInitRecord) != 0;
}

// The named record in the working copy; "Not found!" when absent.
St lookup(ProcessRecord& p, const char* name, Found& found) {
    const St st = checkAndReinit(p);
    if (st != St::Ok) return st;
    found = findRecord(p.pSeStore, name);
    if (found.index < 0) {
        SE_LOG(1, "%s(%s)\n", "Not found!", name);
        return St::Fail;
    }
    if (!storedLengthValid(found.length)) {
        SE_LOG(0, "record %s: stored length %u refused\n", name, found.length);
        return St::Fail;
    }
    return St::Ok;
}

}  // namespace

extern "C" {

int32_t VELD_SE_SS004(const char* name) {
    if (!callerName(name)) {
        SE_FAILED();
        return -1;
    }
    uint32_t length = 0;
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        Found found;
        const St st = lookup(p, name, found);
        length = found.length - kRecordOverhead;
        return st;
    });
    return result == 0 ? static_cast<int32_t>(length) : -1;
}

int32_t VELD_SE_SS006(const char* name, VELD_SE_SS_RECORD* record) {
    if (!callerName(name)) {
        SE_FAILED();
        return -1;
    }
    return readStoredRecord(record, [&](ProcessRecord& p, std::vector<uint8_t>& stored) {
        Found found;
        const St st = lookup(p, name, found);
        if (st == St::Ok) stored.assign(p.pSeStore + found.offset, p.pSeStore + found.offset + found.length);
        return st;
    });
}

int32_t VELD_SE_SS008(const char* name, const VELD_SE_SS_RECORD* record) {
    if (!callerName(name) || !record || (record->length && !record->pData) ||
        record->length > kMaxStoredLength || !storedLengthValid(record->length + kRecordOverhead)) {
        SE_FAILED();
        return -1;
    }
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        St st = checkAndReinit(p);
        std::vector<uint8_t> stored;
        if (st == St::Ok)
            st = packRecord(p, record->header, reinterpret_cast<const uint8_t*>(record->pData),
                            record->length, stored);
        return st == St::Ok ? writeStoreRecord(p, name, stored) : st;
    });
}

int32_t VELD_SE_SS010(const char* name) {
    if (!callerName(name)) {
        SE_FAILED();
        return -1;
    }
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        const St st = checkAndReinit(p);
        return st == St::Ok ? deleteStoreRecord(p, name) : st;
    });
}

int32_t VELD_SE_SS011(void) {
    return SE_ENGINE_CALL([](ProcessRecord& p) { return updateStore(p); });
}

}  // extern "C"

namespace veld::se {

// The debug shell's calls: the exported operations, and a rewrite of chosen copies from the
// working copy as it stands.
int storeDeleteRecord(const char* name) { return VELD_SE_SS010(name); }

int storeUpdate() { return VELD_SE_SS011(); }

int storeRewrite(bool main, bool backup) {
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        St st = checkAndReinit(p);
        if (st == St::Ok && main) st = writeCopy(p, false);
        if (st == St::Ok && backup) st = writeCopy(p, true);
        return st;
    });
}

}  // namespace veld::se
