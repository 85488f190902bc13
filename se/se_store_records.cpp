// The secure store's records on the trusted world's side: codes over data and over the store
// image, protection of a caller's record, packing into stored record data, the store mask,
// records kept in files of their own, the trusted conversion and the import of the
// provisioning partition "sedata". Exports VELD_SE_SS000-SS003, SS005, SS007, SS009, SS012,
// SS013 and SE_CalcSecureStoreDataLength.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "se_hooks.h"
#include "se_log.h"
#include "se_secure_store.h"

namespace veld::se {
namespace {

// The code record's words: SHA-1 family index 4, HMAC-SHA-256 (9), the store's MAC key (7) and
// the seed's length (16).
constexpr uint32_t kCodeWords[4] = {4, 9, 7, kSeedBytes};
constexpr uint32_t kMaskKey = 4;       // block operation key: the store's mask key
constexpr uint32_t kLastRecordVector = 2;
// The store's key record: the vector of the mask's encryption under the mask key.
constexpr uint8_t kMaskRecord[16] = {'v', 'e', 'l', 'd', '-', 's', 'e', '-',
                                     's', 't', 'o', 'r', 'e', 'm', 's', 'k'};
constexpr uint32_t kDataMagicBytes = 2;
constexpr uint32_t kDataEraseBytes = 0x40000;
constexpr uint32_t kEraseBlock = 4096;
constexpr size_t kMaxTag = 32;

uint32_t roundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

// Seed and data placed back to back at the window's start, ready for the code record.
St codeSource(ProcessRecord& p, const uint8_t* seed, std::span<const uint8_t> data) {
    if (data.size() > p.bufferLength / 2) return St::Fail;
    if (copyIntoWindow(p, p.bufferAddr, seed, kSeedBytes) != 0 ||
        (!data.empty() &&
         copyIntoWindow(p, p.bufferAddr + kSeedBytes, data.data(), static_cast<uint32_t>(data.size())) != 0))
        return St::Fail;
    return St::Ok;
}

VELD_SE_HASH_REQUEST codeRequest(ProcessRecord& p, uint32_t length) {
    VELD_SE_HASH_REQUEST r{};
    r.word1 = kCodeWords[0];
    r.algorithm = kCodeWords[1];
    r.word3 = kCodeWords[2];
    r.word4 = kCodeWords[3];
    r.srcPhysical = 1;
    r.src = p.bufferAddr;
    r.length = kSeedBytes + length;
    return r;
}

// Conversion rows of the "sedata" import: the tag a record's data may begin with ("[tag]").
using Conversion = St (*)(ProcessRecord&, std::vector<uint8_t>&, VELD_SE_SS_RECORD&);

St protectConversion(ProcessRecord& p, std::vector<uint8_t>& data, VELD_SE_SS_RECORD& record) {
    record.length = static_cast<uint32_t>(data.size());
    record.pData = reinterpret_cast<uintptr_t>(data.data());
    return protectRecord(p, record.header, data.data(), record.length);
}

struct TagRow {
    const char* tag;
    Conversion conversion;
};
constexpr TagRow kTags[] = {{"DEFAULT", protectConversion}};

// The trusted conversion (operation 0x0000) of `in` into `out`; the result length.
St convert(ProcessRecord& p, const uint8_t* in, uint32_t length, std::vector<uint8_t>& out) {
    const uint32_t room = roundUp(length, 64);
    if (length == 0 || uint64_t(room) * 2 > p.bufferLength) return St::Fail;
    if (copyIntoWindow(p, p.bufferAddr, in, length) != 0) return St::Fail;
    uint32_t args[3] = {p.bufferAddr, p.bufferAddr + room, length};
    VELD_SE_TRUSTED_OP op{0x0000, 0, reinterpret_cast<uintptr_t>(args), sizeof args};
    const St st = trustedOperation(p, op);
    if (st != St::Ok) return st;
    // The answer is the result's length, which must fit what the caller handed in.
    if (op.result < 1 || op.result > length) {
        SE_LOG(0, "conversion answered %u for %u bytes\n", op.result, length);
        return St::Fail;
    }
    out.resize(op.result);
    return copyOutOfWindow(p, out.data(), p.bufferAddr + room, op.result) == 0 ? St::Ok : St::Fail;
}

bool readWhole(int fd, uint8_t* out, uint32_t offset, uint32_t length) {
    for (uint32_t done = 0; done < length;) {
        const ssize_t n = ::pread(fd, out + done, length - done, off_t(offset) + done);
        if (n <= 0) return false;
        done += static_cast<uint32_t>(n);
    }
    return true;
}

// One record of "sedata": its name (bounded by its field), its tag and its data converted,
// protected and written under its name.
St importRecord(ProcessRecord& p, const char* name, std::vector<uint8_t>& raw) {
    Conversion conversion = protectConversion;
    size_t skip = 0;
    if (!raw.empty() && raw[0] == '[') {
        const size_t limit = std::min(raw.size(), kMaxTag + 2);
        const auto close = std::find(raw.begin() + 1, raw.begin() + static_cast<long>(limit), ']');
        if (close != raw.begin() + static_cast<long>(limit)) {
            const std::string tag(raw.begin() + 1, close);
            bool known = false;
            for (const TagRow& row : kTags)
                if (tag == row.tag) {
                    SE_LOG(2, "%s Extension Tag : %s\n", row.tag, name);
                    conversion = row.conversion;
                    skip = tag.size() + 2;
                    known = true;
                }
            if (!known) SE_LOG(1, "Check Extension Tag : %s\n", tag.c_str());
        }
    }
    std::vector<uint8_t> converted;
    St st = convert(p, raw.data() + skip, static_cast<uint32_t>(raw.size() - skip), converted);
    if (st != St::Ok) return st;
    if (converted.size() % kBlockBytes || converted.size() + kRecordOverhead > kMaxStoredLength) {
        SE_LOG(0, "record %s: %zu bytes cannot be protected\n", name, converted.size());
        return St::Fail;
    }
    VELD_SE_SS_RECORD record{};
    if ((st = conversion(p, converted, record)) != St::Ok) return st;
    SE_LOG(2, "Write : %s\n", name);
    std::vector<uint8_t> stored;
    if ((st = packRecord(p, record.header, converted.data(), record.length, stored)) != St::Ok) return st;
    return writeStoreRecord(p, name, stored);
}

// The records of an open "sedata": all of them, or none (the working copy is put back).
St importRecords(ProcessRecord& p, int fd) {
    uint8_t countBytes[2];
    if (!readWhole(fd, countBytes, kDataMagicBytes, 2)) return St::Fail;
    const uint32_t count = loadLe16(countBytes);
    if (count < 1 || count > kMaxRecords) return St::Fail;
    std::vector<DirEntry> dir(count);
    if (!readWhole(fd, reinterpret_cast<uint8_t*>(dir.data()), 4, count * kEntryBytes)) return St::Fail;
    uint32_t offset = 4 + count * kEntryBytes;
    for (const DirEntry& e : dir) {
        const uint32_t length = loadLe32(e.length);
        // A name without its terminator inside the field is not a name.
        if (strnlen(e.name, kNameBytes) == kNameBytes || !e.name[0] || length < 1 ||
            length > kMaxStoredLength) {
            SE_LOG(0, "sedata: directory entry refused\n");
            return St::Fail;
        }
        std::vector<uint8_t> raw(length);
        if (!readWhole(fd, raw.data(), offset, length)) return St::Fail;
        offset += length;
        const St st = importRecord(p, e.name, raw);
        if (st != St::Ok) return st;
    }
    return St::Ok;
}

}  // namespace

bool storedLengthValid(uint32_t length) {
    return length >= kRecordOverhead && length <= kMaxStoredLength && length % kBlockBytes == 0;
}

St computeCode(ProcessRecord& p, uint8_t seed[kSeedBytes], bool freshSeed,
               std::span<const uint8_t> data, uint8_t code[kCodeBytes]) {
    St st = freshSeed ? randomCommand(p, seed, kSeedBytes) : St::Ok;
    if (st == St::Ok) st = codeSource(p, seed, data);
    if (st != St::Ok) return st;
    VELD_SE_HASH_REQUEST r = codeRequest(p, static_cast<uint32_t>(data.size()));
    r.result = reinterpret_cast<uintptr_t>(code);
    return hashOperation(p, r);
}

St checkCode(ProcessRecord& p, const uint8_t seed[kSeedBytes], std::span<const uint8_t> data,
             const uint8_t code[kCodeBytes], bool& equal) {
    equal = false;
    St st = codeSource(p, seed, data);
    if (st != St::Ok) return st;
    // The code stays in the window, beside the stored one; the trusted world compares them.
    const uint32_t computed = p.bufferAddr + roundUp(kSeedBytes + static_cast<uint32_t>(data.size()), 64);
    if (copyIntoWindow(p, computed + kCodeBytes, code, kCodeBytes) != 0) return St::Fail;
    VELD_SE_HASH_REQUEST r = codeRequest(p, static_cast<uint32_t>(data.size()));
    r.resultPhysical = 1;
    r.result = computed;
    if ((st = hashOperation(p, r)) != St::Ok) return st;
    uint32_t args[3] = {computed + kCodeBytes, computed, kCodeBytes};
    VELD_SE_TRUSTED_OP op{0x0012, 0, reinterpret_cast<uintptr_t>(args), sizeof args};
    if ((st = trustedOperation(p, op)) != St::Ok) return st;
    equal = op.result == 0;
    return St::Ok;
}

St imageCodeValid(ProcessRecord& p, const uint8_t* image, uint32_t used, bool& valid) {
    return checkCode(p, image + kSeedOffset, std::span(image + kHeaderBytes, used - kHeaderBytes),
                     image + kCodeOffset, valid);
}

St protectRecord(ProcessRecord& p, uint8_t header[64], uint8_t* data, uint32_t length) {
    St st = sealInPlace(p, header, data, length);
    if (st != St::Ok) return st;
    return computeCode(p, header + 16, true, std::span(data, length), header + 32);
}

St packRecord(ProcessRecord& p, const uint8_t header[64], const uint8_t* data, uint32_t length,
              std::vector<uint8_t>& stored) {
    stored.assign(kRecordOverhead + length, 0);
    std::memcpy(stored.data() + 16, header, 16);
    if (length) std::memcpy(stored.data() + 32, data, length);
    std::memcpy(stored.data() + 32 + length, header + 16, 48);
    return sealInPlace(p, stored.data(), stored.data() + 16, length + 64);
}

St unpackRecord(ProcessRecord& p, std::span<const uint8_t> stored, uint8_t header[64],
                uint8_t* data, uint32_t length) {
    if (stored.size() != kRecordOverhead + length) return St::Fail;
    std::vector<uint8_t> work(stored.begin(), stored.end());
    St st = unsealInPlace(p, work.data(), work.data() + 16, length + 64);
    if (st != St::Ok) return st;
    std::memcpy(header, work.data() + 16, 16);
    std::memcpy(header + 16, work.data() + 32 + length, 48);
    bool equal = false;
    if ((st = checkCode(p, header + 16, std::span(work.data() + 32, length), header + 32, equal)) != St::Ok)
        return st;
    if (!equal) {
        SE_LOG(0, "record code does not verify\n");
        return St::Fail;
    }
    if (length) std::memcpy(data, work.data() + 32, length);
    return St::Ok;
}

int32_t readStoredRecord(VELD_SE_SS_RECORD* record, const FetchStored& fetch) {
    if (!record || (record->length && !record->pData) || record->length > kMaxStoredLength) {
        SE_FAILED();
        return -1;
    }
    const uint32_t length = record->length;
    uint8_t header[64];
    std::vector<uint8_t> data(length);
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        std::vector<uint8_t> stored;
        const St st = fetch(p, stored);
        if (st != St::Ok) return st;
        if (stored.size() != length + kRecordOverhead) {
            SE_LOG(0, "the record holds %zu bytes, not %u\n", stored.size() - kRecordOverhead, length);
            return St::Fail;
        }
        return unpackRecord(p, stored, header, data.data(), length);
    });
    if (result != 0) return -1;
    std::memcpy(record->header, header, sizeof header);
    if (length) std::memcpy(reinterpret_cast<uint8_t*>(record->pData), data.data(), length);
    return 0;
}

