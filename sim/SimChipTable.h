// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How the silicon of one simulated device behaves. This table is written from the chips' own
// programming documents, independently of the device catalogue: the catalogue says how the host
// programs a device, this table says what the device does with it.

// Chips that share one ICSP command set and one set of write/erase rules.
enum class SimFamily {
    F84A,   // 16F84A: erase-then-program cycles, bulk erase armed by 0x09/0x0B and run by 0x08
    F628,   // 16F628 (no A): as the 16F84A
    F87x,   // 16F870/871/877: as the 16F84A, with a programming-only 0x18
    F62xA,  // 16F627A/628A/648A: 0x08 programs only, self-timed bulk erases
    F87xA,  // 16F873A..877A: eight write latches, 0x18 + End Programming 0x17, chip erase
    F81x,   // 16F819, 16F88: four write latches, otherwise as the 16F87xA
    F629,   // 12F629/675, 16F630/676: as the 16F62xA, 0x18 ended by 0x0A, factory calibration
};

// Where a chip's code-protection bits sit and what they cover.
enum class SimProtection {
    TenCopies,   // CP in bits 13-4, any cleared bit protects everything
    Bit13,       // one CP bit at 13
    Bit7,        // one CP bit at 7
    PairsRange,  // CP1:CP0 at 13-12 and 5-4: 11 none, 10 last 256 words, 01 upper half, 00 all
    PairsQuarter // CP1:CP0 at 13-12 and 11-10: 11 none, 10 upper half, 01 upper 3/4, 00 all
};

struct SimChipInfo {
    const char* name;
    uint32_t programWords;
    uint32_t eepromBytes;
    int pins;
    uint16_t deviceId;      // revision bits clear
    uint16_t revision;      // what this simulated part carries in the revision bits
    SimFamily family;
    uint16_t configMask;    // implemented bits of the configuration word; the rest read 0
    uint16_t config2Mask;   // implemented bits of configuration word 2; 0 = no second word
    SimProtection protection;
    bool hasDataProtection; // CPD at bit 8
    uint32_t latchWords;    // program-memory write latches: 1, 4 or 8
    bool vppFirst;          // refuses to enter programming mode when VDD came long before VPP
    bool hasCalibration;    // OSCCAL RETLW at the last program word, BG bits 13-12 in the config
};

// Timing and command-set facts per family, in microseconds of the chip's own needs.
struct SimFamilyTraits {
    bool knows[64];              // which six-bit commands the chip decodes
    bool beginEraseFirst;        // 0x08 erases the target before programming it
    bool multiWordConfigLoad;    // false: Load Configuration's data goes to the latch
    uint8_t endCommand;          // 0x17, 0x0A, or 0 when 0x18 is self-timed
    bool armedBulkErase;         // 0x09/0x0B only arm; the following 0x08 erases
    bool setupErase;             // 0x01, 0x07, 0x08 clears the chip
    double beginProgramUs;       // 0x08 on a program or configuration word (or latch row)
    double programOnlyUs;        // 0x18 on program memory
    double dataWriteUs;          // any cycle on a data EEPROM byte
    double bulkEraseUs;          // 0x09, 0x0B, the setup sequence
    double chipEraseUs;          // 0x1F
    // The same steps on a chip at its slowest: the longest times its programming document
    // allows, which a programmer must wait for every part to take every word.
    double beginProgramMaxUs;
    double programOnlyMaxUs;
    double dataWriteMaxUs;
    double bulkEraseMaxUs;
    double chipEraseMaxUs;
};

const std::vector<SimChipInfo>& simChipTable();
// Case-insensitive lookup of a device name; nullptr when the simulator has no such chip.
const SimChipInfo* findSimChip(const std::string& name);
const SimFamilyTraits& simFamilyTraits(SimFamily family);

// The configuration address of the second configuration word.
inline constexpr uint16_t kSimConfig2Address = 0x2008;
inline constexpr uint16_t kSimConfigAddress = 0x2007;
inline constexpr uint16_t kSimDeviceIdAddress = 0x2006;
