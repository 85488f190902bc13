// The trusted command channel (see se_channel.h): the run-command request with its result
// codes and re-initialisation, copies through the shared window, the user trusted application
// images, and the commands' parameter layouts. Every length is checked against the room it
// goes into before anything is sent, so that a refused request has written nothing.
#include "se_channel.h"

#include <unistd.h>

#include <atomic>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "se_device.h"
#include "se_hooks.h"
#include "seam.h"

namespace veld::se {
namespace {

constexpr uint32_t kInitMagic = 20120509;
constexpr int32_t kNotInit = -8008;
constexpr uint32_t kLargeChunk = 0x3FFFC0;
constexpr uint32_t kLargeMinimum = 0x3FFFC1;

struct ResultText {
    int32_t code;
    const char* text;
};
constexpr ResultText kResultTexts[] = {
    {-8008, "TZ_FAIL_NOT_INIT\n"},
    {-8007, "TZ_FAIL_ACCESS_DENIED\n"},
    {-8006, "TZ_FAIL_BUSY\n"},
    {-8005, "TZ_FAIL_ILLEGAL_ARGUMENT\n"},
    {-8004, "TZ_FAIL_NOT_IMPLEMENTED\n"},
    {-8003, "TZ_FAIL_WRONG_CMD\n"},
    {-8002, "TZ_FAIL_NOT_SUPPORTED_CHIP\n"},
    {-8001, "TZ_FAIL_VERSION_MISMATCH - Update sedrv and tzfw.\n"},
    {-8000, "TZ_FAIL\n"},
};

uint32_t* param(ProcessRecord& p) { return reinterpret_cast<uint32_t*>(p.pTzParm); }
uint8_t* paramBytes(ProcessRecord& p) { return p.pTzParm; }
uint32_t paramPhysical(ProcessRecord& p) { return p.memInfo.base + p.memInfo.size - kParamBytes; }
uint32_t low(uintptr_t address) { return static_cast<uint32_t>(address); }

void logResult(int32_t code) {
    for (const ResultText& r : kResultTexts)
        if (r.code == code) {
            SE_LOG(0, "%s", r.text);
            return;
        }
    SE_LOG(0, "Unknown(0x%x)\n\n", static_cast<unsigned>(code));
}

void logDebugText(ProcessRecord& p) {
    const char* text = reinterpret_cast<const char*>(p.pBuffer + p.memInfo.size - 1028);
    if (text[0] != '\0') SE_LOG(0, "%.1023s\n", text);
}

// Issues the run-command request; the trusted world's code on failure, 0 on success.
int32_t issue(ProcessRecord& p, uint32_t header[8]) {
    const uint32_t command = header[0];
    if (seDevice::ioctl(p.devFd, kIocRunCommand, header) == 0) return 0;
    const int32_t code = static_cast<int32_t>(header[0]);
    // The request never reached the trusted world: the header still holds the command.
    if (header[0] == command) {
        SE_LOG(0, "run command %u: %s(%d)\n", command, std::strerror(errno), errno);
        return -8000;
    }
    return code;
}

// Re-initialises the trusted world after it lost its state; 0 or -1.
int reinitialize(ProcessRecord& p) {
    if (loadUserApplications(p) != 0) {
        SE_LOG(0, "\n\n --->Fail to load all uta to wshm 0x%x \n\n\n", p.memInfo.base);
        return -1;
    }
    if (initCommand(p) != 0) return -1;
    resetCurrent();
    releaseGoneProcesses();
    std::atomic_ref<uint32_t>(p.pSharedInfo->bk.reinitCount).fetch_add(1);
    return 0;
}

// The lowest start and highest end of the platform's memory regions.
void regionBounds(uint32_t& start, uint32_t& end) {
    start = 0xFFFFFFFFu;
    end = 0;
    std::ifstream in(seam::path("/proc/qv/base/status"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 1023) line.resize(1023);
        if (line.empty() || line[0] == 'N' || line[0] == '-' || line.size() <= 20) continue;
        unsigned a = 0, b = 0;
        if (std::sscanf(line.c_str() + 20, ",0x%x ~ 0x%x", &a, &b) == 2) {
            if (a < start) start = a;
            if (b > end) end = b;
        }
    }
    if (end <= start) {
        start = 0x40000000u;
        end = 0xC0000000u;
    }
}

struct Image {
    const char* name;
    uint32_t offset;
    uint32_t room;  // up to the next image, so that no image overwrites another
};
constexpr Image kImages[] = {
    {"luta.ta", 0, 0x100000},
    {"auta.ta", 0x100000, 0x200000},
    {"euta.ta", 0x300000, 0x200000},
};
constexpr uint32_t kImageCapacity = 0x200000;

int loadImage(ProcessRecord& p, const char* dir, const Image& image) {
    char path[255];
    const std::string full = seam::path(dir);
    if (std::snprintf(path, sizeof path, "%s/%s", full.c_str(), image.name) >= int(sizeof path)) {
        SE_LOG(0, "Wrong UTA path [%s]\n", path);
        return -1;
    }
    FILE* f = std::fopen(path, "rb");
    if (!f) f = std::fopen(path, "rb");
    if (!f) {
        SE_LOG(0, "Fail to open %s \n\n", path);
        return -1;
    }
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    const uint32_t room = image.offset >= p.bufferLength
                              ? 0
                              : std::min(image.room, p.bufferLength - image.offset);
    if (size < 0 || static_cast<unsigned long>(size) > std::min(room, kImageCapacity)) {
        SE_LOG(0, "Buffer is not larget enough!! (0x%x)(0x%x)(0x%x)\n\n",
               static_cast<unsigned>(size), kImageCapacity, room);
        std::fclose(f);
        return -1;
    }
    const size_t got = std::fread(p.pBuffer + image.offset, 1, static_cast<size_t>(size), f);
    std::fclose(f);
    if (got != static_cast<size_t>(size)) {
        SE_LOG(0, "error fread TA file, uta_size =0x%x, shared_buf(0x%x)\n\n",
               static_cast<unsigned>(size), p.memInfo.base + image.offset);
        return -1;
    }
    SE_LOG(2, "Succeeded in loading %s/%s(0x%x) to wshm!\n\n", dir, image.name,
           static_cast<unsigned>(size));
    return 0;
}

bool userRangeFits(uintptr_t address, uint32_t length, uint32_t room) {
    return length <= room && (length == 0 || address != 0);
}

}  // namespace

St runCommand(ProcessRecord& p, uint32_t header[8]) {
    const uint32_t command = header[0];
    const int32_t code = issue(p, header);
    if (code == 0) return St::Ok;
    if (code == kNotInit && command != 2) {
        SE_LOG(0, "Re-Initialize\n");
        return reinitialize(p) == 0 ? St::Lost : St::Fail;
    }
    logResult(code);
    logDebugText(p);
    return St::Fail;
}

int initCommand(ProcessRecord& p) {
    uint32_t start = 0, end = 0;
    regionBounds(start, end);
    const MemInfo& m = p.memInfo;
    uint32_t header[8] = {2, kInitMagic, paramPhysical(p), 4, m.base, m.size, start, end};
    uint32_t* w = param(p);
    uint32_t saved[5];
    std::memcpy(saved, w, sizeof saved);
    const uint32_t words[5] = {m.base, m.size, start, end, m.base + m.size - 4};
    std::memcpy(w, words, sizeof words);
    const int32_t code = issue(p, header);
    std::memcpy(w, saved, sizeof saved);
    if (code == 0) return 0;
    logResult(code);
    logDebugText(p);
    return -1;
}

int loadUserApplications(ProcessRecord& p) {
    for (const Image& image : kImages) {
        if (loadImage(p, "/var/qvuta", image) == 0) continue;
        SE_LOG(0, "Fail to load %s/%s to wshm! \n\n", "/var/qvuta", image.name);
        if (loadImage(p, "/usr/lib/qvuta", image) == 0) continue;
        SE_LOG(0, "Fail to load %s/%s to wshm! \n\n", "/usr/lib/qvuta", image.name);
        return -1;
    }
    return 0;
}

int copyIntoWindow(ProcessRecord& p, uint32_t physical, const void* src, uint32_t length) {
    const MemInfo& m = p.memInfo;
    if (physical < m.base || uint64_t(physical) + length > uint64_t(m.base) + m.size ||
        (length && !src))
        return -1;
    const uint32_t offset = physical - m.base;
    if (p.pSharedInfo->bCachedBuffer == 1 && p.pCachedBuffer && length >= 128) {
        std::memcpy(p.pCachedBuffer + offset, src, length);
        return cacheMaintenance(physical, length, 2);
    }
    uint8_t* dst = p.pBuffer + offset;
    if ((reinterpret_cast<uintptr_t>(dst) | reinterpret_cast<uintptr_t>(src)) % 4 == 0) {
        uint32_t i = 0;
        for (; i + 4 <= length; i += 4)
            *reinterpret_cast<volatile uint32_t*>(dst + i) =
                *reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(src) + i);
        for (; i < length; ++i) dst[i] = static_cast<const uint8_t*>(src)[i];
    } else {
        for (uint32_t i = 0; i < length; ++i)
            reinterpret_cast<volatile uint8_t*>(dst)[i] = static_cast<const uint8_t*>(src)[i];
    }
    return 0;
}