St makeMask(ProcessRecord& p, uint8_t mask[256]) {
    resetCurrent();
    uint8_t vector[16];
    std::memcpy(vector, kMaskRecord, sizeof vector);
    VELD_SE_KEY_RECORD r{};
    r.type = 2;
    r.supplied = 1;
    r.algorithm = 3;
    r.keySize = 16;
    r.inLength = 16;
    r.inAddress = reinterpret_cast<uintptr_t>(vector);
    r.resultLength = 16;
    St st = keyRecordCommand(p, 112, r);
    resetCurrent();
    if (st != St::Ok) return st;
    for (int i = 0; i < 256; ++i) mask[i] = static_cast<uint8_t>(i);
    VELD_SE_BLOCK_OP op{0, {kMaskKey, kLastRecordVector}, 3, 0, 0, 16, 0,
                        reinterpret_cast<uintptr_t>(mask), 0, reinterpret_cast<uintptr_t>(mask), 256};
    uint32_t done = 0;
    if ((st = blockOperation(p, op, done)) != St::Ok) return st;
    std::memcpy(p.pSharedInfo->storeMask, mask, 256);
    return St::Ok;
}

St importData(ProcessRecord& p, const char* path) {
    const std::string device = path ? std::string(path) : partitionDevice("sedata");
    const int fd = device.empty() ? -1 : ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        SE_LOG(1, "Can't use sedata.\n");
        return St::Fail;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    uint8_t magic[2] = {};
    if (!readWhole(fd, magic, 0, 2) || magic[0] != 'S' || magic[1] != 'E') return St::Fail;
    permanentLog("%s(%d):(%d)write sedata\n", __func__, __LINE__, static_cast<int>(p.pid));
    St st = checkAndReinit(p);
    if (st != St::Ok) return st;
    // All or nothing: a record that fails puts the working copy back as it was.
    const std::vector<uint8_t> before(p.pSeStore, p.pSeStore + imageUsage(p.pSeStore));
    st = importRecords(p, fd);
    if (st != St::Ok) {
        std::memcpy(p.pSeStore, before.data(), before.size());
        p.pSharedInfo->numOfSeStoreData = imageCount(p.pSeStore);
        p.pSharedInfo->seStoreUsage = imageUsage(p.pSeStore);
        SE_LOG(0, "sedata import failed; sedata is kept\n");
        return st;
    }
    // Erased only once both copies were written and read back with the imported records.
    if ((st = updateStore(p)) != St::Ok) return st;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const uint32_t erase = size > 0 ? std::min<uint32_t>(kDataEraseBytes, roundUp(uint32_t(size), kEraseBlock))
                                    : kDataEraseBytes;
    const std::vector<uint8_t> zeros(erase, 0);
    bool ok = true;
    for (uint32_t done = 0; ok && done < erase;) {
        const ssize_t n = ::pwrite(fd, zeros.data() + done, erase - done, done);
        ok = n > 0;
        done += ok ? static_cast<uint32_t>(n) : 0;
    }
    if (!ok || ::fsync(fd) != 0) {
        SE_LOG(0, "sedata: erase failed\n");
        return St::Fail;
    }
    permanentLog("%s(%d):(%d)done\n", __func__, __LINE__, static_cast<int>(p.pid));
    return St::Ok;
}

}  // namespace veld::se

