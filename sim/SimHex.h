#pragma once

#include <string_view>

// Strict hexadecimal for the simulator's own texts (option strings, chip image files): digits
// 0-9, A-F, a-f only, at least one, no prefix; false when anything else stands there or the
// value exceeds max.
bool parseSimHex(std::string_view text, unsigned long long max, unsigned long long& value);
