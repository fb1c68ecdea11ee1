// SPDX-License-Identifier: MIT
#include "device/MemoryImage.h"
#include "tests/device/TestFiles.h"

#include <cstdio>
#include <functional>

namespace {

struct Geometry { uint32_t words; uint16_t blank; uint32_t eeprom; };
constexpr Geometry standard{2048, 0x3FFF, 128};

MemoryImage blankImage(Geometry g) {
    MemoryImage image;
    image.resize(g.words, g.blank, g.eeprom);
    return image;
}

std::string reportText(const HexLoadReport& r) {
    char text[128];
    std::snprintf(text, sizeof text, "data%u in%u out%u sum%u stray%u cut%u end%d", r.dataRecords,
                  r.bytesInDevice, r.bytesOutside, r.checksumErrors, r.strayLines, r.cutRecords,
                  r.endRecordSeen);
    return text + std::string(r.tooLarge ? " too large" : "");
}

TEST(HexReader, RecordsIntoImage) {
    struct Case {
        const char* name;
        const char* report;   // what the reader counted besides the image
        Geometry geometry;
        std::vector<const char*> lines;
        std::function<void(MemoryImage&)> expect;   // applied to a blank image
    } cases[] = {
        {"address records only", "data0 in0 out0 sum0 stray0 cut0 end1", standard, {":020000040000FA", ":00000001FF"}, [](MemoryImage&) {}},
        {"program words", "data1 in4 out0 sum1 stray0 cut0 end0", standard, {":0400100005288A01XX"},
         [](MemoryImage& m) { m.programWords[8] = 0x2805; m.programWords[9] = 0x018A; }},
        {"odd address drops its low bit", "data1 in2 out0 sum0 stray0 cut1 end0", standard, {":020001003412"},
         [](MemoryImage& m) { m.programWords[0] = 0x1234; }},
        {"config word masked by 12-bit blank", "data1 in2 out0 sum0 stray0 cut1 end0", {512, 0x0FFF, 0}, {":02400E00FF3F"},
         [](MemoryImage& m) { m.configWord = 0x0FFF; }},
        {"config word 2 unmasked", "data1 in2 out0 sum0 stray0 cut1 end0", standard, {":02401000FFFF"},
         [](MemoryImage& m) { m.configWord2 = 0xFFFF; }},
        {"user ID nibbles, 0x2004 to 0x2006 ignored", "data1 in14 out0 sum0 stray0 cut1 end0", standard,
         {":0E400000F100020003000400AAAABBBBCCCC"}, [](MemoryImage& m) { m.userId = 0x4321; }},
        {"EEPROM keeps a high byte", "data1 in2 out0 sum0 stray0 cut1 end0", standard, {":02427E00AB01"},
         [](MemoryImage& m) { m.eepromBytes[63] = 0x01AB; }},
        {"no EEPROM: ignored", "data1 in0 out2 sum0 stray0 cut1 end0", {2048, 0x3FFF, 0}, {":024200001200"}, [](MemoryImage&) {}},
        {"beyond program memory: dropped", "data1 in2 out2 sum0 stray0 cut1 end0", {16, 0x3FFF, 0}, {":04001E0011002200"},
         [](MemoryImage& m) { m.programWords[15] = 0x0011; }},
        {"lowercase digits", "data2 in6 out0 sum0 stray0 cut2 end0", standard, {":04000000ab3ffe12", ":02400e00ff3f"},
         [](MemoryImage& m) { m.programWords[0] = 0x3FAB; m.programWords[1] = 0x12FE; m.configWord = 0x3FFF; }},
        {"records after the end record, bad checksums", "data1 in2 out0 sum1 stray0 cut0 end1", standard, {":00000001FF", ":0200020077330B"},
         [](MemoryImage& m) { m.programWords[1] = 0x3377; }},
        {"odd byte count: last high byte 0", "data1 in3 out0 sum1 stray0 cut0 end0", standard, {":0300000011223344"},
         [](MemoryImage& m) { m.programWords[0] = 0x2211; m.programWords[1] = 0x0033; }},
        {"data missing from a short line reads 0", "data1 in4 out0 sum0 stray0 cut1 end0", standard, {":0400000011"},
         [](MemoryImage& m) { m.programWords[0] = 0x0011; m.programWords[1] = 0; }},
        {"extended linear address", "data2 in2 out2 sum0 stray0 cut2 end0", standard, {":020000040001F9", ":02000000AAAA", ":020000040000FA", ":020002005555"},
         [](MemoryImage& m) { m.programWords[1] = 0x5555; }},
        {"extended segment address", "data1 in2 out0 sum0 stray0 cut1 end0", standard, {":020000020400F8", ":020000003412", ":020000020000FC"},
         [](MemoryImage& m) { m.userId = 0xFFF4; }},
        {"other types and lines without colon", "data0 in0 out0 sum0 stray2 cut2 end0", standard, {"0200000011", ":020000031111", ":0200000511", " :020000001111"},
         [](MemoryImage&) {}},
    };
    for (auto& c : cases) {
        MemoryImage image = blankImage(c.geometry);
        MemoryImage expected = blankImage(c.geometry);
        HexLoadReport report;
        for (const char* line : c.lines) image.parseHexLine(line, report);
        c.expect(expected);
        EXPECT_TRUE(sameImage(image, expected)) << c.name;
        EXPECT_EQ(reportText(report), c.report) << c.name;
    }
}

TEST(HexReader, LoadClearsOnlyWhatItCanReadAndBearsLongLines) {
    TempFolder folder;
    const std::string path = folder.path("in.hex");
    writeText(path, ":020000040000FA\r\n:02000000341200\r\n:0200020078560\n:00000001FF");   // no final line end

    MemoryImage image;
    image.programWords[5] = 0x0123;
    image.configWord = 0x0001;
    image.addressOffset = 0x10000;   // a leftover offset must not survive into a new load
    HexLoadReport report;
    report.bytesOutside = 99;   // a report is for one load only
    ASSERT_TRUE(image.loadHex(path, report));
    EXPECT_EQ(reportText(report), "data2 in4 out0 sum1 stray0 cut1 end1");
    MemoryImage expected;
    expected.programWords[0] = 0x1234;
    expected.programWords[1] = 0x5678;
    EXPECT_TRUE(sameImage(image, expected));

    // Reading /proc/self/mem at offset 0 opens but fails to read: a read error is a failure. (The
    // operations core loads into a copy, and its file tests pin files that cannot be read.)
    EXPECT_FALSE(image.loadHex("/proc/self/mem"));

    // Very long lines stay harmless.
    writeText(path, ":02000000AAAA" + std::string(300000, '5') + "\n:020002003412\r\n" +
                    std::string(200000, ':'));
    ASSERT_TRUE(image.loadHex(path));
    EXPECT_EQ(image.programWords[0], 0xAAAA);
    EXPECT_EQ(image.programWords[1], 0x1234);
}

}  // namespace
