// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class MemoryImage;

// Where each chip's serial number goes: the four user ID locations (one hex digit each,
// location 0 the lowest), or `words` RETLW instructions from `address`, low byte first, which
// firmware reads back with a computed call.
struct SerialField {
    bool retlw = false;
    uint32_t address = 0;
    uint32_t words = 0;
};

// The largest serial the field holds.
uint64_t serialFieldMax(const SerialField& field);

// One number in hexadecimal: up to 16 digits, an optional 0x, nothing else.
bool parseSerialNumber(std::string_view text, uint64_t& value);

// "START[,STEP]" and "ADDR,N", all hexadecimal (an optional 0x), as the serial is shown.
// False with a plain-English error, leaving the outputs alone, for anything else.
bool parseSerialStart(std::string_view text, uint64_t& start, uint64_t& step, std::string& error);
bool parseSerialRetlw(std::string_view text, SerialField& field, std::string& error);

// Writes serial into the image. Refuses (false, image untouched) a serial the field cannot
// hold, or RETLW words that would lie outside the image's program memory, so that the chip is
// never touched with a wrapped or cut serial.
bool placeSerial(MemoryImage& image, const SerialField& field, uint64_t serial, std::string& error);

// The serial as its field shows it: four hex digits for the user ID, two per RETLW word.
std::string formatSerial(const SerialField& field, uint64_t serial);
