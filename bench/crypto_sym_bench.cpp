// Symmetric cipher throughput on 16 KiB buffers: AES-128-CBC, AES-256-CBC, AES-128-CTR and
// Triple DES CBC (encryption) through our exported calls, our portable AES engine on its own,
// OpenSSL (EVP) and mbedTLS, all in one run, with the ratios printed at the end.
//
// Compare like with like: our AES has no AES-NI path, so the peers run without theirs:
//   OPENSSL_ia32cap="~0x200000200000000:~0"        (OpenSSL without AES-NI only)
//   LD_PRELOAD=<build>/bench/libmbedtls_noaesni.so (mbedTLS without AES-NI)
// When OPENSSL_ia32cap is not set the program sets both and runs itself again, so a plain run
// compares like with like. Set VELD_BENCH_AS_IS=1 to run with whatever the environment says
// (e.g. both peers on AES-NI, for the record).
#include <benchmark/benchmark.h>
#if VELD_BENCH_MBEDTLS  // mbedTLS installed (bench/CMakeLists.txt)
#include <mbedtls/aes.h>
#include <mbedtls/aesni.h>
#include <mbedtls/des.h>
#endif
#include <openssl/evp.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "se_aes.h"
#include "se_crypto_sym.h"

namespace {

constexpr size_t kSize = 16 * 1024;

const uint8_t kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                          0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                          0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
const uint8_t kIv[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

struct Buffers {
    std::vector<uint8_t> in = std::vector<uint8_t>(kSize);
    std::vector<uint8_t> out = std::vector<uint8_t>(kSize);
    Buffers() {
        for (size_t i = 0; i < kSize; ++i) in[i] = static_cast<uint8_t>(i * 131 + 7);
    }
};

template <class F>
void run(benchmark::State& state, F f) {
    Buffers b;
    for (auto _ : state) {
        f(b.out.data(), b.in.data(), kSize);
        benchmark::DoNotOptimize(b.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kSize));
}

enum class Alg { kAes128Cbc, kAes256Cbc, kAes128Ctr, kTdesCbc };

// ---- ours through the exported calls -------------------------------------------------------

void Ours(benchmark::State& state, Alg alg) {
    switch (alg) {
        case Alg::kAes128Cbc:
        case Alg::kAes256Cbc:
            SE_AES_SetKey(kKey, alg == Alg::kAes128Cbc ? 16 : 32, kIv);
            run(state, [](uint8_t* o, const uint8_t* i, size_t n) {
                SE_AES_EncryptCBC(o, i, static_cast<int32_t>(n));
            });
            break;
        case Alg::kAes128Ctr:
            SE_AES_SetKey(kKey, 16, kIv);
            run(state, [](uint8_t* o, const uint8_t* i, size_t n) {
                SE_AES_EncryptCTR(o, i, static_cast<int32_t>(n));
            });
            break;
        case Alg::kTdesCbc:
            SE_DES_SetKey(kKey, 24, kIv);
            run(state, [](uint8_t* o, const uint8_t* i, size_t n) {
                SE_TDES_EncryptCBC(o, i, static_cast<int32_t>(n));
            });
            break;
    }
}

// ---- our portable AES engine, whatever engine the library selected -------------------------

void OursPortable(benchmark::State& state, Alg alg) {
    using namespace veld::se::aes;
    Schedule ks;
    expandKey(ks, kKey, alg == Alg::kAes256Cbc ? 32 : 16);
    uint8_t iv[16];
    std::copy(kIv, kIv + 16, iv);
    const Engine& e = portableEngine();
    if (alg == Alg::kAes128Ctr) {
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) { e.ctr(ks, iv, o, i, n / 16); });
    } else {
        run(state,
            [&](uint8_t* o, const uint8_t* i, size_t n) { e.encryptCbc(ks, iv, o, i, n / 16); });
    }
}

// ---- OpenSSL EVP --------------------------------------------------------------------------

void OpenSsl(benchmark::State& state, Alg alg) {
    const EVP_CIPHER* cipher = alg == Alg::kAes128Cbc   ? EVP_aes_128_cbc()
                               : alg == Alg::kAes256Cbc ? EVP_aes_256_cbc()
                               : alg == Alg::kAes128Ctr ? EVP_aes_128_ctr()
                                                        : EVP_des_ede3_cbc();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, cipher, nullptr, kKey, kIv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    run(state, [ctx](uint8_t* o, const uint8_t* i, size_t n) {
        int len = 0;
        EVP_EncryptUpdate(ctx, o, &len, i, static_cast<int>(n));
    });
    EVP_CIPHER_CTX_free(ctx);
}

