// The AES engine switch: the list of engines built for this CPU family in the order of
// preference, and the one choice the library makes from it at first use.
//
// x86-64: VAES (two blocks per AVX2 register), AES-NI, GFNI, AVX2 and SSSE3 vector permutes; ARM:
// the ARMv8 crypto extensions, NEON vector permutes; then everywhere the bit-sliced portable
// engine. All of these run in constant time. The table engine comes last and is never chosen
// unless named (VELD_AES_ENGINE=table): it leaks through the cache.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "se_aes.h"
#include "se_cpu.h"

namespace veld::se::aes {
namespace {

struct Registry {
    const Engine* items[8];
    size_t count = 0;
    void add(const Engine* e) {
        if (e) items[count++] = e;
    }
};

Registry build() {
    Registry r;
    r.add(vaesEngine());
    r.add(aesNiEngine());
    r.add(hardwareEngine());  // GFNI: only listed where the CPU has it
    r.add(armCeEngine());
    r.add(vpermAvx2Engine());
    r.add(vpermEngine());
    r.add(&bitslicedEngine());
    r.add(&portableEngine());
    return r;
}

const Registry& registry() {
    static const Registry r = build();
    return r;
}

// The first runnable engine of a comma-separated list of names, or null.
const Engine* firstNamed(const char* list) {
    std::string names = list;
    size_t start = 0;
    while (start <= names.size()) {
        const size_t end = std::min(names.find(',', start), names.size());
        const Engine* e = engineNamed(names.substr(start, end - start).c_str());
        if (e && runnable(*e)) return e;
        start = end + 1;
    }
    return nullptr;
}

const Engine& select() {
    if (const char* list = cpu::aesEngineOverride()) {
        if (const Engine* e = firstNamed(list)) return *e;
        std::fprintf(stderr, "VELD_AES_ENGINE=%s: no such engine on this CPU; ignored\n", list);
    }
    if (cpu::forcePortable()) return bitslicedEngine();
    for (const Engine* e : engines()) {
        if (e->constantTime && runnable(*e)) return *e;
    }
    return bitslicedEngine();
}

}  // namespace

EngineList engines() { return {registry().items, registry().count}; }

bool runnable(const Engine& e) { return cpu::has(e.needs); }

const Engine* engineNamed(const char* name) {
    for (const Engine* e : engines()) {
        if (std::strcmp(e->name, name) == 0) return e;
    }
    return nullptr;
}

const Engine& engine() {
    static const Engine& selected = select();
    return selected;
}

}  // namespace veld::se::aes
