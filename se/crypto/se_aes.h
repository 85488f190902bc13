// AES block cipher core (FIPS-197): key expansion and the bulk block operations that the mode
// layer (se_aes_modes.cpp) and the MACs (se_aes_mac.cpp) are built on. The operations are
// reached through an Engine so that a hardware-specific implementation can sit beside the
// portable one (se_aes.cpp) and be chosen once at run time.
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
};

// The portable engine: always available.
const Engine& portableEngine();
// A constant-time engine for the running CPU, or null when the CPU has none.
const Engine* hardwareEngine();
// The engine the library uses: the hardware one when present, else the portable one.
// Setting VELD_AES_PORTABLE=1 in the environment forces the portable engine.
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
