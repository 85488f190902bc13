// DER reading for the key readers: a bounded cursor over one encoded element at a time. It
// never looks past the bytes it was given; every length is checked against what is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace veld::se::der {

class Reader {
public:
    Reader() = default;
    Reader(const uint8_t* data, size_t length) : p_(data), left_(length) {}

    bool empty() const { return left_ == 0; }
    // Reads one element of tag `tag` and gives a reader over its contents.
    bool enter(uint8_t tag, Reader& contents);
    // Reads a non-negative, minimally encoded INTEGER; `value` gets its magnitude without the
    // sign byte (at least one byte; "0" for zero). Fails above `maxBytes` of magnitude.
    bool integer(std::span<const uint8_t>& value, size_t maxBytes);
    // Reads a small non-negative INTEGER.
    bool smallInteger(uint32_t& value);
    // Skips one element of tag `tag` when it comes next; false only for a malformed element.
    bool skipOptional(uint8_t tag, bool& present);
    // True when the remaining bytes are exactly `bytes`.
    bool holds(std::span<const uint8_t> bytes) const;
    // The next tag, or -1 at the end.
    int peekTag() const { return left_ ? p_[0] : -1; }

private:
    bool readLength(size_t& length);

    const uint8_t* p_ = nullptr;
    size_t left_ = 0;
};

}  // namespace veld::se::der
