// RSA and Diffie-Hellman keys in DER (X.690): the readers of PKCS #1 RSAPublicKey and
// RSAPrivateKey, PKCS #8 PrivateKeyInfo and PKCS #3 DHParameter into the library's blobs, the
// PKCS #1 public-key writer and the length writer.
//
// These parse keys that come from outside, so the readers are strict: one complete structure,
// no trailing bytes, every length inside its parent, non-negative minimal integers, moduli of at
// most 4096 bits. Lengths are accepted in the short form and the 0x81 and 0x82 long forms (the
// length writer itself uses 0x81 for 127).
#include <algorithm>
#include <cstring>

#include "se_crypto_rsa.h"
#include "se_der.h"
#include "veldcore.h"

namespace veld::se::der {
namespace {

constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kSequence = 0x30;
constexpr size_t kMaxModulusBytes = 512;
// rsaEncryption, 1.2.840.113549.1.1.1
constexpr uint8_t kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};

// The engine's log object; registering a known name returns its existing handle.
int32_t engineLog() {
    static int32_t handle = -1;
    if (handle < 0) handle = VELD_LOGM_ObjRegister("vek-se");
    return handle;
}

using Field = std::span<const uint8_t>;

size_t blobSize(std::span<const Field> fields) {
    size_t n = 0;
    for (const Field& f : fields) n += 2 + f.size();
    return n;
}

int32_t writeBlob(uint8_t* out, size_t room, std::span<const Field> fields) {
    const size_t total = blobSize(fields);
    if (total > room || total > 0x7FFFFFFF) return -1;
    uint8_t* p = out;
    for (const Field& f : fields) {
        *p++ = static_cast<uint8_t>(f.size());
        *p++ = static_cast<uint8_t>(f.size() >> 8);
        std::memcpy(p, f.data(), f.size());
        p += f.size();
    }
    return static_cast<int32_t>(total);
}

bool modulusFits(const Field& n) { return n.size() <= kMaxModulusBytes; }

// RSAPrivateKey ::= SEQUENCE { version 0, n, e, d, p, q, dp, dq, qinv } (two primes only).
bool readPrivateKey(Reader& in, Field (&fields)[8]) {
    Reader seq;
    uint32_t version = 0;
    if (!in.enter(kSequence, seq) || !in.empty()) return false;
    if (!seq.smallInteger(version) || version != 0) return false;
    for (Field& f : fields) {
        if (!seq.integer(f, kMaxModulusBytes)) return false;
    }
    return seq.empty() && modulusFits(fields[0]);
}

}  // namespace

bool Reader::readLength(size_t& length) {
    if (left_ == 0) return false;
    const uint8_t first = *p_++;
    --left_;
    if (first < 0x80) {
        length = first;
    } else if (first == 0x81 || first == 0x82) {
        const size_t bytes = first & 0x7F;
        if (left_ < bytes) return false;
        length = 0;
        for (size_t i = 0; i < bytes; ++i) length = (length << 8) | *p_++;
        left_ -= bytes;
    } else {
        VELD_LOGM_WriteLog(engineLog(), 1, "_BER_ReadLength", __LINE__, "%x\n", first);
        return false;
    }
    return length <= left_;
}

bool Reader::enter(uint8_t tag, Reader& contents) {
    if (left_ == 0 || *p_ != tag) return false;
    ++p_;
    --left_;
    size_t length = 0;
    if (!readLength(length)) return false;
    contents = Reader(p_, length);
    p_ += length;
    left_ -= length;
    return true;
}

bool Reader::integer(std::span<const uint8_t>& value, size_t maxBytes) {
    Reader c;
    if (!enter(kInteger, c) || c.left_ == 0) return false;
    const uint8_t* v = c.p_;
    size_t n = c.left_;
    if (v[0] & 0x80) return false;  // negative
    if (n > 1 && v[0] == 0) {
        if ((v[1] & 0x80) == 0) return false;  // not minimal
        ++v;
        --n;
    }
    if (n > maxBytes) return false;
    value = {v, n};
    return true;
}

bool Reader::smallInteger(uint32_t& value) {
    std::span<const uint8_t> v;
    if (!integer(v, 4)) return false;
    value = 0;
    for (uint8_t b : v) value = (value << 8) | b;
    return true;
}

bool Reader::holds(std::span<const uint8_t> bytes) const {
    return left_ == bytes.size() && std::equal(bytes.begin(), bytes.end(), p_);
}

bool Reader::skipOptional(uint8_t tag, bool& present) {
    present = peekTag() == tag;
    if (!present) return true;
    Reader ignored;
    return enter(tag, ignored);
}

}  // namespace veld::se::der

using namespace veld::se::der;

