// Symmetric cipher throughput on 16 KiB buffers through our exported calls: AES-128-CBC
// encryption and decryption, AES-256-CBC encryption, AES-128-CTR and Triple DES CBC, beside
// OpenSSL (EVP) and mbedTLS, in every configuration of peer_table.h (hardware engines, no AES
// instructions, scalar, and our leaking table engine), with the engine of each row named.
#include <benchmark/benchmark.h>
#include <mbedtls/aes.h>
#include <mbedtls/des.h>
#include <openssl/evp.h>

#include <algorithm>
#include <vector>

#include "peer_table.h"
#include "se_aes.h"
#include "se_crypto_sym.h"

namespace {

constexpr size_t kSize = 16 * 1024;

const uint8_t kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                          0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                          0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
const uint8_t kIv[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

template <class F>
void run(benchmark::State& state, F f) {
    std::vector<uint8_t> in(kSize), out(kSize);
    for (size_t i = 0; i < kSize; ++i) in[i] = static_cast<uint8_t>(i * 131 + 7);
    for (auto _ : state) {
        f(out.data(), in.data(), kSize);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}

enum class Alg { kAes128CbcEnc, kAes128CbcDec, kAes256CbcEnc, kAes128Ctr, kTdesCbc };
const char* const kRows[] = {"Aes128CbcEnc", "Aes128CbcDec", "Aes256CbcEnc", "Aes128Ctr", "TdesCbc"};

bool decrypting(Alg a) { return a == Alg::kAes128CbcDec; }
int keyBits(Alg a) { return a == Alg::kAes256CbcEnc ? 256 : 128; }

void Ours(benchmark::State& state, Alg alg) {
    if (alg == Alg::kTdesCbc) {
        SE_DES_SetKey(kKey, 24, kIv);
        run(state, [](uint8_t* o, const uint8_t* i, size_t n) { SE_TDES_EncryptCBC(o, i, static_cast<int32_t>(n)); });
        return;
    }
    SE_AES_SetKey(kKey, keyBits(alg) / 8, kIv);
    auto fn = alg == Alg::kAes128Ctr ? SE_AES_EncryptCTR : decrypting(alg) ? SE_AES_DecryptCBC : SE_AES_EncryptCBC;
    run(state, [fn](uint8_t* o, const uint8_t* i, size_t n) { fn(o, i, static_cast<int32_t>(n)); });
}

void OpenSsl(benchmark::State& state, Alg alg) {
    const EVP_CIPHER* cipher = alg == Alg::kAes256CbcEnc ? EVP_aes_256_cbc()
                               : alg == Alg::kAes128Ctr  ? EVP_aes_128_ctr()
                               : alg == Alg::kTdesCbc    ? EVP_des_ede3_cbc()
                                                         : EVP_aes_128_cbc();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(ctx, cipher, nullptr, kKey, kIv, decrypting(alg) ? 0 : 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    run(state, [ctx](uint8_t* o, const uint8_t* i, size_t n) {
        int len = 0;
        EVP_CipherUpdate(ctx, o, &len, i, static_cast<int>(n));
    });
    EVP_CIPHER_CTX_free(ctx);
}

void MbedTls(benchmark::State& state, Alg alg) {
    uint8_t iv[16];
    std::copy(kIv, kIv + 16, iv);
    if (alg == Alg::kTdesCbc) {
        mbedtls_des3_context ctx;
        mbedtls_des3_init(&ctx);
        mbedtls_des3_set3key_enc(&ctx, kKey);
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) { mbedtls_des3_crypt_cbc(&ctx, MBEDTLS_DES_ENCRYPT, n, iv, i, o); });
        mbedtls_des3_free(&ctx);
        return;
    }
    mbedtls_aes_context ctx;
    mbedtls_aes_init(&ctx);
    if (decrypting(alg)) {
        mbedtls_aes_setkey_dec(&ctx, kKey, keyBits(alg));
    } else {
        mbedtls_aes_setkey_enc(&ctx, kKey, keyBits(alg));
    }
    if (alg == Alg::kAes128Ctr) {
        size_t offset = 0;
        uint8_t block[16];
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) { mbedtls_aes_crypt_ctr(&ctx, n, &offset, iv, block, i, o); });
    } else {
        const int mode = decrypting(alg) ? MBEDTLS_AES_DECRYPT : MBEDTLS_AES_ENCRYPT;
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) { mbedtls_aes_crypt_cbc(&ctx, mode, n, iv, i, o); });
    }
    mbedtls_aes_free(&ctx);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> rows;
    for (int a = 0; a < 5; ++a) {
        const Alg alg = static_cast<Alg>(a);
        const std::string row = kRows[a];
        rows.push_back(row);
        benchmark::RegisterBenchmark((row + "_Ours").c_str(), Ours, alg);
        benchmark::RegisterBenchmark((row + "_OpenSsl").c_str(), OpenSsl, alg);
        benchmark::RegisterBenchmark((row + "_MbedTls").c_str(), MbedTls, alg);
    }
    veld::bench::PeerBench bench(
        "MB/s on 16384-byte buffers", "bytes_per_second", 1e-6, rows,
        [](const std::string& row) { return row == "TdesCbc" ? std::string("des") : veld::se::aes::engine().name; },
        true);
    return bench.main(argc, argv);
}
