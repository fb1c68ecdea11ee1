// SPDX-License-Identifier: MIT
#include "cli/BlankCheck.h"

#include "programmer/Programmer.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

BlankReport checkBlank(const Programmer& programmer, uint16_t configKeepMask,
                       bool hasCalibrationWord) {
    BlankReport report;
    auto fail = [&report](std::string text) {
        report.blank = false;
        report.findings.push_back(std::move(text));
    };

    const uint32_t words = std::min<uint32_t>(programmer.programWordCount,
                                              static_cast<uint32_t>(programmer.programWords.size()));
    uint32_t differing = 0;
    uint32_t first = 0;
    for (uint32_t address = 0; address < words; ++address) {
        if (hasCalibrationWord && address == programmer.calibrationAddress) continue;
        if (programmer.programWords[address] == programmer.blankWord) continue;
        if (differing++ == 0) first = address;
    }
    if (differing)
        fail("program memory: " + std::to_string(differing) + " word(s) not " +
             hex(programmer.blankWord, 4) + ", the first at " + hex(first, 4) + " holds " +
             hex(programmer.programWords[first], 4));

    const uint32_t bytes = std::min<uint32_t>(programmer.eepromByteCount,
                                              static_cast<uint32_t>(programmer.eepromBytes.size()));
    differing = 0;
    for (uint32_t address = 0; address < bytes; ++address) {
        if ((programmer.eepromBytes[address] & 0xFF) == 0xFF) continue;
        if (differing++ == 0) first = address;
    }
    if (differing)
        fail("EEPROM: " + std::to_string(differing) + " byte(s) not FF, the first at " +
             hex(first, 4) + " holds " + hex(programmer.eepromBytes[first] & 0xFF, 2));

    if (programmer.userId != 0xFFFF)
        fail("user ID: " + hex(programmer.userId, 4) + ", not FFFF");

    const uint16_t calibrationBits = hasCalibrationWord ? programmer.calibrationBitsMask : 0;
    const uint16_t compared = static_cast<uint16_t>(configKeepMask & ~calibrationBits);
    const uint16_t differingBits =
        static_cast<uint16_t>((programmer.configWord ^ programmer.blankWord) & compared);
    if (differingBits)
        fail("configuration word: " + hex(programmer.configWord, 4) + ", not " +
             hex(programmer.blankWord, 4) + " on the bits " + hex(differingBits, 4));
    return report;
}