// ---- mbedTLS ------------------------------------------------------------------------------
#if VELD_BENCH_MBEDTLS
void MbedTls(benchmark::State& state, Alg alg) {
    uint8_t iv[16];
    std::copy(kIv, kIv + 16, iv);
    if (alg == Alg::kTdesCbc) {
        mbedtls_des3_context ctx;
        mbedtls_des3_init(&ctx);
        mbedtls_des3_set3key_enc(&ctx, kKey);
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) {
            mbedtls_des3_crypt_cbc(&ctx, MBEDTLS_DES_ENCRYPT, n, iv, i, o);
        });
        mbedtls_des3_free(&ctx);
        return;
    }
    mbedtls_aes_context ctx;
    mbedtls_aes_init(&ctx);
    mbedtls_aes_setkey_enc(&ctx, kKey, alg == Alg::kAes256Cbc ? 256 : 128);
    if (alg == Alg::kAes128Ctr) {
        size_t offset = 0;
        uint8_t block[16];
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) {
            mbedtls_aes_crypt_ctr(&ctx, n, &offset, iv, block, i, o);
        });
    } else {
        run(state, [&](uint8_t* o, const uint8_t* i, size_t n) {
            mbedtls_aes_crypt_cbc(&ctx, MBEDTLS_AES_ENCRYPT, n, iv, i, o);
        });
    }
    mbedtls_aes_free(&ctx);
}
#endif

// Collects bytes per second by benchmark name, for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) rates[r.benchmark_name()] = it->second.value / 1e6;
        }
    }
    std::map<std::string, double> rates;
};

const char* const kAlgNames[] = {"AES-128-CBC", "AES-256-CBC", "AES-128-CTR", "3DES-CBC"};

}  // namespace

// Runs this program again with both peers on their portable AES (see the top of the file).
void reexecWithPortablePeers(char** argv) {
    if (std::getenv("OPENSSL_ia32cap") || std::getenv("VELD_BENCH_AS_IS")) return;
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::string shim = self;
    shim = shim.substr(0, shim.rfind('/') + 1) + "libmbedtls_noaesni.so";
    if (access(shim.c_str(), R_OK) == 0) setenv("LD_PRELOAD", shim.c_str(), 1);
    setenv("OPENSSL_ia32cap", "~0x200000200000000:~0", 1);
    setenv("VELD_BENCH_AS_IS", "1", 1);
    execv(self, argv);
}

int main(int argc, char** argv) {
    reexecWithPortablePeers(argv);
    const Alg algs[] = {Alg::kAes128Cbc, Alg::kAes256Cbc, Alg::kAes128Ctr, Alg::kTdesCbc};
    for (Alg alg : algs) {
        const std::string name = kAlgNames[static_cast<int>(alg)];
        benchmark::RegisterBenchmark((name + "/ours").c_str(), Ours, alg);
        if (alg != Alg::kTdesCbc) {
            benchmark::RegisterBenchmark((name + "/ours_portable").c_str(), OursPortable, alg);
        }
        benchmark::RegisterBenchmark((name + "/openssl").c_str(), OpenSsl, alg);
#if VELD_BENCH_MBEDTLS
        benchmark::RegisterBenchmark((name + "/mbedtls").c_str(), MbedTls, alg);
#endif
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const char* cap = std::getenv("OPENSSL_ia32cap");
    std::printf("\nAES engine selected by the library: %s\n", veld::se::aes::engine().name);
#if VELD_BENCH_MBEDTLS
    const char* mbedAesNi = mbedtls_aesni_has_support(MBEDTLS_AESNI_AES) ? "on" : "off";
#else
    const char* mbedAesNi = "(mbedTLS not built in)";
#endif
    std::printf("OpenSSL: OPENSSL_ia32cap=%s; mbedTLS AES-NI: %s\n", cap ? cap : "(unset)", mbedAesNi);
    std::printf("%-12s %9s %9s %9s %9s %13s %13s %13s %13s\n", "MB/s", "ours", "portable",
                "openssl", "mbedtls", "ours/openssl", "ours/mbedtls", "port/openssl",
                "port/mbedtls");
    auto rate = [&](const std::string& k) {
        const auto it = reporter.rates.find(k);
        return it == reporter.rates.end() ? 0.0 : it->second;
    };
    for (const char* alg : kAlgNames) {
        const std::string a = alg;
        const double ours = rate(a + "/ours"), portable = rate(a + "/ours_portable");
        const double ossl = rate(a + "/openssl"), mbed = rate(a + "/mbedtls");
        if (ours == 0.0) continue;  // filtered out
        char portableText[16] = "-", vsOpenSsl[16] = "-", vsMbedTls[16] = "-";
        if (portable > 0) {
            std::snprintf(portableText, sizeof portableText, "%.0f", portable);
            if (ossl > 0) std::snprintf(vsOpenSsl, sizeof vsOpenSsl, "%.2f", portable / ossl);
            if (mbed > 0) std::snprintf(vsMbedTls, sizeof vsMbedTls, "%.2f", portable / mbed);
        }
        std::printf("%-12s %9.0f %9s %9.0f %9.0f %13.2f %13.2f %13s %13s\n", alg, ours,
                    portableText, ossl, mbed, ossl > 0 ? ours / ossl : 0.0,
                    mbed > 0 ? ours / mbed : 0.0, vsOpenSsl, vsMbedTls);
    }
    benchmark::Shutdown();
    return 0;
}
