// The vector-permute AES rounds, written once over a byte vector type V for the engines that
// use them: se_aes_vperm.cpp (SSSE3 or NEON, one block per vector) and se_aes_vperm_avx2.cpp
// (AVX2, two blocks per vector). The including file provides, in its own anonymous namespace
// and compiled for its instruction set: V, broadcast16 (16 bytes into every 16-byte lane),
// vxor, lookup (per-lane byte permute; an index with the top bit set gives 0), lowNibbles and
// highNibbles; then includes this file (defining VELD_VPERM_ONE_BLOCK_PER_VECTOR first, with
// load and store, when V holds one block). The tables and their reasoning are in
// se_aes_vperm_tables.h.
//
// Every S-box is computed, not looked up: the inversion in GF(2^8) runs in a tower field where
// it takes five 16-entry look-ups by nibble, and each 16-entry table sits in one register, so
// the permute reads all of it whatever the index. MixColumns/InvMixColumns are folded into
// the output tables plus row rotations.
// No include guard: each engine file includes it once, inside its anonymous namespace.

using vperm::kTables;
using vperm::Table;

inline V table(const Table& t) { return broadcast16(t.data()); }

// ---- constants ------------------------------------------------------------------------------

// Byte permutations of the state (byte 4 * column + row): ShiftRows, InvShiftRows, and each
// column's rows rotated up by one and by two.
struct Permutation {
    uint8_t index[16];
};
constexpr Permutation permutation(int shift, int rotate) {
    Permutation p{};
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            const int from = (col + shift * row + 16) % 4;
            p.index[4 * col + row] = static_cast<uint8_t>(4 * from + (row + rotate) % 4);
        }
    }
    return p;
}
constexpr Permutation kShiftRows = permutation(1, 0), kInvShiftRows = permutation(-1, 0);
constexpr Permutation kRot1 = permutation(0, 1), kRot2 = permutation(0, 2);
constexpr Permutation kShiftRowsRot1 = permutation(1, 1), kShiftRowsRot2 = permutation(1, 2);
constexpr Permutation kWordSwap = {{3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12}};

struct Consts {
    V inv, invScaled, shiftRows, invShiftRows, rot1, rot2, shiftRowsRot1, shiftRowsRot2;
    V outIo[4], outJo[4];  // encryption: S, 2S; decryption: 14, 11, 13, 9 times the inverse
    V lastIo, lastJo;
    explicit Consts(bool decrypt)
        : inv(table(kTables.inv)), invScaled(table(kTables.invScaled)),
          shiftRows(broadcast16(kShiftRows.index)), invShiftRows(broadcast16(kInvShiftRows.index)),
          rot1(broadcast16(kRot1.index)), rot2(broadcast16(kRot2.index)),
          shiftRowsRot1(broadcast16(kShiftRowsRot1.index)),
          shiftRowsRot2(broadcast16(kShiftRowsRot2.index)) {
        const Table* io[4] = {&kTables.encIo, &kTables.enc2Io, nullptr, nullptr};
        const Table* jo[4] = {&kTables.encJo, &kTables.enc2Jo, nullptr, nullptr};
        if (decrypt) {
            const Table* dio[4] = {&kTables.dec14Io, &kTables.dec11Io, &kTables.dec13Io, &kTables.dec9Io};
            const Table* djo[4] = {&kTables.dec14Jo, &kTables.dec11Jo, &kTables.dec13Jo, &kTables.dec9Jo};
            std::memcpy(io, dio, sizeof io);
            std::memcpy(jo, djo, sizeof jo);
        }
        for (int i = 0; i < 4; ++i) {
            outIo[i] = io[i] ? table(*io[i]) : V{};
            outJo[i] = jo[i] ? table(*jo[i]) : V{};
        }
        lastIo = table(decrypt ? kTables.decLastIo : kTables.lastIo);
        lastJo = table(decrypt ? kTables.decLastJo : kTables.lastJo);
    }
};

inline V mapBytes(const vperm::NibbleMap& m, V x) {
    return vxor(lookup(table(m.lo), lowNibbles(x)), lookup(table(m.hi), highNibbles(x)));
}

inline V splat(uint8_t b) {
    uint8_t bytes[16];
    std::memset(bytes, b, 16);
    return broadcast16(bytes);
}

