// SPDX-License-Identifier: MIT
// The example programs shipped in data/examples: each HEX file must load into the image of its
// device with the words its assembly source lists, must not lock or misconfigure the chip, and
// must survive a save and reload unchanged.

#include "device/Catalogue.h"
#include "device/MemoryImage.h"
#include "tests/catalogue/ShippedFiles.h"
#include "tests/device/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Example {
    const char* file;
    const char* device;
    uint32_t programLength;                          // words 0 .. programLength - 1 hold code
    std::vector<std::pair<uint32_t, uint16_t>> words;   // sampled from the assembly listing
    uint16_t configWord;
    uint16_t oscillator;                             // FOSC bits as they sit in the word
    uint16_t userId;
    std::vector<std::pair<uint32_t, uint16_t>> eeprom;
};

void PrintTo(const Example& example, std::ostream* out) { *out << example.file; }

const std::vector<Example>& examples() {
    static const std::vector<Example> list = {
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
         0x3F50, 0x0010 /* 100: internal oscillator, RA6/RA7 I/O */, 0x0001, {}},
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
         0x3F71, 0x0001 /* 01: XT crystal */, 0x0001, {{0, 0x0003}}},
    };
    return list;
}

std::string examplePath(const Example& example) {
    return examplesDir() + "/" + example.file;
}

// An image sized and blanked for the example's device, as a device selection leaves it.
MemoryImage imageFor(const DeviceRecord& device) {
    MemoryImage image;
    image.resize(static_cast<uint32_t>(device.programWordCount), device.blankWord,
                 static_cast<uint32_t>(device.eepromByteCount));
    image.setFamily(device.family);
    return image;
}

DeviceRecord deviceOf(const Example& example) {
    const CatalogueLookup lookup = findCatalogueDevice(catalogueFile(), example.device);
    EXPECT_TRUE(lookup.found) << example.device;
    return lookup.record;
}

// Bit number of a named configuration bit, from the device's own tag column.
int bitNamed(const DeviceRecord& device, const std::string& tag) {
    const std::vector<std::string> tags = splitTags(device.configBitTags);
    const auto last = tags.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(14, tags.size()));
    const auto at = std::find(tags.begin(), last, tag);
    if (at == last) return -1;
    return 13 - static_cast<int>(at - tags.begin());
}

class ExampleHex : public testing::TestWithParam<Example> {};

TEST_P(ExampleHex, LoadsSavesAndLeavesTheChipOpen) {
    const Example& example = GetParam();
    const DeviceRecord device = deviceOf(example);
    ASSERT_TRUE(device.valid) << device.invalidReason;
    MemoryImage image = imageFor(device);
    ASSERT_TRUE(image.loadHex(examplePath(example)));

    for (const auto& [address, word] : example.words)
        EXPECT_EQ(image.programWords[address], word) << "word " << std::hex << address;
    for (uint32_t address = example.programLength; address < image.programWordCount; ++address)
        ASSERT_EQ(image.programWords[address], 0x3FFF) << "word " << std::hex << address;

    // Every GOTO and CALL lands inside the program, on page 0 where PCLATH leaves it.
    for (uint32_t address = 0; address < example.programLength; ++address) {
        const uint16_t word = image.programWords[address];
        if ((word & 0x3000) == 0x2000) {
            EXPECT_LT(word & 0x07FFu, example.programLength)
                << "jump at " << std::hex << address << ": " << word;
        }
    }

    EXPECT_EQ(image.configWord, example.configWord);
    EXPECT_EQ(image.configWord2, 0x3FFF);
    EXPECT_EQ(image.userId, example.userId);
    for (uint32_t cell = 0; cell < image.eepromByteCount; ++cell) {
        uint16_t expected = 0x00FF;
        for (const auto& [at, value] : example.eeprom)
            if (at == cell) expected = value;
        EXPECT_EQ(image.eepromBytes[cell], expected) << "EEPROM byte " << cell;
    }

    // A demonstration program must never lock the chip it is tried on, nor leave it depending
    // on a watchdog, low-voltage programming or a pin the user did not wire.
    const uint16_t config = image.configWord & device.configKeepMask;
    EXPECT_EQ(config & device.protectOffBits, device.protectOffBits) << "code protection on";
    for (const char* tag : {"[WDTE]", "[LVP]", "[PWRTEn]"}) {
        const int bit = bitNamed(device, tag);
        ASSERT_GE(bit, 0) << tag;
        EXPECT_EQ(config & (1u << bit), 0u) << tag << " must be 0 (watchdog off, LVP off, PWRT on)";
    }
    uint16_t oscillatorMask = 0;
    for (const char* tag : {"[FOSC2]", "[FOSC1]", "[FOSC0]"})
        if (int bit = bitNamed(device, tag); bit >= 0) oscillatorMask |= static_cast<uint16_t>(1u << bit);
    EXPECT_EQ(config & oscillatorMask, example.oscillator);

    // Saved again, it is the shipped file byte for byte (laid out as the program writes HEX
    // files): the words checked above are the file's.
    TempFolder folder;
    ASSERT_TRUE(image.saveHex(folder.path("saved.hex"), true, 0x3FFF));
    EXPECT_EQ(readText(folder.path("saved.hex")), readText(examplePath(example)));
}

INSTANTIATE_TEST_SUITE_P(Shipped, ExampleHex, testing::ValuesIn(examples()),
                         [](const testing::TestParamInfo<Example>& info) {
                             return std::string(info.param.device);
                         });

}  // namespace
