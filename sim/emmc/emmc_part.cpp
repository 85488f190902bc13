// The simulated replay-protected partition (see emmc_part.h).
#include "emmc_part.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace veld::emmc {
namespace {

using namespace veld::rpmb;
using emmcDevice::wire::ControlOp;

constexpr char kMagic[8] = {'V', 'E', 'L', 'D', 'R', 'P', 'M', 'B'};
constexpr uint32_t kVersion = 1;
constexpr off_t kHeaderBytes = 512;
constexpr size_t kSlotBytes = 512;
constexpr uint32_t kSlotMagic = 0x544F4C53;  // "SLOT" read little-endian
constexpr size_t kSlotChecked = 12 + kBlockBytes;  // magic, counter, address, data

struct Header {
    char magic[8];
    uint32_t version;
    uint32_t keyProgrammed;
    uint8_t key[kKeyBytes];
    uint32_t crc;
};

struct Slot {
    uint32_t magic;
    uint32_t counter;
    uint32_t address;
    uint8_t data[kBlockBytes];
    uint32_t crc;
};
static_assert(offsetof(Slot, crc) == kSlotChecked, "slot CRC follows the checked bytes");

uint32_t crc32(const void* data, size_t length) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

off_t slotOffset(uint32_t block, int slot) {
    return kHeaderBytes + static_cast<off_t>(block * 2 + static_cast<uint32_t>(slot)) * kSlotBytes;
}

bool writeSynced(int fd, const void* data, size_t length, off_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t done = 0; done < length;) {
        const ssize_t n = ::pwrite(fd, p + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::fdatasync(fd) == 0;
}

Frame response(const Frame& request, uint16_t result) {
    Frame r{};
    put16(r.type, responseOf(typeOf(request)));
    put16(r.result, result);
    std::memcpy(r.address, request.address, sizeof r.address);
    return r;
}

}  // namespace

Part::~Part() {
    OPENSSL_cleanse(key_, sizeof key_);
    if (fd_ >= 0) ::close(fd_);
}

bool Part::open(const std::string& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct stat st {};
    const off_t size = kHeaderBytes + static_cast<off_t>(kBlocks) * 2 * kSlotBytes;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || (st.st_size < size && ::ftruncate(fd_, size) != 0)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!load()) {
        error = path + ": cannot be read";
        return false;
    }
    return true;
}

