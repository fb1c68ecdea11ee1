// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A snapshot of the simulated chip's memories, for tests and demonstrations.
struct SimChipState {
    bool present = false;
    std::string device;
    std::vector<uint16_t> programWords;
    std::vector<uint8_t> eepromBytes;
    uint16_t userIds[4] = {0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF};
    uint16_t configWord = 0x3FFF;
    uint16_t configWord2 = 0x3FFF;
    uint16_t deviceIdWord = 0x3FFF;     // ID with revision bits, as the chip answers it
    uint16_t factoryCalibrationWord = 0; // the OSCCAL word the chip left the factory with
    uint16_t factoryCalibrationBits = 0; // the BG bits it left the factory with
};
