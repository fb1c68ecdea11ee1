// SPDX-License-Identifier: MIT
#pragma once

#include "programmer/Scripts.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

class Programmer;

// The fast schedule: the same ICSP commands in the same order as the standard scripts, but each
// timed step waits the longest time the chip's programming document allows for it, and one
// script carries as many word (or row) writes as fit in it. All times in microseconds.
struct FastSchedule {
    uint32_t wordUs = 0;       // Begin Erase/Programming (0x08) on one program word
    uint32_t rowUs = 0;        // Begin Programming Only (0x18) to End Programming on a latch row
    uint32_t eepromUs = 0;     // one data EEPROM byte, by the device's EEPROM write method
    uint32_t bulkEraseUs = 0;  // each bulk erase, of program or of data memory
    uint32_t chipEraseUs = 0;  // chip erase (0x1F)
};

// The schedule of a catalogue device, matched by its name (any case); nullopt for a device whose
// times have not been checked, which then keeps the standard schedule.
std::optional<FastSchedule> fastScheduleFor(std::string_view device);

// The Wait value that lasts at least us at this programmer clock (one count is 16 / clock µs).
uint16_t waitForMicroseconds(uint32_t us, int32_t clock);

// How one write of the fast schedule looks on the wire.
struct FastWriteForm {
    uint8_t loadCommand = kLoadDataProgram;   // 0x02 program memory, 0x03 data memory
    uint32_t rowWords = 1;                    // words per programming cycle (the latch row)
    bool programOnly = false;                 // 0x18 ... 0x17 rather than 0x08
    uint16_t wait = 0;
    bool skipBlank = false;                   // memory erased just before: blank rows only step on
    uint16_t blank = 0x3FFF;
};

// As many writes from the front of items as fit one script, each followed by Increment Address
// so that the address ends one past what the script covered. taken 0 means that not even one
// row fits a script (a row too long for this form).
struct FastPack {
    Script script;
    uint32_t taken = 0;
};
FastPack packFastWrites(std::span<const uint16_t> items, const FastWriteForm& form);

// Whether data memory, which the chip addresses by the low bits of the one address counter, is
// at byte 0 once the counter has stepped over programWords words from 0.
bool dataFollowsProgram(uint32_t programWords, uint32_t eepromBytes);

// Up to this many Increment Address steps (two scripts) cost less than leaving and entering
// programming mode again.
constexpr uint32_t kFastStepsForEntry = 64;

// A bulk erase (0x09, 0x0B) or chip erase (0x1F) with its own wait, answered like the standard one.
Script fastEraseScript(uint8_t command, uint16_t wait);

// The least time the silicon and the link allow for programming and verifying what the
// programmer's buffers hold, in milliseconds: the longest times of the erases and writes the
// image needs (after an erase, blank words and bytes need none), plus one 1 ms USB round trip
// for every 64-byte script that the written data, or the read-back's commands, fill.
// The configuration area is left out: a few words on every schedule.
double programFloorMs(const Programmer& programmer, const FastSchedule& times);
