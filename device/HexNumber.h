// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

// The one reader of hexadecimal numbers: digits 0-9, A-F and a-f, no prefix, no sign, no blanks.

// Reads hexadecimal digits from the start of text: stops at the first other character or after
// ten characters; nothing readable gives 0; a value beyond 32 bits gives 0xFFFFFFFF.
uint32_t parseHexDigits(std::string_view text);

// The whole text as one number no larger than max: false, and value untouched, for an empty
// text, any character that is no digit, or a larger value.
bool parseHexNumber(std::string_view text, uint64_t max, uint64_t& value);
