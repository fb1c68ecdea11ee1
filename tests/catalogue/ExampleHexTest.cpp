// SPDX-License-Identifier: MIT
// The example programs shipped in data/examples: each HEX file must load into the image of its
// device, ending where its assembly source ends, must not lock or misconfigure the chip, and
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
    uint32_t programLength;   // words 0 .. programLength - 1 hold code
    uint16_t lastWord;        // a return, from the assembly listing
    uint16_t configWord;
    uint16_t userId;
    uint16_t eeprom0;   // the rest of data memory is blank
};

TEST(ExampleHex, LoadsSavesAndLeavesTheChipOpen) {
    const Example examples[] = {
        {"blink-16f628a.hex", "PIC16F628A", 0x15, 0x0008,
         // CP and CPD 1 (unprotected), LVP 0, BOREN 1, MCLRE 0, PWRTEn 0 (timer on), WDTE 0,
         // FOSC 100: the internal oscillator with RA6/RA7 as I/O.
         0x3F50, 0x0001, 0x00FF},
        {"blink-16f877a.hex", "PIC16F877A", 0x20, 0x0008,
         // CP, DEBUG, WRT1:0 and CPD 1 (unprotected, no debugger, writes allowed), LVP 0,
         // BOREN 1, PWRTEn 0, WDTE 0, FOSC 01: an XT crystal.
         0x3F71, 0x0001, 0x0003},
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

        EXPECT_EQ(image.programWords[example.programLength - 1], example.lastWord);
        for (uint32_t address = example.programLength; address < image.programWordCount; ++address)
            ASSERT_EQ(image.programWords[address], 0x3FFF) << "word " << std::hex << address;
        EXPECT_EQ(image.configWord, example.configWord);
        EXPECT_EQ(image.configWord2, 0x3FFF);
        EXPECT_EQ(image.userId, example.userId);
        std::vector<uint16_t> eeprom(image.eepromByteCount, 0x00FF);
        eeprom[0] = example.eeprom0;
        EXPECT_EQ(image.eepromBytes, eeprom);

        // Saved again, it is the shipped file byte for byte (laid out as the program writes HEX
        // files): the words checked above are the file's.
        TempFolder folder;
        ASSERT_TRUE(image.saveHex(folder.path("saved.hex"), true, 0x3FFF));
        EXPECT_EQ(readText(folder.path("saved.hex")), readText(path));
    }
}

}  // namespace
