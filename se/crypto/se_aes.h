// AES block cipher core (FIPS-197): key expansion and the bulk block operations that the mode
// layer (se_aes_modes.cpp) and the MACs (se_aes_mac.cpp) are built on. The operations are
// reached through an Engine: one file per engine, chosen once at run time (se_aes_engines.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::se::aes {

inline constexpr size_t kBlockSize = 16;
inline constexpr int kMaxRounds = 14;

// Expanded key: encryption round keys and the equivalent-inverse-cipher decryption round
// keys, both as big-endian column words, 4 per round.
struct Schedule {
    uint32_t enc[4 * (kMaxRounds + 1)];
    uint32_t dec[4 * (kMaxRounds + 1)];
    int rounds;  // 10 or 14
};

// Builds the schedule for a 16- or 32-byte key (24 works too; the module state refuses it).
void expandKey(Schedule& schedule, const uint8_t* key, size_t keyBytes);

// Wipes a schedule so that no round key outlives its use.
void wipe(Schedule& schedule);

// Bulk operations over whole blocks. `out` may equal `in`; `iv`/`counter` are updated in
// place (CBC: last ciphertext block; CTR: the counter after the last block).
struct Engine {
    const char* name;
    void (*encryptEcb)(const Schedule&, uint8_t* out, const uint8_t* in, size_t blocks);
    void (*decryptEcb)(const Schedule&, uint8_t* out, const uint8_t* in, size_t blocks);
    void (*encryptCbc)(const Schedule&, uint8_t* iv, uint8_t* out, const uint8_t* in,
                       size_t blocks);
    void (*decryptCbc)(const Schedule&, uint8_t* iv, uint8_t* out, const uint8_t* in,
                       size_t blocks);
    void (*ctr)(const Schedule&, uint8_t* counter, uint8_t* out, const uint8_t* in,
                size_t blocks);
    uint32_t needs = 0;        // the cpu::Feature bits the engine runs on
    bool constantTime = true;  // false for the table engine only
};

// The table engine (se_aes.cpp): the reference every other engine is tested against. It
// leaks key and data through the cache and is used only when asked for by name.
const Engine& portableEngine();
// The bit-sliced engine (se_aes_bitsliced.cpp): portable C in constant time, the default
// where the CPU has no vector or AES instructions.
const Engine& bitslicedEngine();
// The engines for one instruction set each; null when not built for this CPU family.
const Engine* aesNiEngine();  // se_aes_ni.cpp
const Engine* vaesEngine();   // se_aes_vaes.cpp
const Engine* vpermEngine();  // se_aes_vperm.cpp: SSSE3 or NEON
const Engine* vpermAvx2Engine();  // se_aes_vperm_avx2.cpp
const Engine* armCeEngine();  // se_aes_arm.cpp: ARMv8 crypto extensions
// The GFNI engine when the running CPU has GFNI, else null (se_aes_x86.cpp).
const Engine* hardwareEngine();

// Every engine built for this CPU family, in the library's order of preference (the table
// engine last). Whether the running CPU can run one is `runnable`.
struct EngineList {
    const Engine* const* items;
    size_t count;
    const Engine* const* begin() const { return items; }
    const Engine* const* end() const { return items + count; }
};
EngineList engines();
bool runnable(const Engine& e);
// The engine named `name`, or null.
const Engine* engineNamed(const char* name);

// The engine the library uses: the first runnable one of `engines()` that is constant time;
// VELD_AES_ENGINE=<name,...> picks one by name, VELD_CRYPTO_PORTABLE=1 the bit-sliced engine
// (see se_cpu.h).
const Engine& engine();

// Single blocks through the selected engine.
inline void encryptBlock(const Schedule& s, const uint8_t* in, uint8_t* out) {
    engine().encryptEcb(s, out, in, 1);
}
inline void decryptBlock(const Schedule& s, const uint8_t* in, uint8_t* out) {
    engine().decryptEcb(s, out, in, 1);
}

// Adds one to a 128-bit big-endian counter, carrying through all 16 bytes (wraps to zero).
inline void incrementCounter(uint8_t* counter) {
    for (int i = 15; i >= 0; --i) {
        if (++counter[i] != 0) break;
    }
}

}  // namespace veld::se::aes