using namespace veld::se;

namespace {

bool recordUsable(const VELD_SE_SS_RECORD* record) {
    return record && (record->length == 0 || record->pData);
}

// A record's data taken for work inside the lock; copied back only on success.
std::vector<uint8_t> dataOf(const VELD_SE_SS_RECORD* record) {
    const auto* data = reinterpret_cast<const uint8_t*>(record->pData);
    return std::vector<uint8_t>(data, data + record->length);
}

// Reads a record file ("rb") whole: stored record data of a valid length.
bool readRecordFile(const char* path, std::vector<uint8_t>& stored) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    stored.resize(kMaxStoredLength + 1);
    const size_t n = std::fread(stored.data(), 1, stored.size(), f);
    std::fclose(f);
    stored.resize(n);
    return storedLengthValid(static_cast<uint32_t>(n));
}

// Replaces a record file atomically: a temporary file beside it, synced, renamed over it.
bool writeRecordFile(const char* path, const std::vector<uint8_t>& stored) {
    const std::string temporary = std::string(path) + ".new";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(stored.data(), 1, stored.size(), f) == stored.size() && std::fflush(f) == 0 &&
              ::fsync(fileno(f)) == 0;
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path) == 0) return true;
    std::remove(temporary.c_str());
    return false;
}

int32_t refuse(const char* file) {
    SE_LOG(0, "%s\n", sourceName(file));
    return -1;
}
#define SE_REFUSE() refuse(__FILE__)

}  // namespace

