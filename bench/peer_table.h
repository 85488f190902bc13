// The ratio tables of the crypto benchmarks. Each program measures our functions beside
// OpenSSL's and mbedTLS's (benchmark functions named <row>_Ours, <row>_OpenSsl, <row>_MbedTls)
// under several configurations, one child process each, in the same run:
//   hardware   our engines as the library picks them; OpenSSL's default path; mbedTLS as is;
//   no-aesni   our constant-time engines without AES/SHA instructions (vector permutes,
//              portable SHA and RSA rows); OpenSSL without AES-NI, PCLMULQDQ and every
//              leaf-7 feature (OPENSSL_ia32cap=~0x200000200000000: no SHA-NI, AVX2, AVX-512,
//              BMI2, ADX), which runs its own constant-time SSSE3 AES; mbedTLS with its AES-NI
//              path off;
//   scalar     our portable engines (VELD_CRYPTO_PORTABLE=1); OpenSSL without SSSE3 too
//              (~0x200020200000000): its scalar code, a table AES; mbedTLS as in no-aesni;
//   ssse3      (AES only) our vector-permute engine on SSSE3 alone, against the no-aesni peers;
//   table      (AES only) our table engine, which leaks, against the same scalar peers.
// The parent prints the CPU flags and one table row per benchmark row and configuration,
// naming the engine each of ours ran on; the last column sets ours against OpenSSL's scalar
// code (the scalar configuration's OpenSSL figure). Arguments go to every child (--benchmark_filter
// included); VELD_BENCH_CONFIG=<name> runs one configuration in this process.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "se_cpu.h"

namespace veld::bench {

struct Config {
    const char* name;
    const char* ia32cap;        // OPENSSL_ia32cap, or null for OpenSSL's default path
    bool mbedtlsNoAesni;        // preload libmbedtls_noaesni.so
    const char* veldPortable;   // VELD_CRYPTO_PORTABLE value, or null
    const char* veldAesEngine;  // VELD_AES_ENGINE value, or null
    bool aesOnly = false;       // a configuration that only changes our AES engine
};

inline constexpr Config kConfigs[] = {
    {"hardware", nullptr, false, nullptr, nullptr},
    {"no-aesni", "~0x200000200000000", true, "1", "vperm_avx2,vperm"},
    {"ssse3", "~0x200000200000000", true, "1", "vperm", true},
    {"scalar", "~0x200020200000000", true, "1", nullptr},
    {"table", "~0x200020200000000", true, "1", "table", true},
};

// Remembers one counter per benchmark function: the median with --benchmark_repetitions,
// else the largest value of its runs.
class PeerReporter : public benchmark::ConsoleReporter {
public:
    explicit PeerReporter(std::string counter) : counter_(std::move(counter)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if ((r.run_type != Run::RT_Iteration && !median) || r.error_occurred) continue;
            auto it = r.counters.find(counter_);
            if (it == r.counters.end()) continue;
            double& value = values_[r.run_name.function_name];
            value = median ? it->second.value : std::max(value, it->second.value);
        }
    }
    const std::map<std::string, double>& values() const { return values_; }

private:
    std::string counter_;
    std::map<std::string, double> values_;
};

// What one configuration measured: values by function name, engine names by row.
struct Measured {
    std::map<std::string, double> values;
    std::map<std::string, std::string> engines;
};

// Runs every configuration in a child process and prints the table. `rows` are the row
// prefixes; `engineOf(row)` names the engine our row ran on (called in the child); `counter`
// is the benchmark counter to compare, multiplied by `scale` for the table; `aesOnly` adds
// the configurations that only change our AES engine.
class PeerBench {
public:
    PeerBench(const char* title, const char* counter, double scale, std::vector<std::string> rows,
              std::function<std::string(const std::string&)> engineOf, bool aesOnly)
        : title_(title), counter_(counter), scale_(scale), rows_(std::move(rows)),
          engineOf_(std::move(engineOf)), aesOnly_(aesOnly) {}

    int main(int argc, char** argv) {
        if (const char* config = std::getenv("VELD_BENCH_CONFIG")) return child(argc, argv, config);
        std::printf("CPU: %s; flags used by the engines: %s\n", cpuModel().c_str(),
                    veld::se::cpu::describe().c_str());
        std::map<std::string, Measured> all;
        for (const Config& c : kConfigs) {
            if (!aesOnly_ && c.aesOnly) continue;
            std::fflush(stdout);
            all[c.name] = runChild(c, argc, argv);
        }
        print(all);
        return 0;
    }

private:
    static std::string cpuModel() {
        FILE* f = std::fopen("/proc/cpuinfo", "r");
        if (!f) return "unknown";
        char line[512];
        std::string model = "unknown";
        while (std::fgets(line, sizeof line, f)) {
            std::string s(line);
            if (s.rfind("model name", 0) == 0) {
                model = s.substr(s.find(':') + 2);
                model.erase(model.find_last_not_of("\n ") + 1);
                break;
            }
        }
        std::fclose(f);
        return model;
    }

