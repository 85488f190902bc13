// DES block cipher core (FIPS 46-3) and Triple DES in EDE form (SP 800-67): key schedules and
// the block function used by the exported DES/TDES modes in se_des.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veld::se::des {

inline constexpr size_t kBlockSize = 8;

// Round keys of one DES key: per round the eight 6-bit S-box key inputs, arranged in two
// words in the byte positions the round function uses.
struct Schedule {
    uint32_t subkeys[16][2];
};

// One DES key (count 1) or the three keys of Triple DES EDE (count 3).
struct KeySet {
    Schedule keys[3];
    int count;
};

// Builds the schedule of an 8-byte key (parity bits ignored).
void expandKey(Schedule& schedule, const uint8_t* key);

// Enciphers one block given as a big-endian 64-bit value. With three keys: encrypt under
// K1, decrypt under K2, encrypt under K3; decryption runs that backwards.
uint64_t cryptBlock(const KeySet& keys, bool decrypt, uint64_t block);

}  // namespace veld::se::des