extern "C" {

int32_t _BER_WriteLength(uint8_t* out, int32_t length) {
    if (length < 0 || length > 0xFFFF) return -1;
    if (length < 127) {
        if (out) out[0] = static_cast<uint8_t>(length);
        return 1;
    }
    if (length < 255) {
        if (out) {
            out[0] = 0x81;
            out[1] = static_cast<uint8_t>(length);
        }
        return 2;
    }
    if (out) {
        out[0] = 0x82;
        out[1] = static_cast<uint8_t>(length >> 8);
        out[2] = static_cast<uint8_t>(length);
    }
    return 3;
}

int32_t SE_RSA_ReadPKCS1_PublicKey(uint8_t* out, const uint8_t* der, int32_t length) {
    if (!out || !der || length <= 0) return -1;
    Reader in(der, static_cast<size_t>(length)), seq;
    Field fields[2];
    if (!in.enter(kSequence, seq) || !in.empty()) return -1;
    if (!seq.integer(fields[0], kMaxModulusBytes) || !seq.integer(fields[1], kMaxModulusBytes) ||
        !seq.empty() || !modulusFits(fields[0])) {
        return -1;
    }
    return writeBlob(out, static_cast<size_t>(length), fields);
}

int32_t SE_RSA_ReadPKCS1_PrivateKey(uint8_t* out, const uint8_t* der, int32_t length) {
    if (!out || !der || length <= 0) return -1;
    Reader in(der, static_cast<size_t>(length));
    Field fields[8];
    if (!readPrivateKey(in, fields)) return -1;
    return writeBlob(out, static_cast<size_t>(length), fields);
}

int32_t SE_RSA_ReadPKCS8(uint8_t* out, const uint8_t* der, int32_t length) {
    if (!out || !der || length <= 0) return -1;
    // PrivateKeyInfo ::= SEQUENCE { version, AlgorithmIdentifier, OCTET STRING privateKey,
    //                               [0] attributes OPTIONAL, [1] publicKey OPTIONAL }
    Reader in(der, static_cast<size_t>(length)), seq, algorithm, oid, key;
    uint32_t version = 0;
    if (!in.enter(kSequence, seq) || !in.empty()) return -1;
    if (!seq.smallInteger(version) || version > 1) return -1;
    if (!seq.enter(kSequence, algorithm) || !algorithm.enter(kOid, oid)) return -1;
    if (!oid.holds(kRsaEncryption)) return -1;
    bool present = false;
    if (!algorithm.skipOptional(kNull, present) || !algorithm.empty()) return -1;
    if (!seq.enter(kOctetString, key)) return -1;
    if (!seq.skipOptional(0xA0, present)) return -1;
    if (!seq.skipOptional(0x81, present) || !seq.skipOptional(0xA1, present)) return -1;
    if (!seq.empty()) return -1;
    Field fields[8];
    if (!readPrivateKey(key, fields)) return -1;
    return writeBlob(out, static_cast<size_t>(length), fields);
}

int32_t SE_RSA_ExportPKCS1_PublicKey(uint8_t* out, const uint8_t* blob, int32_t length) {
    if (!blob || length < 4) return -1;
    Field fields[2];
    size_t pos = 0;
    const size_t total = static_cast<size_t>(length);
    for (Field& f : fields) {
        if (total - pos < 2) return -1;
        const size_t n = blob[pos] | (static_cast<size_t>(blob[pos + 1]) << 8);
        pos += 2;
        if (n == 0 || n > total - pos) return -1;
        f = {blob + pos, n};
        pos += n;
        // Minimal magnitude: no leading zero bytes, at least one byte.
        while (f.size() > 1 && f[0] == 0) f = f.subspan(1);
        if (f.size() > kMaxModulusBytes) return -1;
    }
    size_t contents[2];
    size_t body = 0;
    for (int i = 0; i < 2; ++i) {
        contents[i] = fields[i].size() + ((fields[i][0] & 0x80) ? 1 : 0);
        body += 1 + static_cast<size_t>(_BER_WriteLength(nullptr, static_cast<int32_t>(contents[i]))) +
                contents[i];
    }
    const int32_t seqLen = _BER_WriteLength(nullptr, static_cast<int32_t>(body));
    if (seqLen < 0) return -1;
    const int32_t total_ = static_cast<int32_t>(1 + static_cast<size_t>(seqLen) + body);
    if (!out) return total_;
    uint8_t* p = out;
    *p++ = kSequence;
    p += _BER_WriteLength(p, static_cast<int32_t>(body));
    for (int i = 0; i < 2; ++i) {
        *p++ = kInteger;
        p += _BER_WriteLength(p, static_cast<int32_t>(contents[i]));
        if (contents[i] > fields[i].size()) *p++ = 0;
        std::memcpy(p, fields[i].data(), fields[i].size());
        p += fields[i].size();
    }
    return total_;
}

int32_t SE_RSA_ReadPKCS3(uint8_t* out, const uint8_t* der, int32_t length) {
    if (!out || !der || length <= 0) return -1;
    // DHParameter ::= SEQUENCE { prime, base, privateValueLength INTEGER OPTIONAL }
    Reader in(der, static_cast<size_t>(length)), seq;
    Field prime, base;
    if (!in.enter(kSequence, seq) || !in.empty()) return -1;
    if (!seq.integer(prime, kMaxModulusBytes) || !seq.integer(base, kMaxModulusBytes)) return -1;
    if ((prime.back() & 1) == 0 || (prime.size() == 1 && prime[0] < 5)) return -1;
    if (base.size() > prime.size() || (base.size() == 1 && base[0] < 2)) return -1;
    size_t xBytes = prime.size();
    if (!seq.empty()) {
        uint32_t bits = 0;
        if (!seq.smallInteger(bits) || !seq.empty()) return -1;
        if (bits == 0 || bits > 8 * prime.size()) return -1;
        xBytes = (bits + 7) / 8;
    }
    const size_t total = 4 + prime.size() + xBytes;
    if (total > 2 * static_cast<size_t>(length)) return -1;
    uint8_t* p = out;
    *p++ = static_cast<uint8_t>(prime.size());
    *p++ = static_cast<uint8_t>(prime.size() >> 8);
    std::memcpy(p, prime.data(), prime.size());
    p += prime.size();
    *p++ = static_cast<uint8_t>(xBytes);
    *p++ = static_cast<uint8_t>(xBytes >> 8);
    std::memset(p, 0, xBytes);
    return static_cast<int32_t>(total);
}

int32_t VELD_SE_OTH001(uint8_t* out, const uint8_t* der, int32_t length) {
    return SE_RSA_ReadPKCS8(out, der, length);
}

int32_t VELD_SE_OTH002(uint8_t* out, const uint8_t* der, int32_t length) {
    return SE_RSA_ReadPKCS3(out, der, length);
}

}  // extern "C"
