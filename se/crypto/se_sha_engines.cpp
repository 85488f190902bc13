// The SHA-1/SHA-256 engine switch: the engines built for this CPU family in the order of
// preference, and the one choice the library makes from them at first use. SHA-384/512 has
// no instructions on the CPUs we target and always runs the portable code.
#include "se_cpu.h"
#include "se_sha.h"

namespace veld::se::sha {
namespace {

struct Registry {
    const BlockEngine* items[4];
    size_t count = 0;
    void add(const BlockEngine* e) {
        if (e) items[count++] = e;
    }
};

const Registry& registry() {
    static const Registry r = [] {
        Registry r;
        r.add(shaNiBlockEngine());
        r.add(armCeBlockEngine());
        r.add(&portableBlockEngine());
        return r;
    }();
    return r;
}

const BlockEngine& select() {
    if (cpu::forcePortable()) return portableBlockEngine();
    for (const BlockEngine* e : blockEngines()) {
        if (runnable(*e)) return *e;
    }
    return portableBlockEngine();
}

}  // namespace

BlockEngineList blockEngines() { return {registry().items, registry().count}; }

bool runnable(const BlockEngine& e) { return cpu::has(e.needs); }

const BlockEngine& blockEngine() {
    static const BlockEngine& selected = select();
    return selected;
}

}  // namespace veld::se::sha
