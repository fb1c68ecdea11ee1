#include "operations/Texts.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint16_t> countingCells(std::size_t n, uint16_t mask) {
    std::vector<uint16_t> cells(n);
    for (std::size_t i = 0; i < n; ++i) cells[i] = static_cast<uint16_t>((i * 0x0101) & mask);
    return cells;
}

TEST(DumpText, ProgramLinesHoldEightWordsWithWordAddresses) {
    const auto cells = countingCells(32, 0x3FFF);
    const std::string text = programDumpText(cells, 32);
    EXPECT_EQ(text,
              "00000 : 0000 0101 0202 0303 0404 0505 0606 0707 \r\n"
              "00008 : 0808 0909 0A0A 0B0B 0C0C 0D0D 0E0E 0F0F \r\n"
              "00010 : 1010 1111 1212 1313 1414 1515 1616 1717 \r\n"
              "00018 : 1818 1919 1A1A 1B1B 1C1C 1D1D 1E1E 1F1F \r\n");
}

TEST(DumpText, EepromCellsHaveTwoDigits) {
    const auto cells = countingCells(16, 0x00FF);
    EXPECT_EQ(eepromDumpText(cells, 16),
              "00000 : 00 01 02 03 04 05 06 07 \r\n"
              "00008 : 08 09 0A 0B 0C 0D 0E 0F \r\n");
}

TEST(DumpText, OnlyWholeBlocksOfSixteenAndNeverPastTheBuffer) {
    struct Case {
        std::size_t cells;
        uint32_t count;
        std::size_t lines;
    };
    const Case cases[] = {
        {2049, 2048, 256},  // the programmer's buffers hold one spare cell
        {40, 40, 4},        // words 32..39 are not shown
        {15, 15, 0},
        {0, 0, 0},
        {16, 64, 2},        // a buffer shorter than the device's count
        {129, 128, 16},
    };
    for (const Case& c : cases) {
        const std::string text = programDumpText(std::vector<uint16_t>(c.cells, 0x3FFF), c.count);
        std::size_t lines = 0;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + 2))
            ++lines;
        EXPECT_EQ(lines, c.lines) << c.cells << " cells, count " << c.count;
        EXPECT_EQ(text.size(), c.lines * 50) << c.cells << " cells, count " << c.count;
    }
    const std::string big = programDumpText(std::vector<uint16_t>(2049, 0x3FFF), 2048);
    EXPECT_EQ(big.substr(big.size() - 50, 8), "007F8 : ");
}

TEST(FieldText, WordsDeviceIdsSocketsAndCaptions) {
    EXPECT_EQ(wordText(0x0012), "0012");
    EXPECT_EQ(wordText(0x30FF), "30FF");
    EXPECT_EQ(wordText(0xFFFF), "FFFF");
    EXPECT_EQ(deviceIdText(0xFFFF), "----");
    EXPECT_EQ(deviceIdText(0x3FFF), "3FFF");
    EXPECT_EQ(deviceIdText(0x1066), "1066");

    struct Case {
        bool socketMode;
        int32_t pins;
        const char* text;
    };
    const Case cases[] = {
        {true, 8, "8pin"},   {true, 18, "18pin"}, {true, 28, "28pin"}, {true, 40, "40pin"},
        {true, 14, "ICSP"},  {true, 0, "ICSP"},   {true, -8, "ICSP"},  {false, 8, "ICSP"},
        {false, 40, "ICSP"}, {false, 14, "ICSP"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(socketText(c.socketMode, c.pins), c.text) << c.socketMode << " " << c.pins;

    EXPECT_EQ(programCaption(2048), "Program Memorys = 2048");
    EXPECT_EQ(eepromCaption(0), "EEPROM Memorys = 0");
    EXPECT_STREQ(verifyLineText(true), "OK");
    EXPECT_STREQ(verifyLineText(false), "NG");
}

TEST(FieldText, StatusTextOfEachOperation) {
    EXPECT_EQ(operationStatusText(Operation::None), "");
    EXPECT_EQ(operationStatusText(Operation::Program), "Program / EEPROM Write");
    EXPECT_EQ(operationStatusText(Operation::Read), "Program / EEPROM Read");
    EXPECT_EQ(operationStatusText(Operation::Verify), "Program / EEPROM Verify");
    EXPECT_EQ(operationStatusText(Operation::CalibrationRead), "OSC Calibration Data Read");
    EXPECT_EQ(operationStatusText(Operation::CalibrationWrite), "OSC Calibration Data Write");
    EXPECT_EQ(operationStatusText(Operation::Erase), "Program / EEPROM Erase");
}

TEST(Progress, PercentTruncatesAndGuardsItsTotal) {
    struct Case {
        uint32_t done, total;
        int percent;
    };
    const Case cases[] = {
        {0, 1, 0},          {0, 2184, 0},        {21, 2184, 0},      {22, 2184, 1},
        {2183, 2184, 99},   {2184, 2184, 100},   {5, 0, 0},          {0, 0, 0},
        {0x3FF, 2184, 46},  {4000000000u, 4000000001u, 99},          {3000, 2184, 100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST(ConfigRule, KeepMaskThenProtectOffBits) {
    struct Case {
        uint16_t word, keep, protect;
        bool protectOff;
        uint16_t result;
    };
    const Case cases[] = {
        {0x3FFF, 0xF0FF, 0x3080, false, 0x30FF},
        {0x0000, 0xF0FF, 0x3080, true, 0x3080},
        {0x0F00, 0xF0FF, 0x3080, true, 0x3080},   // unimplemented bits stay 0 even then
        {0x1234, 0xFFFF, 0x0000, true, 0x1234},
        {0xC000, 0xFFFF, 0x0000, false, 0xC000},  // bits 14 and 15 are always kept
    };
    for (const Case& c : cases)
        EXPECT_EQ(applyConfigRule(c.word, c.keep, c.protect, c.protectOff), c.result)
            << std::hex << c.word;
}

TEST(ControlStatesFor, ProgramButtonKeepsItsStateWhileItReadsCancel) {
    ControlStates enabled;  // everything on
    ControlStates disabledAll{false, false, false, false};

    struct Case {
        const char* name;
        ControlStates previous;
        bool enable, programIsCancel;
        ControlStates expected;
    };
    const Case cases[] = {
        {"first step of Program", enabled, false, true, {false, true, true, false}},
        {"later step", {false, true, true, false}, false, false, {false, false, false, false}},
        {"other operation", enabled, false, false, {false, false, false, false}},
        {"end of chain", disabledAll, true, false, {true, false, true, true}},
        {"cancel label while disabled", disabledAll, false, true, {false, true, false, false}},
    };
    for (const Case& c : cases) {
        const ControlStates s = controlStatesFor(c.previous, c.enable, c.programIsCancel);
        EXPECT_EQ(s.okCancelEnabled, c.expected.okCancelEnabled) << c.name;
        EXPECT_EQ(s.programIsCancel, c.expected.programIsCancel) << c.name;
        EXPECT_EQ(s.programEnabled, c.expected.programEnabled) << c.name;
        EXPECT_EQ(s.othersEnabled, c.expected.othersEnabled) << c.name;
    }
}

}  // namespace
