// SPDX-License-Identifier: MIT
#include "operations/SerialNumber.h"

#include "device/MemoryImage.h"

#include <cstdio>

namespace {

constexpr uint32_t kMaxRetlwWords = 8;   // a serial of 64 bits
constexpr uint16_t kRetlw = 0x3400;

}  // namespace

bool parseSerialNumber(std::string_view text, uint64_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 16) return false;
    uint64_t v = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0'
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                         : -1;
        if (digit < 0) return false;
        v = v * 16 + static_cast<uint64_t>(digit);
    }
    value = v;
    return true;
}

uint64_t serialFieldMax(const SerialField& field) {
    if (!field.retlw) return 0xFFFF;
    if (field.words >= kMaxRetlwWords) return UINT64_MAX;
    return (uint64_t{1} << (8 * field.words)) - 1;
}

bool parseSerialStart(std::string_view text, uint64_t& start, uint64_t& step, std::string& error) {
    const auto comma = text.find(',');
    uint64_t first = 0;
    uint64_t by = 1;
    if (!parseSerialNumber(text.substr(0, comma), first) ||
        (comma != std::string_view::npos && (!parseSerialNumber(text.substr(comma + 1), by) || by == 0))) {
        error = "serial \"" + std::string(text) +
                "\": needs START or START,STEP in hexadecimal, with a STEP of at least 1";
        return false;
    }
    start = first;
    step = by;
    return true;
}

bool parseSerialRetlw(std::string_view text, SerialField& field, std::string& error) {
    const auto comma = text.find(',');
    uint64_t address = 0;
    uint64_t words = 0;
    if (comma == std::string_view::npos || !parseSerialNumber(text.substr(0, comma), address) ||
        !parseSerialNumber(text.substr(comma + 1), words) || address > 0x1FFF || words < 1 ||
        words > kMaxRetlwWords) {
        error = "serial RETLW words \"" + std::string(text) +
                "\": needs ADDR,N with a program address in hexadecimal and N from 1 to 8";
        return false;
    }
    field = {true, static_cast<uint32_t>(address), static_cast<uint32_t>(words)};
    return true;
}

std::string formatSerial(const SerialField& field, uint64_t serial) {
    char text[24];
    const int digits = field.retlw ? static_cast<int>(2 * field.words) : 4;
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(serial));
    return text;
}

bool placeSerial(MemoryImage& image, const SerialField& field, uint64_t serial, std::string& error) {
    if (serial > serialFieldMax(field)) {
        error = "serial " + formatSerial(field, serial) + " does not fit in " +
                (field.retlw ? std::to_string(field.words) + " RETLW words" : std::string("the user ID"));
        return false;
    }
    if (!field.retlw) {
        image.userId = static_cast<uint16_t>(serial);
        return true;
    }
    if (uint64_t{field.address} + field.words > image.programWordCount) {
        error = "serial RETLW words at " + formatSerial({}, field.address) +
                " run past the end of program memory";
        return false;
    }
    for (uint32_t i = 0; i < field.words; ++i)
        image.programWords[field.address + i] = static_cast<uint16_t>(kRetlw | ((serial >> (8 * i)) & 0xFF));
    return true;
}
