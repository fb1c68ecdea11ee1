#include "device/Catalogue.h"
#include "tests/device/TestFiles.h"

#include <gtest/gtest.h>

namespace {

// Fourteen TAB-terminated columns from a list; the example device unless columns are swapped.
std::string catalogueLine(std::vector<std::pair<int, std::string>> changes = {}) {
    std::vector<std::string> columns = {
        "SAMPLE-1", "2048:14", "128", "[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]",
        "18", "0", "0", "0", "0", "0", "1", "1", "3FF:3000", "0FA0:3FE0"};
    for (auto& [column, text] : changes) columns[column - 1] = text;
    std::string line;
    for (auto& column : columns) line += column + "\t";
    return line;
}

TEST(NumberForms, HexDigits) {
    struct Case { const char* text; uint32_t value; } cases[] = {
        {"", 0}, {"G1", 0}, {"0x10", 0}, {"-1", 0}, {"3FF", 0x3FF},
        {"3ff", 0x3FF}, {"aBcD", 0xABCD}, {"3FG7", 0x3F}, {"12 34", 0x12},
        {"00000000012", 1},                  // ten characters at most
        {"FFFFFFFF", 0xFFFFFFFF}, {"1000000000", 0xFFFFFFFF},   // saturates past 32 bits
    };
    for (auto& c : cases) EXPECT_EQ(parseHexDigits(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberForms, Decimal) {
    struct Case { const char* text; int32_t value; } cases[] = {
        {"", 0}, {"x5", 0}, {"  42", 42}, {"\t\r 7", 7}, {"-16", -16}, {"+8", 8},
        {"14abc", 14}, {"- 5", 0}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
    };
    for (auto& c : cases) EXPECT_EQ(parseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(CatalogueLine, ExampleDevice) {
    DeviceRecord r = parseCatalogueLine(catalogueLine() + "a remark\twith\ttabs");
    EXPECT_TRUE(r.valid) << r.invalidReason;
    EXPECT_EQ(r.name, "SAMPLE-1");
    EXPECT_EQ(r.programWordCount, 2048);
    EXPECT_EQ(r.wordBits, 14);
    EXPECT_EQ(r.blankWord, 0x3FFF);
    EXPECT_EQ(r.eepromByteCount, 128);
    EXPECT_EQ(r.protectOffBits, 0x3080);
    EXPECT_EQ(r.configKeepMask, 0xF0FF);
    EXPECT_EQ(r.socketPins, 18);
    EXPECT_EQ(r.eraseMethod, 1);
    EXPECT_EQ(r.blockWords, 1);
    EXPECT_TRUE(r.hasCalibrationWord);
    EXPECT_EQ(r.calibrationAddress, 0x3FFu);
    EXPECT_EQ(r.calibrationBitsMask, 0x3000);
    EXPECT_EQ(r.expectedDeviceId, 0x0FA0);
    EXPECT_EQ(r.deviceIdMask, 0x3FE0);
}

TEST(CatalogueLine, ColumnForms) {
    DeviceRecord r = parseCatalogueLine(
        catalogueLine({{2, "2048"}, {6, "2"}, {7, "2"}, {8, "1"}, {9, "2"}, {10, "-3"}, {12, "8"}}));
    EXPECT_EQ(r.programWordCount, 0);        // no colon: the whole column is B
    EXPECT_EQ(r.wordBits, 2048);
    EXPECT_EQ(r.blankWord, 0xFFFF);
    EXPECT_EQ(r.entrySequence, 2);
    EXPECT_EQ(r.programMethod, 2);
    EXPECT_EQ(r.eepromMethod, 1);
    EXPECT_EQ(r.family, 2);
    EXPECT_EQ(r.reservedValue, -3);
    EXPECT_EQ(r.blockWords, 8);

    struct Blank { const char* column; uint16_t blank; } blanks[] = {
        {"16:12", 0x0FFF}, {"16:0", 0}, {"16:-4", 0}, {"16:16", 0xFFFF}, {"16:99999", 0xFFFF}};
    for (auto& b : blanks)
        EXPECT_EQ(parseCatalogueLine(catalogueLine({{2, b.column}, {13, ":"}})).blankWord, b.blank)
            << b.column;
}

TEST(CatalogueLine, CalibrationAndDeviceIdColumns) {
    struct Case {
        const char* calibration; const char* deviceId;
        bool hasCalibration; uint32_t address; uint16_t mask; int32_t id; int32_t idMask;
    } cases[] = {
        {":", "-", false, 0, 0, 0x3FFF, 0},
        {"3ff:3000", "-anything", true, 0x3FF, 0x3000, 0x3FFF, 0},
        {"-", "", true, 0, 0, 0, 0},           // only an exact ":" means absent
        {"", "0FA0", true, 0, 0, 0, 0x0FA0},   // no colon: the right side is the whole column
        {"::", "x-1:3FE0", true, 0, 0, 0, 0x3FE0},
        {"7FF:1FFFF", "10C0:3FE0:1", true, 0x7FF, 0xFFFF, 0x10C0, 0x3FE0},
    };
    for (auto& c : cases) {
        DeviceRecord r = parseCatalogueLine(catalogueLine({{13, c.calibration}, {14, c.deviceId}}));
        SCOPED_TRACE(std::string(c.calibration) + " / " + c.deviceId);
        EXPECT_EQ(r.hasCalibrationWord, c.hasCalibration);
        EXPECT_EQ(r.calibrationAddress, c.address);
        EXPECT_EQ(r.calibrationBitsMask, c.mask);
        EXPECT_EQ(r.expectedDeviceId, c.id);
        EXPECT_EQ(r.deviceIdMask, c.idMask);
    }
}

TEST(CatalogueLine, MissingColumnsReadEmpty) {
    std::string line = catalogueLine();
    line.pop_back();   // the 14th column without its TAB reads as empty
    DeviceRecord r = parseCatalogueLine(line);
    EXPECT_EQ(r.expectedDeviceId, 0);
    EXPECT_EQ(r.deviceIdMask, 0);

    r = parseCatalogueLine("P16\t1024:14\t64\t[CP]");   // the tags have no TAB: all else empty
    EXPECT_EQ(r.name, "P16");
    EXPECT_EQ(r.eepromByteCount, 64);
    EXPECT_EQ(r.configBitTags, "");
    EXPECT_EQ(r.socketPins, 0);
    EXPECT_TRUE(r.hasCalibrationWord);
    EXPECT_EQ(r.calibrationAddress, 0u);

    r = parseCatalogueLine("");
    EXPECT_EQ(r.name, "");
    EXPECT_EQ(r.programWordCount, 0);
    EXPECT_EQ(r.blankWord, 0);
    EXPECT_FALSE(r.valid);   // calibration "present" at 0 with no program memory
}

TEST(ConfigMasks, FromTags) {
    struct Case { const char* tags; uint16_t protect; uint16_t keep; } cases[] = {
        {"[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]", 0x3080, 0xF0FF},
        {"[CP] [CP]", 0x2000, 0xFFFF},       // the blank joins the second tag
        {"[*CP][*CPD][][x]", 0x3000, 0xF3FF},   // fewer than 14 tags: the rest are plain
        {"", 0, 0xFFFF},
        {"[CP]]", 0x2000, 0xFFFF},             // "]" alone is a tag of its own
        {"[a][b][c][d][e][f][g][h][i][j][k][l][m][CP][x][CP]", 0x0001, 0xFFFF},   // 14 count
        {"[CP", 0, 0xFFFF},
    };
    for (auto& c : cases) {
        ConfigMasks m = buildConfigMasks(c.tags);
        EXPECT_EQ(m.protectOffBits, c.protect) << c.tags;
        EXPECT_EQ(m.configKeepMask, c.keep) << c.tags;
    }
}

TEST(CatalogueLine, ValidityLimits) {
    struct Case { std::vector<std::pair<int, std::string>> changes; bool valid; const char* hint; } cases[] = {
        {{{2, "8192:14"}}, true, ""},
        {{{2, "8193:14"}}, false, "program memory"},
        {{{2, "-16:14"}, {13, ":"}}, false, "program memory"},
        {{{2, "0:14"}, {13, ":"}}, true, ""},
        {{{3, "256"}}, true, ""},
        {{{3, "257"}}, false, "EEPROM"},
        {{{3, "-1"}}, false, "EEPROM"},
        {{{13, "7FF:3000"}}, true, ""},
        {{{13, "800:3000"}}, false, "calibration"},
        {{{13, "FFFFFFFFFF:0"}}, false, "calibration"},
        {{{7, "2"}, {12, "0"}}, false, "block size"},
        {{{7, "2"}, {12, "12"}}, false, "block size"},
        {{{7, "2"}, {12, "11"}}, true, ""},
        {{{7, "0"}, {12, "0"}}, true, ""},
    };
    for (auto& c : cases) {
        DeviceRecord r = parseCatalogueLine(catalogueLine(c.changes));
        EXPECT_EQ(r.valid, c.valid) << r.invalidReason;
        EXPECT_NE(r.invalidReason.find(c.hint), std::string::npos) << r.invalidReason;
        EXPECT_EQ(r.invalidReason.empty(), c.valid);
    }
}

TEST(CatalogueFile, NamesAndLookUp) {
    TempFolder folder;
    const std::string path = folder.path("PicDeviceList.txt");
    writeText(path, "; comment\r\n" + catalogueLine() + "\r\n\r\nNOTAB\n" +
                    catalogueLine({{1, "TWICE"}, {3, "64"}}) + "\n;\tskipped\n" +
                    catalogueLine({{1, "TWICE"}, {3, "256"}, {13, ":"}}));

    CatalogueNames names = readCatalogueNames(path);
    ASSERT_TRUE(names.opened);
    EXPECT_EQ(names.names, (std::vector<std::string>{"SAMPLE-1", "", "", "TWICE", "TWICE"}));

    CatalogueLookup twice = findCatalogueDevice(path, "TWICE");
    EXPECT_TRUE(twice.opened && twice.found);
    EXPECT_EQ(twice.record.eepromByteCount, 256);   // the last line of a name wins
    EXPECT_FALSE(twice.record.hasCalibrationWord);

    CatalogueLookup crlf = findCatalogueDevice(path, "SAMPLE-1");
    EXPECT_EQ(crlf.record.deviceIdMask, 0x3FE0);    // the CR is not part of the 14th column

    EXPECT_FALSE(findCatalogueDevice(path, "sample-1").found);
    EXPECT_TRUE(findCatalogueDevice(path, "").found);   // the empty line and the line without TAB

    for (const std::string& missing : {folder.path("none.txt"), folder.folder}) {
        EXPECT_FALSE(readCatalogueNames(missing).opened) << missing;
        EXPECT_FALSE(findCatalogueDevice(missing, "SAMPLE-1").opened) << missing;
    }
}

}  // namespace