int copyOutOfWindow(ProcessRecord& p, void* dst, uint32_t physical, uint32_t length) {
    const MemInfo& m = p.memInfo;
    if (physical < m.base || uint64_t(physical) + length > uint64_t(m.base) + m.size ||
        (length && !dst))
        return -1;
    const uint32_t offset = physical - m.base;
    if (p.pSharedInfo->bCachedBuffer == 1 && p.pCachedBuffer && length >= 128) {
        if (cacheMaintenance(physical, length, 1) != 0) return -1;
        std::memcpy(dst, p.pCachedBuffer + offset, length);
        return 0;
    }
    const uint8_t* src = p.pBuffer + offset;
    if ((reinterpret_cast<uintptr_t>(dst) | reinterpret_cast<uintptr_t>(src)) % 4 == 0) {
        uint32_t i = 0;
        for (; i + 4 <= length; i += 4)
            *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(dst) + i) =
                *reinterpret_cast<const volatile uint32_t*>(src + i);
        for (; i < length; ++i) static_cast<uint8_t*>(dst)[i] = src[i];
    } else {
        for (uint32_t i = 0; i < length; ++i)
            static_cast<uint8_t*>(dst)[i] = reinterpret_cast<const volatile uint8_t*>(src)[i];
    }
    return 0;
}

