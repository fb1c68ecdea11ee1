// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

// Every value of one catalogue line, as the line states it, plus whether the line is usable.
struct DeviceRecord {
    std::string name;                 // column 1
    int32_t programWordCount = 0;     // column 2, W
    int32_t wordBits = 0;             // column 2, B
    uint16_t blankWord = 0;           // 2^B - 1, saturating at 0xFFFF; 0 when B <= 0
    int32_t eepromByteCount = 0;      // column 3, E
    std::string configBitTags;        // column 4
    uint16_t configKeepMask = 0xFFFF; // from the first 14 tags of column 4
    uint16_t protectOffBits = 0;
    int32_t socketPins = 0;           // column 5
    int32_t entrySequence = 0;        // column 6
    int32_t programMethod = 0;        // column 7
    int32_t eepromMethod = 0;         // column 8
    int32_t family = 0;               // column 9
    int32_t reservedValue = 0;        // column 10
    int32_t eraseMethod = 0;          // column 11
    int32_t blockWords = 0;           // column 12
    bool hasCalibrationWord = false;  // column 13 is anything but exactly ":"
    uint32_t calibrationAddress = 0;
    uint16_t calibrationBitsMask = 0;
    int32_t expectedDeviceId = 0;     // column 14; 0x3FFF with mask 0 for a leading "-"
    int32_t deviceIdMask = 0;

    // A line whose values would make a later step read or write outside a buffer, or loop for
    // ever, is listed but cannot be selected.
    bool valid = true;
    std::string invalidReason;        // plain English, for logs and the CLI
};
