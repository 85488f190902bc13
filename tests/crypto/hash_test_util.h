// Small helpers shared by the hash, HMAC and encoding tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string toHex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline const uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
inline int32_t lengthOf(const std::string& s) { return static_cast<int32_t>(s.size()); }
