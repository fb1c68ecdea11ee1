// SPDX-License-Identifier: MIT
// The device catalogue that ships with the program, against the published data of each chip
// (sizes, package, device ID, configuration word layout, calibration word): a line that
// disagrees would send the wrong words to a real chip or refuse a good one.

#include "device/Catalogue.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>
#include <utility>

namespace {

// Configuration word 1, bit 13 first, as the chips' programming documents lay it out; [x] marks
// an unimplemented bit, [CP] and [CPD] the protection bits.
const std::string k84A = "[CP][CP][CP][CP][CP][CP][CP][CP][CP][CP][PWRTEn][WDTE][FOSC1][FOSC0]";
const std::string k62x = "[CP][CP][CP][CP][x][CPD][LVP][BOREN][MCLRE][FOSC2][PWRTEn][WDTE][FOSC1][FOSC0]";
const std::string k62xA = "[CP][x][x][x][x][CPD][LVP][BOREN][MCLRE][FOSC2][PWRTEn][WDTE][FOSC1][FOSC0]";
const std::string k87x = "[CP][CP][DEBUG][x][WRT][CPD][LVP][BOREN][CP][CP][PWRTEn][WDTE][FOSC1][FOSC0]";
const std::string k87xA = "[CP][x][DEBUG][WRT1][WRT0][CPD][LVP][BOREN][x][x][PWRTEn][WDTE][FOSC1][FOSC0]";
const std::string k88 = "[CP][CCPMX][DEBUG][WRT1][WRT0][CPD][LVP][BOREN][MCLRE][FOSC2][PWRTEn][WDTE][FOSC1][FOSC0]";
const std::string k88Config2 = "[x][x][x][x][x][x][x][x][x][x][x][x][IESO][FCMEN]";
const std::string k629 = "[BG1][BG0][x][x][x][CPD][CP][BOREN][MCLRE][PWRTEn][WDTE][FOSC2][FOSC1][FOSC0]";

struct Chip {
    const char* name;
    int32_t words, eeprom, pins;
    int32_t deviceId, idMask;           // the word at 0x2006 without its revision bits
    const std::string& layout;
    const std::string& layout2;         // configuration word 2, where the chip has one
    bool calibration;                   // factory OSCCAL word at 0x3FF, BG bits 13:12
    int32_t entry, program, eepromMethod, family, erase, block;
    uint16_t blankChecksum;             // published for a blank chip; 0 where none is
};

const std::string kNone;

// In the catalogue's order, which is the order the device list shows.
const Chip kChips[] = {
    {"PIC12F629", 1024, 128, 8, 0x0F80, 0x3FE0, k629, kNone, true, 1, 1, 0, 0, 1, 1, 0},
    {"PIC12F675", 1024, 128, 8, 0x0FC0, 0x3FE0, k629, kNone, true, 1, 1, 0, 0, 1, 1, 0},
    {"PIC16F630", 1024, 128, 14, 0x10C0, 0x3FE0, k629, kNone, true, 1, 1, 0, 0, 1, 1, 0},
    {"PIC16F676", 1024, 128, 14, 0x10E0, 0x3FE0, k629, kNone, true, 1, 1, 0, 0, 1, 1, 0},
    {"PIC16F84A", 1024, 64, 18, 0x0560, 0x3FE0, k84A, kNone, false, 0, 0, 0, 0, 2, 1, 0x3BFF},
    {"PIC16F627A", 1024, 128, 18, 0x1040, 0x3FE0, k62xA, kNone, false, 1, 1, 0, 0, 1, 1, 0},
    {"PIC16F628A", 2048, 128, 18, 0x1060, 0x3FE0, k62xA, kNone, false, 1, 1, 0, 0, 1, 1, 0},
    {"PIC16F648A", 4096, 256, 18, 0x1100, 0x3FE0, k62xA, kNone, false, 1, 1, 0, 0, 1, 1, 0},
    {"PIC16F628", 2048, 128, 18, 0x07C0, 0x3FE0, k62x, kNone, false, 1, 0, 0, 0, 2, 1, 0},
    {"PIC16F870", 2048, 64, 28, 0x0D00, 0x3FE0, k87x, kNone, false, 0, 0, 0, 0, 2, 1, 0x33FF},
    {"PIC16F871", 2048, 64, 40, 0x0D20, 0x3FE0, k87x, kNone, false, 0, 0, 0, 0, 2, 1, 0},
    {"PIC16F877", 8192, 256, 40, 0x09A0, 0x3FE0, k87x, kNone, false, 0, 0, 0, 0, 2, 1, 0},
    {"PIC16F873A", 4096, 128, 28, 0x0E40, 0x3FF0, k87xA, kNone, false, 0, 2, 0, 1, 4, 8, 0x1FCF},
    {"PIC16F874A", 4096, 128, 40, 0x0E60, 0x3FF0, k87xA, kNone, false, 0, 2, 0, 1, 4, 8, 0},
    {"PIC16F876A", 8192, 256, 28, 0x0E00, 0x3FF0, k87xA, kNone, false, 0, 2, 0, 1, 4, 8, 0},
    {"PIC16F877A", 8192, 256, 40, 0x0E20, 0x3FF0, k87xA, kNone, false, 0, 2, 0, 1, 4, 8, 0x0FCF},
    // The 16F819 checksum stands on one quoted source; gputils' p16f819.inc agrees (all 14
    // configuration bits implemented: 2048 x 0x3FFF + 0x3FFF).
    {"PIC16F819", 2048, 256, 18, 0x04E0, 0x3FF0, k88, kNone, false, 0, 2, 1, 1, 4, 4, 0x37FF},
    {"PIC16F88", 4096, 256, 18, 0x0760, 0x3FF0, k88, k88Config2, false, 1, 2, 1, 2, 4, 4, 0},
};

TEST(ShippedCatalogue, EveryChipAsItsPublishedData) {
    // Exactly these devices, each once: the simulator's chip table covers the same ones.
    const CatalogueRecords all = readCatalogueRecords(KORVALIN_CATALOGUE_FILE);
    ASSERT_EQ(all.records.size(), std::size(kChips));
    for (std::size_t i = 0; i < std::size(kChips); ++i) {
        const Chip& chip = kChips[i];
        const DeviceRecord& r = all.records[i];
        SCOPED_TRACE(chip.name);
        EXPECT_EQ(r.name, chip.name);
        EXPECT_TRUE(r.valid) << r.invalidReason;
        EXPECT_EQ(std::make_tuple(r.programWordCount, r.wordBits, r.blankWord, r.eepromByteCount, r.socketPins),
                  std::make_tuple(chip.words, 14, uint16_t{0x3FFF}, chip.eeprom, chip.pins));
        EXPECT_EQ(std::make_pair(r.expectedDeviceId, r.deviceIdMask), std::make_pair(chip.deviceId, chip.idMask));
        EXPECT_EQ(r.configBitTags, chip.layout + chip.layout2);
        EXPECT_EQ(r.hasCalibrationWord, chip.calibration);
        EXPECT_EQ(std::make_pair(r.calibrationAddress, r.calibrationBitsMask),
                  chip.calibration ? std::make_pair(0x3FFu, uint16_t{0x3000}) : std::make_pair(0u, uint16_t{0}));
        EXPECT_EQ(std::make_tuple(r.entrySequence, r.programMethod, r.eepromMethod, r.family, r.reservedValue,
                                  r.eraseMethod, r.blockWords),
                  std::make_tuple(chip.entry, chip.program, chip.eepromMethod, chip.family, 0, chip.erase, chip.block));
        // The blank checksum pins down which bits the [x] tags leave out of the word.
        if (chip.blankChecksum != 0) {
            EXPECT_EQ(uint16_t(r.programWordCount * r.blankWord + (r.configKeepMask & r.blankWord)), chip.blankChecksum);
        }
    }
}

}  // namespace
