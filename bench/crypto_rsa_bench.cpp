// RSA-2048 raw private (CRT) and public operations per second: our exported functions beside
// OpenSSL (EVP, no padding) and mbedTLS, on one key that OpenSSL generates at start, in every
// configuration of peer_table.h (our mulx/adx rows against OpenSSL's default path; our portable
// rows against OpenSSL's scalar code), with the row function of each row named.
//
// Our key serves one operation, so each of our iterations imports the key blob again
// (SE_RSA_SetKey) and then exponentiates; that import is part of what a caller pays. All
// three private operations are blinded.
#include <benchmark/benchmark.h>
#if VELD_BENCH_MBEDTLS  // mbedTLS installed (bench/CMakeLists.txt)
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#endif
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "peer_table.h"
#include "se_bigint.h"
#include "se_crypto_rsa.h"

namespace {

constexpr int kBits = 2048;
constexpr size_t kBytes = kBits / 8;

struct Fixture {
    EVP_PKEY* pkey = nullptr;
    std::vector<uint8_t> der;          // PKCS #1 RSAPrivateKey
    std::vector<uint8_t> privateBlob;  // all eight fields
    std::vector<uint8_t> publicBlob;   // n, e
    std::vector<uint8_t> message;      // below n
    std::vector<uint8_t> cipher;       // message^e
    std::vector<uint8_t> pool = std::vector<uint8_t>(SE_BI_POOL_SIZE);
};

Fixture& fixture() {
    static Fixture f = [] {
        Fixture f;
        f.pkey = EVP_RSA_gen(kBits);
        unsigned char* der = nullptr;
        const int len = i2d_PrivateKey(f.pkey, &der);
        f.der.assign(der, der + len);
        OPENSSL_free(der);
        f.privateBlob.resize(f.der.size());
        const int32_t n = SE_RSA_ReadPKCS1_PrivateKey(f.privateBlob.data(), f.der.data(), len);
        if (n <= 0) std::abort();
        f.privateBlob.resize(static_cast<size_t>(n));
        size_t pos = 0;
        for (int i = 0; i < 2; ++i) pos += 2 + (f.privateBlob[pos] | (f.privateBlob[pos + 1] << 8));
        f.publicBlob.assign(f.privateBlob.begin(), f.privateBlob.begin() + static_cast<long>(pos));
        std::mt19937 rng(1);
        f.message.resize(kBytes);
        for (auto& b : f.message) b = static_cast<uint8_t>(rng());
        f.message[0] = 0;
        SE_RSA_Init(f.pool.data());
        f.cipher.resize(kBytes);
        SE_RSA_SetKey(f.publicBlob.data(), static_cast<int32_t>(f.publicBlob.size()));
        SE_RSA_Exponentiation(f.cipher.data(), f.message.data(), kBytes, 0);
        return f;
    }();
    return f;
}

void ours(benchmark::State& state, bool isPrivate) {
    Fixture& f = fixture();
    const auto& blob = isPrivate ? f.privateBlob : f.publicBlob;
    const auto& in = isPrivate ? f.cipher : f.message;
    std::vector<uint8_t> out(kBytes);
    for (auto _ : state) {
        SE_RSA_SetKey(blob.data(), static_cast<int32_t>(blob.size()));
        if (SE_RSA_Exponentiation(out.data(), in.data(), kBytes, isPrivate) != static_cast<int32_t>(kBytes)) {
            state.SkipWithError("operation failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    if (isPrivate && out != f.message) state.SkipWithError("wrong result");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void openssl(benchmark::State& state, bool isPrivate) {
    Fixture& f = fixture();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f.pkey, nullptr);
    if (isPrivate) {
        EVP_PKEY_decrypt_init(ctx);
    } else {
        EVP_PKEY_encrypt_init(ctx);
    }
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
    const auto& in = isPrivate ? f.cipher : f.message;
    std::vector<uint8_t> out(kBytes);
    for (auto _ : state) {
        size_t len = kBytes;
        const int r = isPrivate ? EVP_PKEY_decrypt(ctx, out.data(), &len, in.data(), kBytes)
                                : EVP_PKEY_encrypt(ctx, out.data(), &len, in.data(), kBytes);
        if (r <= 0) {
            state.SkipWithError("operation failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    EVP_PKEY_CTX_free(ctx);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

#if VELD_BENCH_MBEDTLS
int mbedRandom(void*, unsigned char* out, size_t len) {
    static std::mt19937 rng(3);
    for (size_t i = 0; i < len; ++i) out[i] = static_cast<unsigned char>(rng());
    return 0;
}

void mbed(benchmark::State& state, bool isPrivate) {
    Fixture& f = fixture();
    mbedtls_pk_context pk;
    mbedtls_pk_init(&pk);
    if (mbedtls_pk_parse_key(&pk, f.der.data(), f.der.size(), nullptr, 0) != 0) {
        state.SkipWithError("mbedTLS cannot parse the key");
        return;
    }
    mbedtls_rsa_context* rsa = mbedtls_pk_rsa(pk);
    const auto& in = isPrivate ? f.cipher : f.message;
    std::vector<uint8_t> out(kBytes);
    for (auto _ : state) {
        const int r = isPrivate ? mbedtls_rsa_private(rsa, mbedRandom, nullptr, in.data(), out.data())
                                : mbedtls_rsa_public(rsa, in.data(), out.data());
        if (r != 0) {
            state.SkipWithError("operation failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    mbedtls_pk_free(&pk);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
#endif

void RsaPrivate_Ours(benchmark::State& s) { ours(s, true); }
void RsaPrivate_OpenSsl(benchmark::State& s) { openssl(s, true); }
#if VELD_BENCH_MBEDTLS
void RsaPrivate_MbedTls(benchmark::State& s) { mbed(s, true); }
#endif
void RsaPublic_Ours(benchmark::State& s) { ours(s, false); }
void RsaPublic_OpenSsl(benchmark::State& s) { openssl(s, false); }
#if VELD_BENCH_MBEDTLS
void RsaPublic_MbedTls(benchmark::State& s) { mbed(s, false); }
#endif

BENCHMARK(RsaPrivate_Ours)->MinTime(1.0);
BENCHMARK(RsaPrivate_OpenSsl)->MinTime(1.0);
#if VELD_BENCH_MBEDTLS
BENCHMARK(RsaPrivate_MbedTls)->MinTime(1.0);
#endif
BENCHMARK(RsaPublic_Ours)->MinTime(1.0);
BENCHMARK(RsaPublic_OpenSsl)->MinTime(1.0);
#if VELD_BENCH_MBEDTLS
BENCHMARK(RsaPublic_MbedTls)->MinTime(1.0);
#endif

}  // namespace

int main(int argc, char** argv) {
    veld::bench::PeerBench bench(
        "RSA-2048 operations per second", "items_per_second", 1.0, {"RsaPrivate", "RsaPublic"},
        [](const std::string&) {
            return std::string(veld::se::bn::rowEngineName(veld::se::bn::rowEngine()));
        },
        false);
    return bench.main(argc, argv);
}