extern "C" {

int32_t VELD_SE_SS000(uint8_t codeBlock[48], const uint8_t* data, uint32_t length) {
    if (!codeBlock || (length && !data) || length > kUsedLimit) return SE_REFUSE();
    uint8_t block[48];
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        return computeCode(p, block, true, std::span(data, length), block + 16);
    });
    if (result == 0) std::memcpy(codeBlock, block, sizeof block);
    return result;
}

int32_t VELD_SE_SS001(VELD_SE_SS_RECORD* record) {
    if (!recordUsable(record) || record->length == 0 || record->length % kBlockBytes ||
        record->length > kMaxStoredLength)
        return SE_REFUSE();
    std::vector<uint8_t> data = dataOf(record);
    uint8_t header[64];
    const int32_t result = SE_ENGINE_CALL(
        [&](ProcessRecord& p) { return protectRecord(p, header, data.data(), record->length); });
    if (result != 0) return -1;
    std::memcpy(record->header, header, sizeof header);
    std::memcpy(reinterpret_cast<uint8_t*>(record->pData), data.data(), data.size());
    return 0;
}

int32_t VELD_SE_SS002(VELD_SE_SS_RECORD* record) {
    if (!recordUsable(record) || record->length > kUsedLimit) return SE_REFUSE();
    const std::vector<uint8_t> data = dataOf(record);
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        bool equal = false;
        const St st = checkCode(p, record->header + 16, data, record->header + 32, equal);
        return st == St::Ok && !equal ? St::Fail : st;
    });
}

