// gal_request.h - typed access to the command-specific fields of a gcsIO_REQUEST (C++ only),
// for the driver, the simulated kernel and the tests. Offsets are those of the request table:
// u+N is byte N of the field area. Addresses are written into 64-bit slots with all their bits.
#pragma once

#include <cstdint>
#include <cstring>

#include "gal_kernel.h"

namespace gal {

template <typename T>
T field(const gcsIO_REQUEST& r, size_t offset) {
    static_assert(sizeof(T) <= 8);
    T value;
    std::memcpy(&value, r.u + offset, sizeof value);
    return value;
}

template <typename T>
void setField(gcsIO_REQUEST& r, size_t offset, T value) {
    static_assert(sizeof(T) <= 8);
    std::memcpy(r.u + offset, &value, sizeof value);
}

inline void setPointer(gcsIO_REQUEST& r, size_t offset, const void* p) {
    setField<uint64_t>(r, offset, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)));
}

template <typename T = void>
T* pointerField(const gcsIO_REQUEST& r, size_t offset) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(field<uint64_t>(r, offset)));
}

// A cleared request for `command`.
inline gcsIO_REQUEST request(uint32_t command) {
    gcsIO_REQUEST r{};
    r.command = command;
    return r;
}

}  // namespace gal
