// The checks every crypto engine must pass, without a test framework, so that the unit tests
// (aes_engines_test.cpp, sha_engines_test.cpp) and the cross-build check that runs under
// qemu-user (cross/engine_check.cpp) hold each engine to exactly the same cases. Each check
// returns an empty string on success, else a description of the first mismatch.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "se_aes.h"
#include "se_bigint.h"
#include "se_sha.h"

namespace enginecheck {

using Bytes = std::vector<uint8_t>;

inline Bytes randomBytes(std::mt19937& rng, size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

inline Bytes fromHex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1]; p += 2) {
        auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        out.push_back(static_cast<uint8_t>(nibble(p[0]) << 4 | nibble(p[1])));
    }
    return out;
}

// FIPS-197 C.1 and C.3, seventeen copies so that every group path of the wide engines runs.
inline std::string aesVectors(const veld::se::aes::Engine& e) {
    using namespace veld::se::aes;
    const struct {
        const char* key;
        const char* cipher;
    } rows[] = {{"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
                {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                 "8ea2b7ca516745bfeafc49904b496089"}};
    const Bytes plain = fromHex("00112233445566778899aabbccddeeff");
    for (const auto& r : rows) {
        const Bytes key = fromHex(r.key), cipher = fromHex(r.cipher);
        Schedule ks;
        expandKey(ks, key.data(), key.size());
        Bytes in, expected;
        for (int i = 0; i < 17; ++i) {
            in.insert(in.end(), plain.begin(), plain.end());
            expected.insert(expected.end(), cipher.begin(), cipher.end());
        }
        Bytes out(in.size());
        e.encryptEcb(ks, out.data(), in.data(), 17);
        if (out != expected) return std::to_string(key.size() * 8) + "-bit FIPS-197 encryption";
        e.decryptEcb(ks, out.data(), out.data(), 17);
        if (out != in) return std::to_string(key.size() * 8) + "-bit FIPS-197 decryption";
    }
    return {};
}

// Every bulk operation against the reference over block counts that cross every group size,
// in place and not, with the counter's low half carrying inside the run.
inline std::string aesAgainst(const veld::se::aes::Engine& e, const veld::se::aes::Engine& ref) {
    using namespace veld::se::aes;
    std::mt19937 rng(11);
    const char* names[] = {"ECB encryption", "ECB decryption", "CBC encryption",
                           "CBC decryption", "CTR"};
    for (size_t keyBytes : {16u, 32u}) {
        Schedule ks;
        const Bytes key = randomBytes(rng, keyBytes);
        expandKey(ks, key.data(), keyBytes);
        for (size_t blocks : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 24u, 31u, 33u, 100u}) {
            for (bool inPlace : {false, true}) {
                const Bytes data = randomBytes(rng, blocks * 16);
                Bytes iv = randomBytes(rng, 16);
                for (int i = 8; i < 16; ++i) iv[i] = 0xff;
                iv[15] = static_cast<uint8_t>(0xff - blocks / 2);
                for (int op = 0; op < 5; ++op) {
                    Bytes a(data.size()), b = data, ivA = iv, ivB = iv;
                    auto run = [&](const Engine& x, uint8_t* v, uint8_t* o, const uint8_t* i) {
                        switch (op) {
                        case 0: x.encryptEcb(ks, o, i, blocks); break;
                        case 1: x.decryptEcb(ks, o, i, blocks); break;
                        case 2: x.encryptCbc(ks, v, o, i, blocks); break;
                        case 3: x.decryptCbc(ks, v, o, i, blocks); break;
                        default: x.ctr(ks, v, o, i, blocks); break;
                        }
                    };
                    run(ref, ivA.data(), a.data(), data.data());
                    run(e, ivB.data(), b.data(), inPlace ? b.data() : data.data());
                    if (a != b || ivA != ivB) {
                        std::ostringstream s;
                        s << names[op] << " differs: " << keyBytes * 8 << "-bit key, " << blocks
                          << " blocks" << (inPlace ? " in place" : "")
                          << (a == b ? " (vector only)" : "");
                        return s.str();
                    }
                }
            }
        }
    }
    // A counter of all ones wraps to zero.
    Schedule ks;
    const Bytes key = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
    expandKey(ks, key.data(), 16);
    const Bytes zeros(40 * 16, 0);
    Bytes a(zeros.size()), b(zeros.size()), ivA(16, 0xff), ivB(16, 0xff);
    ivA[15] = ivB[15] = 0xf0;
    ref.ctr(ks, ivA.data(), a.data(), zeros.data(), 40);
    e.ctr(ks, ivB.data(), b.data(), zeros.data(), 40);
    if (a != b || ivB != fromHex("00000000000000000000000000000018")) return "CTR wrap of all ones";
    return {};
}

