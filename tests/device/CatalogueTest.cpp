// SPDX-License-Identifier: MIT
#include "device/Catalogue.h"
#include "device/CatalogueCheck.h"
#include "tests/device/TestFiles.h"

#include <cstdio>

namespace {

// Fourteen TAB-terminated columns: the example device, with some columns swapped.
std::string catalogueLine(std::vector<std::pair<int, std::string>> changes = {}) {
    std::vector<std::string> columns = {
        "SAMPLE-1", "2048:14", "128", "[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]",
        "18", "0", "0", "0", "0", "0", "1", "1", "3FF:3000", "0FA0:3FE0"};
    for (auto& [column, text] : changes) columns[column - 1] = text;
    std::string line;
    for (auto& column : columns) line += column + "\t";
    return line;
}

// Every value of a record on one line, so that a table row states a whole record.
std::string summary(const DeviceRecord& r) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s W%d B%d blank%X E%d keep%X cp%X pins%d seq%d pm%d em%d fam%d res%d erase%d "
                  "block%d cal%d:%X:%X id%X:%X",
                  r.name.c_str(), r.programWordCount, r.wordBits, r.blankWord, r.eepromByteCount,
                  r.configKeepMask, r.protectOffBits, r.socketPins, r.entrySequence, r.programMethod,
                  r.eepromMethod, r.family, r.reservedValue, r.eraseMethod, r.blockWords,
                  r.hasCalibrationWord, r.calibrationAddress, r.calibrationBitsMask,
                  r.expectedDeviceId, r.deviceIdMask);
    return text + (r.valid ? std::string() : " invalid: " + r.invalidReason);
}

