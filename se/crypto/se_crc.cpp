// The engine's CRC-32 variant and its exported functions (SE_CalcCRC32, SE_CalcDataCRC32 and
// the numbered alias VELD_SE_OTH000). See se_crc.h for the variant.
#include "se_crc.h"

#include <array>

#include "se_crypto_hash.h"

namespace veld::se::crc {
namespace {

// The usual MSB-first table; the data complement is taken when indexing it.
constexpr std::array<uint32_t, 256> makeTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : r << 1;
        t[i] = r;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTable = makeTable();

constexpr uint32_t updateTable(uint32_t crc, uint8_t byte) {
    return (crc << 8) ^ kTable[((crc >> 24) ^ static_cast<uint8_t>(~byte)) & 0xFF];
}

// The table form is the bit-by-bit definition.
static_assert(updateTable(0, 0x00) == updateBitwise(0, 0x00));
static_assert(updateTable(0x12345678, 0xA5) == updateBitwise(0x12345678, 0xA5));
static_assert(updateTable(0xFFFFFFFF, 0xFF) == updateBitwise(0xFFFFFFFF, 0xFF));

}  // namespace

uint32_t update(uint32_t crc, std::span<const uint8_t> data) {
    for (uint8_t b : data) crc = updateTable(crc, b);
    return crc;
}

}  // namespace veld::se::crc

extern "C" {

uint32_t SE_CalcCRC32(uint32_t crc, uint8_t byte) { return veld::se::crc::updateTable(crc, byte); }

uint32_t SE_CalcDataCRC32(const uint8_t* data, int32_t length) {
    if (length < 1 || !data) return 0;
    return veld::se::crc::update(0, std::span(data, static_cast<size_t>(length)));
}

uint32_t VELD_SE_OTH000(uint32_t crc, uint8_t byte) { return SE_CalcCRC32(crc, byte); }

}  // extern "C"