bool Part::load() {
    Header h{};
    if (::pread(fd_, &h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) return false;
    keyProgrammed_ = std::memcmp(h.magic, kMagic, sizeof kMagic) == 0 && h.version == kVersion &&
                     h.keyProgrammed == 1 && h.crc == crc32(&h, offsetof(Header, crc));
    if (keyProgrammed_) std::memcpy(key_, h.key, sizeof key_);
    OPENSSL_cleanse(&h, sizeof h);
    data_.assign(size_t(kBlocks) * kBlockBytes, 0);
    slotCounter_.assign(kBlocks, 0);
    newestSlot_.assign(kBlocks, -1);
    counter_ = 0;
    std::vector<uint8_t> area(size_t(kBlocks) * 2 * kSlotBytes);
    if (::pread(fd_, area.data(), area.size(), kHeaderBytes) != static_cast<ssize_t>(area.size()))
        return false;
    for (uint32_t b = 0; b < kBlocks; ++b)
        for (int s = 0; s < 2; ++s) {
            Slot slot;
            std::memcpy(&slot, area.data() + (size_t(b) * 2 + s) * kSlotBytes, sizeof slot);
            if (slot.magic != kSlotMagic || slot.address != b || slot.crc != crc32(&slot, kSlotChecked))
                continue;
            if (newestSlot_[b] >= 0 && slot.counter <= slotCounter_[b]) continue;
            newestSlot_[b] = static_cast<int8_t>(s);
            slotCounter_[b] = slot.counter;
            std::memcpy(&data_[size_t(b) * kBlockBytes], slot.data, kBlockBytes);
            if (slot.counter > counter_) counter_ = slot.counter;
        }
    return true;
}

void Part::sign(Frame& frame) const {
    unsigned int n = 0;
    HMAC(EVP_sha256(), key_, sizeof key_, macInput(frame), kMacBytes, frame.keyMac, &n);
}

bool Part::macValid(const Frame& frame) const {
    uint8_t mac[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key_, sizeof key_, macInput(frame), kMacBytes, mac, &n);
    return n == sizeof mac && CRYPTO_memcmp(mac, frame.keyMac, sizeof mac) == 0;
}

Frame Part::answer(const Frame& request) {
    Frame r;
    switch (typeOf(request)) {
    case kProgramKey: r = programKey(request); break;
    case kReadCounter: r = readCounter(request); break;
    case kRead: r = read(request); break;
    case kWrite: r = write(request); break;
    default:
        r = response(request, kGeneralFailure);
        break;
    }
    if (resultOf(r) != kOk) ++stats_.refused;
    return applyFaults(r);
}

Frame Part::applyFaults(Frame r) {
    const uint16_t type = typeOf(r);
    Frame genuine = r;
    if (replays_ > 0 && (replayType_ == 0 || replayType_ == type) && lastResponse_.count(type)) {
        --replays_;
        ++stats_.faults;
        r = lastResponse_[type];
    } else if (badMacs_ > 0 && type != responseOf(kProgramKey)) {
        --badMacs_;
        ++stats_.faults;
        r.keyMac[0] ^= 0x5A;
    }
    lastResponse_[type] = genuine;
    return r;
}

Frame Part::programKey(const Frame& request) {
    // The key is programmed once; a second attempt fails and changes nothing.
    if (keyProgrammed_) return response(request, kGeneralFailure);
    Header h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kVersion;
    h.keyProgrammed = 1;
    std::memcpy(h.key, request.keyMac, sizeof h.key);
    h.crc = crc32(&h, offsetof(Header, crc));
    const bool written = writeSynced(fd_, &h, sizeof h, 0);
    OPENSSL_cleanse(&h, sizeof h);
    if (!written) return response(request, kWriteFailure);
    std::memcpy(key_, request.keyMac, sizeof key_);
    keyProgrammed_ = true;
    ++stats_.keyWrites;
    return response(request, kOk);
}

Frame Part::readCounter(const Frame& request) {
    ++stats_.counterReads;
    Frame r = response(request, keyProgrammed_ ? kOk : kKeyNotProgrammed);
    std::memcpy(r.nonce, request.nonce, sizeof r.nonce);
    if (!keyProgrammed_) return r;
    put32(r.writeCounter, counter_);
    sign(r);
    return r;
}

Frame Part::read(const Frame& request) {
    if (!keyProgrammed_) return response(request, kKeyNotProgrammed);
    const uint16_t address = addressOf(request);
    uint16_t result = kOk;
    if (get16(request.blockCount) > 1) result = kGeneralFailure;
    else if (address >= kBlocks) result = kAddressFailure;
    else if (failReads_.count(address)) result = kReadFailure;
    Frame r = response(request, result);
    std::memcpy(r.nonce, request.nonce, sizeof r.nonce);
    put16(r.blockCount, 1);
    if (result == kOk) {
        ++stats_.reads;
        std::memcpy(r.data, &data_[size_t(address) * kBlockBytes], kBlockBytes);
    }
    sign(r);
    return r;
}

Frame Part::write(const Frame& request) {
    if (!keyProgrammed_) return response(request, kKeyNotProgrammed);
    const uint16_t address = addressOf(request);
    uint16_t result = kOk;
    // The order of a real part: the MAC first, then the counter, then the address.
    if (!macValid(request)) result = kAuthFailure;
    else if (counterOf(request) != counter_) result = kCounterFailure;
    else if (counter_ == 0xFFFFFFFFu) result = kWriteFailure | kCounterExpired;
    else if (get16(request.blockCount) != 1) result = kGeneralFailure;
    else if (address >= kBlocks) result = kAddressFailure;
    if (result == kOk) {
        const int slot = newestSlot_[address] == 0 ? 1 : 0;
        Slot s{};
        s.magic = kSlotMagic;
        s.counter = counter_ + 1;
        s.address = address;
        std::memcpy(s.data, request.data, kBlockBytes);
        s.crc = crc32(&s, kSlotChecked);
        if (tearNextWrite_) {
            // Power is cut half-way through the slot: the part answers nothing any more.
            writeSynced(fd_, &s, kSlotBytes / 2, slotOffset(address, slot));
            std::_Exit(3);
        }
        if (writeSynced(fd_, &s, sizeof s, slotOffset(address, slot))) {
            ++counter_;
            newestSlot_[address] = static_cast<int8_t>(slot);
            slotCounter_[address] = counter_;
            std::memcpy(&data_[size_t(address) * kBlockBytes], request.data, kBlockBytes);
            ++stats_.writes;
        } else {
            result = kWriteFailure;
        }
    }
    Frame r = response(request, result);
    put32(r.writeCounter, counter_);
    sign(r);
    return r;
}

int Part::control(uint32_t op, const uint8_t* data, size_t length, std::vector<uint8_t>& out) {
    std::vector<uint32_t> w(length / 4);
    if (!w.empty()) std::memcpy(w.data(), data, w.size() * 4);
    switch (op) {
    case ControlOp::kFailReads:
        if (w.empty() || w[0] != w.size() - 1) return EINVAL;
        failReads_.clear();
        failReads_.insert(w.begin() + 1, w.end());
        return 0;
    case ControlOp::kBadMac:
        if (w.size() != 1) return EINVAL;
        badMacs_ = w[0];
        return 0;
    case ControlOp::kReplay:
        if (w.empty() || w.size() > 2) return EINVAL;
        replays_ = w[0];
        replayType_ = w.size() == 2 ? static_cast<uint16_t>(w[1]) : 0;
        return 0;
    case ControlOp::kTearNextWrite:
        tearNextWrite_ = true;
        return 0;
    case ControlOp::kStats:
        stats_.keyProgrammed = keyProgrammed_ ? 1 : 0;
        stats_.writeCounter = counter_;
        out.resize(sizeof stats_);
        std::memcpy(out.data(), &stats_, sizeof stats_);
        return 0;
    case ControlOp::kClearFaults:
        failReads_.clear();
        badMacs_ = replays_ = 0;
        tearNextWrite_ = false;
        return 0;
    default:
        return EINVAL;
    }
}

}  // namespace veld::emmc