TEST(NumberForms, HexDigitsAndDecimal) {
    struct Hex { const char* text; uint32_t value; } hexCases[] = {
        {"", 0}, {"-1", 0}, {"3FF", 0x3FF}, {"3ff", 0x3FF}, {"3FG7", 0x3F},
        {"00000000012", 1},    // ten characters at most
        {"FFFFFFFF", 0xFFFFFFFF}, {"1000000000", 0xFFFFFFFF},    // saturates past 32 bits
    };
    for (auto& c : hexCases) EXPECT_EQ(parseHexDigits(c.text), c.value) << '"' << c.text << '"';
    // A whole text as one number up to a bound; a refused text leaves the value as it was.
    struct Whole { const char* text; uint64_t max; bool ok; uint64_t value; } wholeCases[] = {
        // The command-line tests refuse a "0x" prefix; these are the bounds and the signs.
        {"4000", 0x3FFF, false, 7}, {"00ab", 0xFF, true, 0xAB}, {"-1", 0xFF, false, 7},
        {"10000000000000000", UINT64_MAX, false, 7},
    };
    for (auto& c : wholeCases) {
        uint64_t value = 7;
        EXPECT_EQ(parseHexNumber(c.text, c.max, value), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    struct Dec { const char* text; int32_t value; } decimalCases[] = {
        {"", 0}, {"\t\r 7", 7}, {"-16", -16}, {"+8", 8}, {"14abc", 14},
        {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
    };
    for (auto& c : decimalCases) EXPECT_EQ(parseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(CatalogueLine, ColumnsAndValidity) {
    const std::string tail = " keepF0FF cp3080 pins18 seq0 pm0 em0 fam0 res0 erase1 block1 ";
    struct Case { std::string line; std::string expected; } cases[] = {
        {catalogueLine() + "remark\twith\ttabs",
         "SAMPLE-1 W2048 B14 blank3FFF E128" + tail + "cal1:3FF:3000 idFA0:3FE0"},
        {catalogueLine({{6, "2"}, {7, "2"}, {8, "1"}, {9, "2"}, {10, "-3"}, {12, "11"}}),
         "SAMPLE-1 W2048 B14 blank3FFF E128 keepF0FF cp3080 pins18 seq2 pm2 em1 fam2 res-3 erase1 "
         "block11 cal1:3FF:3000 idFA0:3FE0"},
        // Pair forms: without a colon the whole column is the right side.
        {catalogueLine({{2, "2048"}, {13, ":"}, {14, "-"}}),
         "SAMPLE-1 W0 B2048 blankFFFF E128" + tail + "cal0:0:0 id3FFF:0"},
        {catalogueLine({{2, "1024:12"}, {13, "3ff:3000"}, {14, "-anything"}}),
         "SAMPLE-1 W1024 B12 blankFFF E128" + tail + "cal1:3FF:3000 id3FFF:0"},
        {catalogueLine({{2, "16:-4"}, {13, "-"}, {14, "0FA0"}}),
         "SAMPLE-1 W16 B-4 blank0 E128" + tail + "cal1:0:0 id0:FA0"},
        // A 14th column without its TAB reads empty, and so does everything after a missing TAB;
        // such a line cannot be selected (its ID check would pass any chip).
        {catalogueLine().substr(0, catalogueLine().size() - 1),
         "SAMPLE-1 W2048 B14 blank3FFF E128" + tail + "cal1:3FF:3000 id0:0"
         " invalid: the line has 13 of its 14 TAB-ended columns"},
        {catalogueLine({{4, std::string(4100, 'x')}}), "SAMPLE-1 W2048 B14 blank3FFF E128 keepFFFF "
             "cp0 pins18 seq0 pm0 em0 fam0 res0 erase1 block1 cal1:3FF:3000 idFA0:3FE0 invalid: the "
             "line is longer than 4096 characters"},
        // Limits: sizes that fit the address map, a calibration word inside program memory, a
        // block that fits one script.
        {catalogueLine({{2, "8192:14"}, {3, "256"}, {13, "1FFF:0"}}),
         "SAMPLE-1 W8192 B14 blank3FFF E256" + tail + "cal1:1FFF:0 idFA0:3FE0"},
        {catalogueLine({{2, "8193:14"}}), "SAMPLE-1 W8193 B14 blank3FFF E128" + tail +
             "cal1:3FF:3000 idFA0:3FE0 invalid: program memory of 8193 words is outside 0 to 8192"},
        {catalogueLine({{2, "-16:14"}, {3, "-1"}}), "SAMPLE-1 W-16 B14 blank3FFF E-1" + tail +
             "cal1:3FF:3000 idFA0:3FE0 invalid: program memory of -16 words is outside 0 to 8192"},
        {catalogueLine({{3, "257"}}), "SAMPLE-1 W2048 B14 blank3FFF E257" + tail +
             "cal1:3FF:3000 idFA0:3FE0 invalid: EEPROM of 257 bytes is outside 0 to 256"},
        {catalogueLine({{13, "FFFFFFFFFF:0"}}), "SAMPLE-1 W2048 B14 blank3FFF E128" + tail +
             "cal1:FFFFFFFF:0 idFA0:3FE0 invalid: calibration word address 0xFFFFFFFF is not inside "
             "program memory of 2048 words"},
        {catalogueLine({{7, "2"}, {12, "0"}}),
         "SAMPLE-1 W2048 B14 blank3FFF E128 keepF0FF cp3080 pins18 seq0 pm2 em0 fam0 res0 erase1 "
         "block0 cal1:3FF:3000 idFA0:3FE0 invalid: block size 0 is outside 1 to 11 for block-wise programming"},
    };
    for (auto& c : cases) EXPECT_EQ(summary(parseCatalogueLine(c.line)), c.expected) << c.line;
}

TEST(ConfigMasks, FromTags) {
    struct Case { const char* tags; uint16_t protect; uint16_t keep; } cases[] = {
        {"[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]", 0x3080, 0xF0FF},
        {"[CP] [CP]", 0x2000, 0xFFFF},          // the blank joins the second tag
        {"[*CP][*CPD][][x]", 0x3000, 0xF3FF},   // fewer than 14 tags: the rest are plain
        {"", 0, 0xFFFF}, {"[CP", 0, 0xFFFF}, {"[CP]]", 0x2000, 0xFFFF},   // "]" alone is a tag of its own
        {"[a][b][c][d][e][f][g][h][i][j][k][l][m][CP][x][CP]", 0x0001, 0xFFFF},   // 14 count
    };
    for (auto& c : cases) {
        ConfigMasks m = buildConfigMasks(c.tags);
        EXPECT_EQ(m.protectOffBits, c.protect) << c.tags;
        EXPECT_EQ(m.configKeepMask, c.keep) << c.tags;
    }
}

TEST(CatalogueFile, NamesLookUpAndCheck) {
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
    EXPECT_EQ(findCatalogueDevice(path, "SAMPLE-1").record.deviceIdMask, 0x3FE0);   // CR LF line
    EXPECT_FALSE(findCatalogueDevice(path, "sample-1").found);
    EXPECT_TRUE(findCatalogueDevice(path, "").found);   // the empty line and the line without TAB

    // The check users run on their own lines, file-wide: line numbers, names and format.
    writeText(path, "; comment\n" + catalogueLine() + "\r\n" + catalogueLine({{3, "100"}}) + "\n" +
                    catalogueLine({{1, "B"}, {10, "2"}}) + "\n");
    const CatalogueCheck check = checkCatalogueFile(path);
    ASSERT_TRUE(check.opened);
    EXPECT_EQ(check.deviceLines, 3);
    EXPECT_EQ(check.errorCount(), 2);
    std::string text;
    for (const auto& p : check.problems) text += formatCatalogueProblem("list.txt", p) + "\n";
    EXPECT_EQ(text,
              "list.txt:3: SAMPLE-1: EEPROM of 100 bytes is not a multiple of 16\n"
              "list.txt:3: SAMPLE-1: the name is also on line 2; a selection applies only the later line\n"
              "list.txt:4: B: warning: column 10 is reserved and should be 0\n");
}

// Each broken line is reported with the words that let its author find the column at fault.
TEST(CatalogueCheck, EachKindOfBrokenLine) {
    struct Case { std::string line; std::string problems; } cases[] = {
        {catalogueLine(), ""},
        {catalogueLine({{10, "1"}}), "warning: column 10 is reserved and should be 0"},
        {catalogueLine().substr(0, catalogueLine().size() - 1), "has 13 TAB-ended columns, needs 14"},
        {catalogueLine({{1, ""}}), "column 1 (the device name) is empty"},
        {catalogueLine({{2, "2040:14"}}), "program memory of 2040 words is not a multiple of 16"},
        {catalogueLine({{3, "100"}}), "EEPROM of 100 bytes is not a multiple of 16"},
        {catalogueLine({{2, "9000:14"}}), "program memory of 9000 words is outside 0 to 8192"},
        {catalogueLine({{2, "2048"}, {13, ":"}}), "column 2 \"2048\" is not WORDS:BITS|program memory of 0 words|"
                                                  "program words of 2048 bits; this programmer writes 14-bit words"},
        {catalogueLine({{5, "18pin"}}), "column 5 \"18pin\" is not a whole number"},
        {catalogueLine({{4, "[CP] [CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]"}}),
         "column 4 has text outside the [tag] brackets"},
        {catalogueLine({{4, "[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1]"}}),
         "column 4 has 13 configuration bit tags, needs 14"},
        {catalogueLine({{9, "2"}}), "column 4 has 14 configuration bit tags, needs 28 (14 per word, family 2 has two words)"},
        {catalogueLine({{6, "3"}, {7, "5"}, {8, "2"}, {9, "-1"}, {11, "9"}}),
         "entry sequence 3 is not 0, 1 or 2|program write method 5 is not 0, 1 or 2: program memory "
         "would never be written|EEPROM write method 2 is not 0 or 1: EEPROM would never be written|"
         "family -1 is not 0, 1 or 2: the user ID and configuration word would never be written|"
         "erase method 9 is not 0 to 4"},
        {catalogueLine({{3, "0"}, {8, "7"}}), ""},   // no EEPROM: its method is never used
        {catalogueLine({{7, "2"}, {12, "12"}}), "block size 12 is outside 1 to 11 for block-wise programming"},
        {catalogueLine({{7, "2"}, {12, "3"}}), "program memory of 2048 words is not a whole number of blocks of 3"},
        {catalogueLine({{2, "0:14"}, {13, ":"}}), "program memory of 0 words"},
        {catalogueLine({{13, "800:3000"}}),
         "calibration word address 0x800 is not inside program memory of 2048 words"},
        {catalogueLine({{13, ""}}), "column 13 \"\" is not ADDRESS:MASK in hexadecimal, nor \":\" for a "
                                    "chip without calibration"},
        {catalogueLine({{13, "3FF:0C00"}}), "calibration bits 0C00 include bits column 4 marks as not implemented"},
        {catalogueLine({{14, "0FA1:3FE0"}}), "device ID 0FA1 has bits outside its mask 3FE0: no chip can ever match"},
        {catalogueLine({{14, "0FA0:3FFF"}}), "device ID mask 3FFF keeps revision bits: a later silicon revision would be refused"},
        {catalogueLine({{14, "0:0"}}), "device ID mask 0000 lets any chip pass the ID check"},
        {catalogueLine({{14, "0FA0"}}), "column 14 \"0FA0\" is not ID:MASK in hexadecimal, nor \"-\" for a chip without an ID"},
        {catalogueLine({{14, "-"}}), ""},
    };
    for (const auto& c : cases) {
        std::string problems;
        for (const auto& p : checkCatalogueLine(c.line, 7)) {
            EXPECT_EQ(p.lineNumber, 7);
            problems += (problems.empty() ? "" : "|") + std::string(p.error ? "" : "warning: ") + p.problem;
        }
        EXPECT_EQ(problems, c.problems) << c.line;
    }
}

}  // namespace