bool secureRangeValid(ProcessRecord& p, uint32_t address, uint32_t length) {
    const uint64_t end = uint64_t(address) + length;
    auto inside = [&](uint32_t base, uint64_t size) {
        return address >= base && end <= uint64_t(base) + size;
    };
    const MemInfo& m = p.memInfo;
    if (inside(m.base, m.size) || inside(m.secureBase, m.secureSize) ||
        inside(m.tempSecureDataBase, 0x24000))
        return true;
    for (const SecureArea& a : p.pSharedInfo->secureArea)
        if (a.inUse == 1 && inside(a.base, a.size)) return true;
    SE_LOG(0, "Invalid : %08x, %08x\n", address, length);
    return false;
}

St simpleCommand(ProcessRecord& p, uint32_t command, uint32_t headerWord2) {
    uint32_t header[8] = {command, headerWord2};
    return runCommand(p, header);
}

St chainCommand(ProcessRecord& p, uint32_t command, const VELD_SE_CHAIN& chain) {
    if (chain.length > kParamRoom - 8 || (chain.length && !chain.address)) {
        SE_LOG(0, "chain of %u bytes does not fit\n", static_cast<unsigned>(chain.length));
        return St::Fail;
    }
    uint32_t* w = param(p);
    w[0] = low(chain.address);
    w[1] = static_cast<uint32_t>(chain.length);
    if (chain.length)
        std::memcpy(paramBytes(p) + 8, reinterpret_cast<const void*>(chain.address), chain.length);
    uint32_t header[8] = {command};
    return runCommand(p, header);
}

