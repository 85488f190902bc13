// Random bytes for the crypto library (see se_random.h).
#include "se_random.h"

#include <sys/random.h>

#include <atomic>
#include <cerrno>

namespace veld::se {
namespace {

int kernelRandom(uint8_t* out, size_t length, void*) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = getrandom(out + done, length - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::atomic<RandomSource> gSource{kernelRandom};
std::atomic<void*> gContext{nullptr};

}  // namespace

int randomBytes(uint8_t* out, size_t length) {
    if (length == 0) return 0;
    if (!out) return -1;
    return gSource.load()(out, length, gContext.load());
}

void setRandomSource(RandomSource source, void* context) {
    gContext.store(context);
    gSource.store(source ? source : kernelRandom);
}

}  // namespace veld::se
