// SPDX-License-Identifier: MIT
// The example programs shipped in data/examples: each HEX file must load into the image of its
// device with the words its assembly source lists, must not lock or misconfigure the chip, and
// must survive a save and reload unchanged.

#include "device/Catalogue.h"
#include "device/MemoryImage.h"
#include "tests/device/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Example {
    const char* file;
    const char* device;
    uint32_t programLength;                             // words 0 .. programLength - 1 hold code
    std::vector<std::pair<uint32_t, uint16_t>> words;   // sampled from the assembly listing
    uint16_t configWord;
    uint16_t userId;
    std::vector<std::pair<uint32_t, uint16_t>> eeprom;
};

TEST(ExampleHex, LoadsSavesAndLeavesTheChipOpen) {
    const Example examples[] = {
        {"blink-16f628a.hex", "PIC16F628A", 0x15,
         {{0x000, 0x0186},    // clrf PORTB
          {0x002, 0x009F},    // movwf CMCON
          {0x003, 0x1683},    // bsf STATUS, RP0
          {0x004, 0x1006},    // bcf TRISB, 0
          {0x007, 0x0686},    // xorwf PORTB, f
          {0x008, 0x200A},    // call delay
          {0x009, 0x2806},    // goto loop
          {0x00E, 0x0BA0},    // decfsz count1, f
          {0x014, 0x0008}},   // return
         // CP and CPD 1 (unprotected), LVP 0, BOREN 1, MCLRE 0, PWRTEn 0 (timer on), WDTE 0,
         // FOSC 100: the internal oscillator with RA6/RA7 as I/O.
         0x3F50, 0x0001, {}},
        {"blink-16f877a.hex", "PIC16F877A", 0x20,
         {{0x000, 0x0186},    // clrf PORTB
          {0x003, 0x1703},    // bsf STATUS, RP1
          {0x007, 0x138C},    // bcf EECON1, EEPGD
          {0x00A, 0x080C},    // movf EEDATA, w
          {0x00F, 0x1903},    // btfsc STATUS, Z
          {0x013, 0x2015},    // call delay
          {0x014, 0x2811},    // goto loop
          {0x015, 0x0823},    // movf speed, w
          {0x01F, 0x0008}},   // return
         // CP, DEBUG, WRT1:0 and CPD 1 (unprotected, no debugger, writes allowed), LVP 0,
         // BOREN 1, PWRTEn 0, WDTE 0, FOSC 01: an XT crystal.
         0x3F71, 0x0001, {{0, 0x0003}}},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(example.file);
        const std::string path = std::string(KORVALIN_EXAMPLES_DIR) + "/" + example.file;
        const CatalogueLookup lookup = findCatalogueDevice(KORVALIN_CATALOGUE_FILE, example.device);
        ASSERT_TRUE(lookup.found && lookup.record.valid);
        // Sized and blanked for the device, as a device selection leaves the image.
        MemoryImage image;
        image.resize(uint32_t(lookup.record.programWordCount), lookup.record.blankWord,
                     uint32_t(lookup.record.eepromByteCount));
        image.setFamily(lookup.record.family);
        ASSERT_TRUE(image.loadHex(path));

        for (const auto& [address, word] : example.words)
            EXPECT_EQ(image.programWords[address], word) << "word " << std::hex << address;
        for (uint32_t address = 0; address < image.programWordCount; ++address) {
            const uint16_t word = image.programWords[address];
            if (address >= example.programLength) {
                ASSERT_EQ(word, 0x3FFF) << "word " << std::hex << address;
            } else if ((word & 0x3000) == 0x2000) {
                // Every GOTO and CALL lands inside the program, on page 0 where PCLATH leaves it.
                EXPECT_LT(word & 0x07FFu, example.programLength) << "jump at " << std::hex << address;
            }
        }
        EXPECT_EQ(image.configWord, example.configWord);
        EXPECT_EQ(image.configWord2, 0x3FFF);
        EXPECT_EQ(image.userId, example.userId);
        std::vector<uint16_t> eeprom(image.eepromByteCount, 0x00FF);
        for (const auto& [at, value] : example.eeprom)
            eeprom[at] = value;
        EXPECT_EQ(image.eepromBytes, eeprom);

        // Saved again, it is the shipped file byte for byte (laid out as the program writes HEX
        // files): the words checked above are the file's.
        TempFolder folder;
        ASSERT_TRUE(image.saveHex(folder.path("saved.hex"), true, 0x3FFF));
        EXPECT_EQ(readText(folder.path("saved.hex")), readText(path));
    }
}

}  // namespace
