// SPDX-License-Identifier: MIT
#include "device/HexNumber.h"

#include <charconv>
#include <limits>

uint32_t parseHexDigits(std::string_view text) {
    text = text.substr(0, 10);
    uint64_t value = 0;   // left as it is when no digit starts the text
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    // Ten digits can exceed 32 bits; such a value saturates rather than wrapping round to a
    // small, plausible-looking number.
    if (value > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}

bool parseHexNumber(std::string_view text, uint64_t max, uint64_t& value) {
    const char* end = text.data() + text.size();
    uint64_t v = 0;
    const auto [stop, failure] = std::from_chars(text.data(), end, v, 16);
    if (failure != std::errc{} || stop != end || v > max) return false;
    value = v;
    return true;
}
