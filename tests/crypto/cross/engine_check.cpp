// Runs the engine checks of the unit tests (engine_checks.h) over every AES and SHA engine and
// the Montgomery row functions of the build, without a test framework, so that cross builds run it under qemu-user
// (scripts/crypto-engine-check). Prints one line per engine; exits 1 on any failure.
#include <cstdio>
#include <string>

#include "../engine_checks.h"
#include "se_cpu.h"

int main() {
    using namespace veld::se;
    int failures = 0;
    auto report = [&](const char* kind, const char* name, bool runs, const std::string& error) {
        if (!runs) {
            std::printf("%-4s %-10s NOT RUN: the CPU lacks its instructions\n", kind, name);
        } else if (error.empty()) {
            std::printf("%-4s %-10s ok\n", kind, name);
        } else {
            std::printf("%-4s %-10s FAILED: %s\n", kind, name, error.c_str());
            ++failures;
        }
    };
    std::printf("CPU features: %s\n", cpu::describe().c_str());
    for (const aes::Engine* e : aes::engines()) {
        const bool runs = aes::runnable(*e);
        std::string error;
        if (runs) {
            error = enginecheck::aesVectors(*e);
            if (error.empty()) error = enginecheck::aesAgainst(*e, aes::portableEngine());
        }
        report("AES", e->name, runs, error);
    }
    for (const sha::BlockEngine* e : sha::blockEngines()) {
        const bool runs = sha::runnable(*e);
        report("SHA", e->name, runs, runs ? enginecheck::shaCheck(*e) : std::string());
    }
    {
        using namespace bn;
        const char* name = rowEngineName(RowEngine::kFast);
        if (name) report("RSA", name, rowEngineRunnable(RowEngine::kFast), enginecheck::montCheck());
    }
    std::printf("AES engine chosen: %s; SHA engine chosen: %s\n", aes::engine().name,
                sha::blockEngine().name);
    return failures ? 1 : 0;
}