    int child(int argc, char** argv, const char* config) {
        benchmark::Initialize(&argc, argv);
        PeerReporter reporter(counter_);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        // Machine-readable lines for the parent.
        for (const auto& [name, value] : reporter.values()) std::printf("@@value %s %.6g\n", name.c_str(), value);
        for (const auto& row : rows_) std::printf("@@engine %s %s\n", row.c_str(), engineOf_(row).c_str());
        std::printf("@@config %s\n", config);
        benchmark::Shutdown();
        return 0;
    }

    static void setOrClear(const char* name, const char* value) {
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }

    Measured runChild(const Config& c, int argc, char** argv) {
        char self[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        Measured m;
        if (n <= 0) return m;
        self[n] = '\0';
        std::string shim = self;
        shim = shim.substr(0, shim.rfind('/') + 1) + "libmbedtls_noaesni.so";
        setenv("VELD_BENCH_CONFIG", c.name, 1);
        setOrClear("OPENSSL_ia32cap", c.ia32cap);
        setOrClear("LD_PRELOAD", c.mbedtlsNoAesni && access(shim.c_str(), R_OK) == 0 ? shim.c_str() : nullptr);
        setOrClear("VELD_CRYPTO_PORTABLE", c.veldPortable);
        setOrClear("VELD_AES_ENGINE", c.veldAesEngine);
        std::string command = "'" + std::string(self) + "'";
        for (int i = 1; i < argc; ++i) command += " '" + std::string(argv[i]) + "'";
        std::printf("\n== configuration %s\n", c.name);
        std::fflush(stdout);
        FILE* p = popen(command.c_str(), "r");
        for (const char* v : {"VELD_BENCH_CONFIG", "OPENSSL_ia32cap", "LD_PRELOAD", "VELD_CRYPTO_PORTABLE", "VELD_AES_ENGINE"}) unsetenv(v);
        if (!p) return m;
        char line[1024];
        while (std::fgets(line, sizeof line, p)) {
            char a[256], b[256];
            double v;
            const char* at = std::strstr(line, "@@");
            if (!at) {
                std::fputs(line, stdout);
            } else if (std::sscanf(at, "@@value %255s %lf", a, &v) == 2) {
                m.values[a] = v * scale_;
            } else if (std::sscanf(at, "@@engine %255s %255s", a, b) == 2) {
                m.engines[a] = b;
            }
        }
        pclose(p);
        return m;
    }

    void print(const std::map<std::string, Measured>& all) const {
        std::printf("\n%s\n", title_);
        std::printf("%-14s %-9s %-10s %10s %10s %10s %13s %13s %14s\n", "row", "config", "engine", "ours",
                    "OpenSSL", "mbedTLS", "ours/OpenSSL", "ours/mbedTLS", "ours/scalarSSL");
        const auto scalar = all.find("scalar");
        for (const auto& row : rows_) {
            for (const Config& c : kConfigs) {
                auto it = all.find(c.name);
                if (it == all.end()) continue;
                const Measured& m = it->second;
                auto value = [&](const char* side) {
                    auto v = m.values.find(row + side);
                    return v == m.values.end() ? 0.0 : v->second;
                };
                const double ours = value("_Ours"), ossl = value("_OpenSsl"), mbed = value("_MbedTls");
                if (ours == 0.0) continue;
                auto e = m.engines.find(row);
                double scalarSsl = 0.0;
                if (scalar != all.end()) {
                    auto v = scalar->second.values.find(row + "_OpenSsl");
                    if (v != scalar->second.values.end()) scalarSsl = v->second;
                }
                std::printf("%-14s %-9s %-10s %10.0f %10.0f %10.0f %13.2f %13.2f %14.2f\n", row.c_str(),
                            c.name, e == m.engines.end() ? "?" : e->second.c_str(), ours, ossl, mbed,
                            ossl > 0 ? ours / ossl : 0.0, mbed > 0 ? ours / mbed : 0.0,
                            scalarSsl > 0 ? ours / scalarSsl : 0.0);
            }
        }
    }

    const char* title_;
    std::string counter_;
    double scale_;
    std::vector<std::string> rows_;
    std::function<std::string(const std::string&)> engineOf_;
    bool aesOnly_;
};

}  // namespace veld::bench
