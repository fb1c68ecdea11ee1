// SPDX-License-Identifier: MIT
#pragma once

#include "sim/SimChipState.h"

#include <cstddef>
#include <string>

// The text file that keeps a simulated chip between runs:
//
//   KorvalinSimChip 1
//   device PIC16F628A
//   deviceid 1062
//   config 3FFF
//   config2 0000
//   userids 3FFF 3FFF 3FFF 3FFF
//   factory 0000 0000            (calibration word, calibration bits)
//   program 0000 3FFF 3FFF ...   (address, then up to 16 words)
//   eeprom 0000 FF FF ...        (address, then up to 16 bytes)
//
// Values are hexadecimal. Every program word and EEPROM byte appears exactly once.
std::string formatSimImage(const SimChipState& state);
// Checks the sizes against programWords/eepromBytes expected for the named device.
bool parseSimImage(const std::string& text, SimChipState& state, std::string& error);
// The largest chip's image is about 50 KB; a file far larger is no image, and an endless one
// (a FIFO, /dev/zero) must not be read on for ever.
inline constexpr std::size_t maxSimImageBytes = 16 * 64 * 1024;
// False when the file cannot be read, or holds more than maxSimImageBytes.
bool readWholeFile(const std::string& path, std::string& text);