St keyRecordCommand(ProcessRecord& p, uint32_t command, VELD_SE_KEY_RECORD& r) {
    const bool readBack = command == 113;
    const uint32_t out = r.outAddress ? r.outLength : 0;
    const uint64_t room = readBack ? uint64_t(r.inLength) + out : std::max(r.inLength, out);
    if (room > kParamRoom - 56 || (r.inLength && !r.inAddress)) {
        SE_LOG(0, "key record of %u bytes does not fit\n", static_cast<unsigned>(room));
        return St::Fail;
    }
    uint32_t* w = param(p);
    const uint32_t words[14] = {r.type, r.supplied, r.word3, r.word4, r.algorithm, r.keySize,
                                r.inLength, low(r.inAddress), r.word9, r.word10,
                                r.resultLength, r.word12, r.outLength, low(r.outAddress)};
    std::memcpy(w, words, sizeof words);
    uint8_t* data = paramBytes(p) + 56;
    if (!readBack && r.inLength)
        std::memcpy(data, reinterpret_cast<const void*>(r.inAddress), r.inLength);
    uint32_t header[8] = {command, p.pid};
    const St st = runCommand(p, header);
    if (st != St::Ok) return st;
    r.resultLength = w[10];
    if (readBack) {
        if (r.inLength) std::memcpy(reinterpret_cast<void*>(r.inAddress), data, r.inLength);
        if (out) std::memcpy(reinterpret_cast<void*>(r.outAddress), data + r.inLength, out);
    } else if (out) {
        std::memcpy(reinterpret_cast<void*>(r.outAddress), data, out);
    }
    return St::Ok;
}

St trustedOperation(ProcessRecord& p, VELD_SE_TRUSTED_OP& op) {
    if (op.length > kParamRoom - 16 || (op.length && !op.argument)) {
        SE_LOG(0, "trusted operation arguments of %u bytes do not fit\n", op.length);
        return St::Fail;
    }
    uint32_t* w = param(p);
    const uint32_t words[4] = {op.opcode, op.result, low(op.argument), op.length};
    std::memcpy(w, words, sizeof words);
    if (op.length) std::memcpy(w + 4, reinterpret_cast<const void*>(op.argument), op.length);
    uint32_t header[8] = {144, p.pid};
    const St st = runCommand(p, header);
    if (st != St::Ok) return st;
    op.result = w[1];
    if (op.length) std::memcpy(reinterpret_cast<void*>(op.argument), w + 4, op.length);
    if (op.result != 0) logDebugText(p);
    return St::Ok;
}

St optionOperation(ProcessRecord& p, uint32_t* option, uint32_t selector) {
    if (!option) return St::Fail;
    uint32_t args[4] = {option[0], option[1], selector, 0};
    VELD_SE_TRUSTED_OP op{0x0001, 0, reinterpret_cast<uintptr_t>(args), sizeof args};
    const St st = trustedOperation(p, op);
    if (st != St::Ok) return st;
    if (op.result != 0) return St::Fail;
    option[1] = args[1];
    return St::Ok;
}

St randomCommand(ProcessRecord& p, uint8_t* out, uint32_t length) {
    if (!out || length == 0 || length > kRandomMax) {
        SE_LOG(0, "random request of %u bytes refused\n", length);
        return St::Fail;
    }
    param(p)[0] = length;
    uint32_t header[8] = {24};
    const St st = runCommand(p, header);
    if (st == St::Ok) std::memcpy(out, paramBytes(p) + 4, length);
    return st;
}

