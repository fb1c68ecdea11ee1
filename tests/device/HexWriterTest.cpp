// SPDX-License-Identifier: MIT
#include "device/MemoryImage.h"
#include "tests/device/TestFiles.h"

#include <functional>

namespace {

TEST(HexWriter, ExampleRecordsByteForByte) {
    // The records a whole file holds are checked in the file layouts below; these are the edges.
    const uint16_t sumsToZero = 0x00AE;
    struct Case { uint32_t count, address; const uint16_t* words; const char* record; } cases[] = {
        {3, 0x1234, &sumsToZero, ":03123400AE0009\r\n"},   // count / 2 words
        {0, 0, nullptr, ":0000000000\r\n"},
    };
    for (auto& c : cases)
        EXPECT_EQ(MemoryImage::formatHexRecord(c.count, c.address, 0, c.words), c.record);

    struct Field { uint32_t value; int width; const char* text; } fields[] = {
        {0xA, 2, "0A"}, {0x12345, 4, "12345"}};
    for (auto& f : fields) EXPECT_EQ(MemoryImage::formatHexField(f.value, f.width), f.text);
}

// The shipped examples are saved byte for byte too: those pin a file with program words and data.
TEST(HexWriter, FileLayout) {
    const std::string head = ":020000040000FA\r\n", tail = ":00000001FF\r\n";
    const std::string blankConfig = ":104000000F000F000F000F00000000000000FF3F36\r\n";
    struct Case {
        const char* name; uint32_t words; uint16_t blank; uint32_t eeprom; int32_t family;
        std::function<void(MemoryImage&)> change; bool includeEeprom; std::string text;
    } cases[] = {
        {"blank family 2", 2048, 0x3FFF, 128, 2, [](MemoryImage&) {}, true,
         head + blankConfig + ":02401000FF3F70\r\n" + tail},
        {"EEPROM left out", 2048, 0x3FFF, 128, 0, [](MemoryImage& m) { m.eepromBytes[0] = 0x12; }, false,
         head + blankConfig + tail},
        {"no EEPROM", 2048, 0x3FFF, 0, 0, [](MemoryImage&) {}, true, head + blankConfig + tail},
        {"12-bit: every group written", 16, 0x0FFF, 0, 0, [](MemoryImage&) {}, true,
         head + ":10000000FF0FFF0FFF0FFF0FFF0FFF0FFF0FFF0F80\r\n" +
             ":10001000FF0FFF0FFF0FFF0FFF0FFF0FFF0FFF0F70\r\n" +
             ":104000000F000F000F000F00000000000000FF0F66\r\n" + tail},
        {"short last group", 10, 0x3FFF, 3, 0,
         [](MemoryImage& m) { m.programWords[9] = 0; m.eepromBytes[2] = 0; }, true,
         head + ":04001000FF3F0000AE\r\n" + ":06420000FF00FF000000BA\r\n" + blankConfig + tail},
        {"user ID and config words", 0, 0x3FFF, 0, 2,
         [](MemoryImage& m) { m.userId = 0x4321; m.configWord = 0x30FF; m.configWord2 = 0x00AE; }, true,
         head + ":104000000100020003000400000000000000FF3077\r\n" + ":02401000AE0000\r\n" + tail},
    };
    for (auto& c : cases) {
        MemoryImage image;
        image.resize(c.words, c.blank, c.eeprom);
        image.setFamily(c.family);
        c.change(image);
        EXPECT_EQ(image.hexText(c.includeEeprom, 0x3FFF), c.text) << c.name;
    }
}

}  // namespace
