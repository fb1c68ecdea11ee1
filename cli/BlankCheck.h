// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Programmer;

struct BlankReport {
    bool blank = true;
    std::vector<std::string> findings;   // one line per area that is not blank
};

// What the programmer's read-back buffers say about the chip: every program word the blank word,
// every EEPROM byte 0xFF, the user ID 0xFFFF, and configuration word 1 equal to the blank word on
// every bit configKeepMask keeps. The factory calibration word and calibration bits are left out
// when the device has them: an erase keeps them on purpose.
BlankReport checkBlank(const Programmer& programmer, uint16_t configKeepMask,
                       bool hasCalibrationWord);