int32_t VELD_SE_SS003(VELD_SE_SS_RECORD* record) {
    if (!recordUsable(record) || record->length % kBlockBytes || record->length > kMaxStoredLength)
        return SE_REFUSE();
    std::vector<uint8_t> data = dataOf(record);
    const int32_t result = SE_ENGINE_CALL([&](ProcessRecord& p) {
        bool equal = false;
        St st = checkCode(p, record->header + 16, data, record->header + 32, equal);
        if (st == St::Ok && !equal) return St::Fail;
        if (st == St::Ok && !data.empty()) st = unsealInPlace(p, record->header, data.data(), record->length);
        return st;
    });
    if (result != 0) return -1;
    if (!data.empty()) std::memcpy(reinterpret_cast<uint8_t*>(record->pData), data.data(), data.size());
    return 0;
}

int32_t VELD_SE_SS005(const char* path) {
    if (!path) return SE_REFUSE();
    std::vector<uint8_t> stored;
    const int32_t result = SE_ENGINE_CALL(
        [&](ProcessRecord&) { return readRecordFile(path, stored) ? St::Ok : St::Fail; });
    return result == 0 ? static_cast<int32_t>(stored.size() - kRecordOverhead) : -1;
}

int32_t VELD_SE_SS007(const char* path, VELD_SE_SS_RECORD* record) {
    if (!path) return SE_REFUSE();
    return readStoredRecord(record, [&](ProcessRecord&, std::vector<uint8_t>& stored) {
        return readRecordFile(path, stored) ? St::Ok : St::Fail;
    });
}

int32_t VELD_SE_SS009(const char* path, const VELD_SE_SS_RECORD* record) {
    if (!path || !recordUsable(record) || record->length > kMaxStoredLength ||
        !storedLengthValid(record->length + kRecordOverhead))
        return SE_REFUSE();
    return SE_ENGINE_CALL([&](ProcessRecord& p) {
        std::vector<uint8_t> stored;
        const St st = packRecord(p, record->header, reinterpret_cast<const uint8_t*>(record->pData),
                                 record->length, stored);
        if (st != St::Ok) return st;
        return writeRecordFile(path, stored) ? St::Ok : St::Fail;
    });
}

int32_t VELD_SE_SS012(uint8_t* out, const uint8_t* in, uint32_t length) {
    if (!out || !in || length == 0) return SE_REFUSE();
    std::vector<uint8_t> result;
    if (SE_ENGINE_CALL([&](ProcessRecord& p) { return convert(p, in, length, result); }) != 0) return -1;
    std::memcpy(out, result.data(), result.size());
    return static_cast<int32_t>(result.size());
}

int32_t VELD_SE_SS013(const char* path) {
    return SE_ENGINE_CALL([&](ProcessRecord& p) { return importData(p, path); });
}

int32_t SE_CalcSecureStoreDataLength(int32_t storedLength) { return storedLength - 80; }

}  // extern "C"