// Round keys in the state's representation: the tower for the inner rounds (with the affine
// constant folded in), plain bytes for the last. Wiped when the bulk call ends.
struct Keys {
    V rk[kMaxRounds + 1];
    int rounds;
    bool decrypt;
    Keys(const Schedule& ks, bool dec) : rounds(ks.rounds), decrypt(dec) {
        const uint32_t* words = dec ? ks.dec : ks.enc;
        const vperm::NibbleMap& map = dec ? kTables.toDecTower : kTables.toTower;
        // Encryption folds SubBytes' 0x63 into every key after the first; decryption carries
        // InvSubBytes' 0x05 (its constant before the inversion) in the state.
        const V inner = dec ? splat(vperm::kMaps.toTower[0x05])
                            : mapBytes(map, splat(0x63));
        const V swap = broadcast16(kWordSwap.index);
        for (int r = 0; r <= rounds; ++r) {
            const V bytes = lookup(broadcast16(reinterpret_cast<const uint8_t*>(words + 4 * r)), swap);
            if (r == rounds) {
                rk[r] = dec ? bytes : vxor(bytes, splat(0x63));
            } else if (r == 0) {
                rk[r] = dec ? vxor(mapBytes(map, bytes), inner) : mapBytes(map, bytes);
            } else {
                rk[r] = vxor(mapBytes(map, bytes), inner);
                // The encryption state is kept shifted for the next round (see encryptN).
                if (!dec) rk[r] = lookup(rk[r], broadcast16(kShiftRows.index));
            }
        }
    }
    ~Keys() {
        volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(rk);
        for (size_t i = 0; i < sizeof rk; ++i) p[i] = 0;
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
};

// ---- rounds ---------------------------------------------------------------------------------

// The two nibble values that determine the inverse of each byte (see the tables' header).
inline void inverseParts(V s, const Consts& c, V& io, V& jo) {
    const V i = highNibbles(s), k = lowNibbles(s), j = vxor(i, k);
    const V mk = lookup(c.invScaled, k);
    io = vxor(j, lookup(c.inv, vxor(lookup(c.inv, i), mk)));
    jo = vxor(i, lookup(c.inv, vxor(lookup(c.inv, j), mk)));
}

// The state between rounds is kept with the next round's ShiftRows already applied: it is
// folded into the permutations of MixColumns (and into the round keys), which keeps one
// permute off the serial path of CBC encryption.
template <int N>
void encryptN(V* s, const Keys& k, const Consts& c, const vperm::NibbleMap& in) {
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) s[b] = lookup(vxor(mapBytes(in, s[b]), k.rk[0]), c.shiftRows);
    for (int r = 1; r < k.rounds; ++r) {
#pragma GCC unroll 8
        for (int b = 0; b < N; ++b) {
            V io, jo;
            inverseParts(s[b], c, io, jo);
            const V u = vxor(lookup(c.outIo[0], io), lookup(c.outJo[0], jo));
            const V v = vxor(lookup(c.outIo[1], io), lookup(c.outJo[1], jo));
            // MixColumns: 2u_r ^ 3u_r+1 ^ u_r+2 ^ u_r+3 with v = 2u, then ShiftRows. Each
            // term joins the sum as soon as it is ready (the round key with the first), which
            // keeps the serial path of CBC encryption one step shorter.
            const V first = vxor(lookup(v, c.shiftRows), k.rk[r]);
            const V second = vxor(first, lookup(vxor(v, u), c.shiftRowsRot1));
            s[b] = vxor(second, lookup(vxor(u, lookup(u, c.rot1)), c.shiftRowsRot2));
        }
    }
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) {
        V io, jo;
        inverseParts(s[b], c, io, jo);
        s[b] = vxor(vxor(lookup(c.lastIo, io), lookup(c.lastJo, jo)), k.rk[k.rounds]);
    }
}

template <int N>
void decryptN(V* s, const Keys& k, const Consts& c, const vperm::NibbleMap& in) {
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) s[b] = vxor(mapBytes(in, s[b]), k.rk[0]);
    for (int r = 1; r < k.rounds; ++r) {
#pragma GCC unroll 8
        for (int b = 0; b < N; ++b) {
            V io, jo;
            inverseParts(lookup(s[b], c.invShiftRows), c, io, jo);
            V t[4];
#pragma GCC unroll 8
            for (int f = 0; f < 4; ++f) t[f] = vxor(lookup(c.outIo[f], io), lookup(c.outJo[f], jo));
            // InvMixColumns: 14y_r ^ 11y_r+1 ^ 13y_r+2 ^ 9y_r+3.
            const V mixed = vxor(t[0], lookup(vxor(t[1], lookup(vxor(t[2], lookup(t[3], c.rot1)), c.rot1)), c.rot1));
            s[b] = vxor(mixed, k.rk[r]);
        }
    }
#pragma GCC unroll 8
    for (int b = 0; b < N; ++b) {
        V io, jo;
        inverseParts(lookup(s[b], c.invShiftRows), c, io, jo);
        s[b] = vxor(vxor(lookup(c.lastIo, io), lookup(c.lastJo, jo)), k.rk[k.rounds]);
    }
}

// The key, tables and round functions of one bulk call in one direction.
template <bool kDecrypt>
struct Cipher {
    Keys keys;
    Consts consts;
    explicit Cipher(const Schedule& ks) : keys(ks, kDecrypt), consts(kDecrypt) {}
    template <int N>
    void run(V* s) const {
        if constexpr (kDecrypt) {
            decryptN<N>(s, keys, consts, kTables.toDecTower);
        } else {
            encryptN<N>(s, keys, consts, kTables.toTower);
        }
    }
};

#if defined(VELD_VPERM_ONE_BLOCK_PER_VECTOR)
// CBC encryption is serial: one block at a time, for the includers whose V holds one block
// (they provide load and store as well).
void encryptCbcSerial(const Schedule& ks, uint8_t* iv, uint8_t* out, const uint8_t* in,
                      size_t blocks) {
    const Cipher<false> cipher(ks);
    V chain = load(iv);
    for (size_t i = 0; i < blocks; ++i) {
        chain = vxor(chain, load(in + 16 * i));
        cipher.template run<1>(&chain);
        store(out + 16 * i, chain);
    }
    store(iv, chain);
}
#endif