// FIPS 180 "abc" for SHA-1 and SHA-256, and random runs against the portable functions.
inline std::string shaCheck(const veld::se::sha::BlockEngine& e) {
    using namespace veld::se::sha;
    Bytes block(64, 0);
    block[0] = 'a';
    block[1] = 'b';
    block[2] = 'c';
    block[3] = 0x80;
    block[63] = 24;
    std::array<uint32_t, 5> h1 = kSha1Iv;
    e.sha1(h1.data(), block.data(), 1);
    if (h1 != std::array<uint32_t, 5>{0xa9993e36, 0x4706816a, 0xba3e2571, 0x7850c26c, 0x9cd0d89d}) {
        return "SHA-1 of \"abc\"";
    }
    std::array<uint32_t, 8> h2 = kSha256Iv;
    e.sha256(h2.data(), block.data(), 1);
    if (h2 != std::array<uint32_t, 8>{0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223, 0xb00361a3,
                                      0x96177a9c, 0xb410ff61, 0xf20015ad}) {
        return "SHA-256 of \"abc\"";
    }
    std::mt19937 rng(21);
    for (size_t blocks : {0u, 1u, 2u, 3u, 7u, 64u}) {
        const Bytes data = randomBytes(rng, 64 * blocks);
        std::array<uint32_t, 5> a1, b1;
        std::array<uint32_t, 8> a2, b2;
        for (auto& w : a1) w = static_cast<uint32_t>(rng());
        for (auto& w : a2) w = static_cast<uint32_t>(rng());
        b1 = a1;
        b2 = a2;
        sha1BlocksPortable(a1.data(), data.data(), blocks);
        e.sha1(b1.data(), data.data(), blocks);
        if (a1 != b1) return "SHA-1 differs over " + std::to_string(blocks) + " blocks";
        sha256BlocksPortable(a2.data(), data.data(), blocks);
        e.sha256(b2.data(), data.data(), blocks);
        if (a2 != b2) return "SHA-256 differs over " + std::to_string(blocks) + " blocks";
    }
    return {};
}

// Modular powers with the fast row function of the Montgomery engine against the portable
// one, secret and public, on random odd moduli of 64 to 2048 bits, and 4^13 mod 497 = 445.
// Leaves the portable row function selected when `fast` cannot run.
inline std::string montCheck() {
    using namespace veld::se::bn;
    if (!rowEngineRunnable(RowEngine::kFast)) return {};
    std::vector<uint8_t> pool(kPoolSize);
    poolAttach(pool.data());
    const RowEngine saved = rowEngine();
    std::string error;
    auto power = [&](RowEngine e, const std::vector<uint32_t>& mod, const std::vector<uint32_t>& base,
                     const std::vector<uint32_t>& exp, bool secret) {
        setRowEngine(e);
        Mont m;
        std::vector<uint32_t> r;
        if (montSetup(m, mod)) {
            r.resize(static_cast<size_t>(m.limbs) * kDigitsPerLimb);  // m's digit count
            if (!modPower(r.data(), base, exp, static_cast<int>(32 * exp.size()), m, secret)) {
                error = "modPower failed";
            }
            r.resize(mod.size());
        } else {
            error = "montSetup failed";
        }
        montClear(m);
        return r;
    };
    if (power(RowEngine::kFast, {497}, {4}, {13}, true) != std::vector<uint32_t>{445}) error = "4^13 mod 497";
    std::mt19937 rng(31);
    for (int digits : {2, 3, 16, 17, 32, 64}) {
        for (bool secret : {false, true}) {
            std::vector<uint32_t> mod(digits), base(digits), exp(digits);
            for (auto* v : {&mod, &base, &exp}) {
                for (auto& d : *v) d = static_cast<uint32_t>(rng());
            }
            mod[0] |= 1;
            mod.back() |= 0x80000000u;
            base.back() = 0xffffffffu;  // above the modulus: reduced first
            if (power(RowEngine::kFast, mod, base, exp, secret) !=
                power(RowEngine::kPortable, mod, base, exp, secret)) {
                error = std::to_string(32 * digits) + "-bit modular power differs";
            }
        }
    }
    setRowEngine(saved);
    poolClear();
    poolAttach(nullptr);
    return error;
}

}  // namespace enginecheck
