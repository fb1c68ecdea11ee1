// SPDX-License-Identifier: MIT
#pragma once

#include "device/MemoryImage.h"

#include <random>

// The biggest image a valid catalogue line allows, every cell non-blank so that nothing is
// skipped: 8192 words, 256 EEPROM bytes, both configuration words.
inline MemoryImage largestImage(unsigned seed = 1) {
    MemoryImage image;
    image.resize(8192, 0x3FFF, 256);
    image.setFamily(2);
    std::mt19937 random(seed);
    for (auto& word : image.programWords) word = static_cast<uint16_t>(random() % 0x3FFF);
    for (auto& cell : image.eepromBytes) cell = static_cast<uint16_t>(random() % 0xFF);
    image.userId = 0x1234;
    image.configWord = 0x3F72;
    image.configWord2 = 0x0003;
    return image;
}