St blockOperation(ProcessRecord& p, const VELD_SE_BLOCK_OP& op, uint32_t& done) {
    SE_LOG(kTraceLevel, "size (%u)\n\n", op.length);
    const bool large = op.keySelect[0] == 0 && op.keySelect[1] == 0 && op.algorithm == 3 &&
                       op.packetMode == 2 && op.ivLength == 16 && !op.srcPhysical &&
                       !op.dstPhysical && op.length >= kLargeMinimum;
    auto send = [&](uint32_t src, uint32_t dst, uint32_t length, uint32_t leading,
                    uint32_t processed) {
        uint32_t* w = param(p);
        const uint32_t words[14] = {op.direction, op.keySelect[0], op.keySelect[1], op.algorithm,
                                    op.keyOption, op.packetMode, op.ivLength, 1, src, 1, dst,
                                    length, leading, processed};
        std::memcpy(w, words, sizeof words);
        uint32_t header[8] = {96, p.pid};
        return runCommand(p, header);
    };
    if (large) {
        // Chunks are whole 192-byte packets, so only the total can leave a partial one.
        if (op.length % 192 || !op.src || !op.dst || kLargeChunk > p.bufferLength) return St::Fail;
        const auto* src = reinterpret_cast<const uint8_t*>(op.src);
        auto* dst = reinterpret_cast<uint8_t*>(op.dst);
        while (done < op.length) {
            const uint32_t chunk = std::min(kLargeChunk, op.length - done);
            SE_LOG(kTraceLevel, "size (%u)\n\n", chunk);
            if (copyIntoWindow(p, p.bufferAddr, src + done, chunk) != 0) return St::Fail;
            const St st = send(p.bufferAddr, p.bufferAddr, chunk, 8, 184);
            if (st != St::Ok) return st;
            if (copyOutOfWindow(p, dst + done, p.bufferAddr, chunk) != 0) return St::Fail;
            done += chunk;
        }
        return St::Ok;
    }
    uint32_t leading = 0, processed = op.length;
    switch (op.packetMode) {
    case 0: break;
    case 1:
        if (op.length % 188) return St::Fail;
        leading = 4, processed = 184;
        break;
    case 2:
        if (op.length % 192) return St::Fail;
        leading = 8, processed = 184;
        break;
    default:
        SE_LOG(0, "packet mode %u unknown\n", op.packetMode);
        return St::Fail;
    }
    uint32_t src = low(op.src), dst = low(op.dst);
    if (op.srcPhysical) {
        if (src % 4 || uint64_t(src) + op.length > 0xFFFFFFFFull) return St::Fail;
    } else if (!userRangeFits(op.src, op.length, p.bufferLength)) {
        SE_LOG(0, "source of %u bytes does not fit the window\n", op.length);
        return St::Fail;
    }
    if (op.dstPhysical) {
        if (uint64_t(dst) + op.length > 0xFFFFFFFFull) return St::Fail;
    } else if (!userRangeFits(op.dst, op.length, p.bufferLength)) {
        SE_LOG(0, "destination of %u bytes does not fit the window\n", op.length);
        return St::Fail;
    }
    if (!op.srcPhysical) {
        if (copyIntoWindow(p, p.bufferAddr, reinterpret_cast<const void*>(op.src), op.length))
            return St::Fail;
        src = p.bufferAddr;
    }
    if (!op.dstPhysical) dst = p.bufferAddr;
    const St st = send(src, dst, op.length, leading, processed);
    if (st != St::Ok) return st;
    if (!op.dstPhysical &&
        copyOutOfWindow(p, reinterpret_cast<void*>(op.dst), p.bufferAddr, op.length) != 0)
        return St::Fail;
    return St::Ok;
}

