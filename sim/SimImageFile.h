#pragma once

#include "sim/SimChipState.h"

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
// Writes beside the target and renames over it, so a crash never leaves half a file.
bool writeFileAtomically(const std::string& path, const std::string& text, std::string& error);
bool readWholeFile(const std::string& path, std::string& text);
