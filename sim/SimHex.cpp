#include "sim/SimHex.h"

bool parseSimHex(std::string_view text, unsigned long long max, unsigned long long& value) {
    if (text.empty()) return false;
    unsigned long long v = 0;
    for (char c : text) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else
            return false;
        if (v > (max - d) / 16) return false;   // checked before it can overflow
        v = v * 16 + d;
    }
    value = v;
    return true;
}