St hashOperation(ProcessRecord& p, const VELD_SE_HASH_REQUEST& r) {
    uint32_t resultLength = 0;
    switch (r.algorithm) {
    case 3: resultLength = 16; break;
    case 4: case 7: resultLength = 20; break;
    case 5: case 8: resultLength = 28; break;
    case 6: case 9: resultLength = 32; break;
    case 128: case 130: resultLength = 48; break;
    case 129: case 131: resultLength = 64; break;
    default:
        SE_LOG(0, "can't use blkMode(%d)!\n", static_cast<int>(r.algorithm));
        return St::Fail;
    }
    if (!r.result || (r.length && !r.src) ||
        (r.srcPhysical && uint64_t(low(r.src)) + r.length > 0xFFFFFFFFull))
        return St::Fail;
    auto send = [&](uint32_t src, uint32_t phase, uint32_t length) {
        uint32_t* w = param(p);
        const uint32_t words[8] = {r.word1, r.algorithm, r.word3, r.word4, src, phase, length,
                                   r.resultPhysical ? low(r.result) : 0};
        std::memcpy(w, words, sizeof words);
        uint32_t header[8] = {97, p.pid};
        return runCommand(p, header);
    };
    St st;
    if (r.srcPhysical || r.length <= p.bufferLength) {
        if (!r.srcPhysical &&
            copyIntoWindow(p, p.bufferAddr, reinterpret_cast<const void*>(r.src), r.length))
            return St::Fail;
        st = send(r.srcPhysical ? low(r.src) : p.bufferAddr, 3, r.length);
    } else {
        const auto* src = reinterpret_cast<const uint8_t*>(r.src);
        st = St::Ok;
        for (uint32_t at = 0; at < r.length && st == St::Ok; at += p.bufferLength) {
            const uint32_t chunk = std::min(p.bufferLength, r.length - at);
            const uint32_t phase = at == 0 ? 0 : at + chunk == r.length ? 2 : 1;
            if (copyIntoWindow(p, p.bufferAddr, src + at, chunk) != 0) return St::Fail;
            st = send(p.bufferAddr, phase, chunk);
        }
    }
    if (st != St::Ok) return st;
    if (!r.resultPhysical)
        std::memcpy(reinterpret_cast<void*>(r.result), param(p) + 8, resultLength);
    return St::Ok;
}

St rsaOperation(ProcessRecord& p, VELD_SE_RSA_REQUEST& r) {
    const uint32_t half = p.bufferLength / 2;
    if ((!r.srcPhysical && !userRangeFits(r.src, r.length, half)) ||
        (!r.dstPhysical && !r.dst))
        return St::Fail;
    const uint32_t src = r.srcPhysical ? low(r.src) : p.bufferAddr;
    const uint32_t dst = r.dstPhysical ? low(r.dst) : p.bufferAddr + half;
    if (!r.srcPhysical &&
        copyIntoWindow(p, src, reinterpret_cast<const void*>(r.src), r.length) != 0)
        return St::Fail;
    uint32_t* w = param(p);
    const uint32_t words[7] = {r.word1, r.word2, r.word3, src, dst, r.length, 0};
    std::memcpy(w, words, sizeof words);
    uint32_t header[8] = {98, p.pid};
    const St st = runCommand(p, header);
    if (st != St::Ok) return st;
    const uint32_t outLength = w[6];
    if (!r.dstPhysical) {
        if (outLength > half) return St::Fail;
        if (copyOutOfWindow(p, reinterpret_cast<void*>(r.dst), dst, outLength) != 0)
            return St::Fail;
    }
    r.outLength = outLength;
    return St::Ok;
}

St makeCurrent(ProcessRecord& p, VELD_SE_CTX* ctx) {
    SharedRecord& s = *p.pSharedInfo;
    if (s.pCurrentCtx == reinterpret_cast<uintptr_t>(ctx) && s.currentPid == p.pid) return St::Ok;
    s.pCurrentCtx = reinterpret_cast<uintptr_t>(ctx);
    s.currentPid = p.pid;
    St st = St::Ok;
    auto* records = reinterpret_cast<VELD_SE_KEY_RECORD*>(ctx->keyRecords);
    if (records && ctx->numKeyRecords >= 1 && static_cast<intptr_t>(ctx->numKeyRecords) > 0)
        for (uintptr_t i = 0; i < ctx->numKeyRecords && st == St::Ok; ++i)
            st = keyRecordCommand(p, 112, records[i]);
    if (st == St::Ok && ctx->keyChain)
        st = chainCommand(p, 17, *reinterpret_cast<const VELD_SE_CHAIN*>(ctx->keyChain));
    if (st == St::Ok && ctx->secondChain)
        st = chainCommand(p, 18, *reinterpret_cast<const VELD_SE_CHAIN*>(ctx->secondChain));
    constexpr uint32_t kSelectors[4] = {0, 1, 128, 129};
    for (int i = 0; i < 4 && st == St::Ok; ++i)
        if (ctx->option[i]) st = optionOperation(p, reinterpret_cast<uint32_t*>(ctx->option[i]),
                                                 kSelectors[i]);
    // A half-replayed context is not current: the next command replays it again.
    if (st != St::Ok) resetCurrent();
    return st;
}

}  // namespace veld::se
