// SPDX-License-Identifier: MIT
#include "operations/CalibrationJournal.h"
#include "operations/Texts.h"
#include "operations/Verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

// The cells of a line are pinned through the session (tests/operations, File Open).
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
    };
    for (const Case& c : cases) {
        const std::string text = programDumpText(std::vector<uint16_t>(c.cells, 0x3FFF), c.count);
        EXPECT_EQ(text.size(), c.lines * 50) << c.cells << " cells, count " << c.count;
    }
    const std::string big = programDumpText(std::vector<uint16_t>(2049, 0x3FFF), 2048);
    EXPECT_EQ(big.substr(big.size() - 50, 8), "007F8 : ");
}

// A journal edited by hand or cut short by a crash: only whole, well-formed lines count, and the
// newest factory word of the device is the one offered.
TEST(CalibrationJournal, LastFactoryWordOfTheDeviceFromWellFormedLines) {
    struct Case {
        std::vector<std::string> lines;
        int32_t word;   // -1: none
        int bits;
    };
    const std::string good = "2026-01-01T00:00:00Z PIC12F675 0FC3 3450 2";
    const Case cases[] = {
        {{good}, 0x3450, 2},
        {{good, "2026-01-02T00:00:00Z PIC12F675 0FC3 3FFF 3"}, 0x3450, 2},
        {{good, "2026-01-02T00:00:00Z PIC12F675 ---- 3460 1"}, 0x3460, 1},
        {{good, "2026-01-02T00:00:00Z PIC12F629 0F83 3470 1"}, 0x3450, 2},
        {{good, "2026-01-02T00:00:00Z PIC12F675 0FC3 3470"}, 0x3450, 2},
        {{good, "2026-01-02T00:00:00Z PIC12F675 0FC3 3470 4"}, 0x3450, 2},
        {{good, "2026-01-02T00:00:00Z PIC12F675 0FC3 34G0 1"}, 0x3450, 2},
        {{"2026-01-02T00:00:00Z PIC12F675 0FC3 0000 0"}, -1, 0},
        {{}, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.empty() ? "empty" : c.lines.back());
        const std::optional<CalibrationRecord> record = lastFactoryRecord(c.lines, "PIC12F675");
        ASSERT_EQ(record.has_value(), c.word >= 0);
        if (!record) continue;
        EXPECT_EQ(record->word, c.word);
        EXPECT_EQ(record->bits, c.bits);
        // Written back, the record is the very line it was read from.
        EXPECT_NE(std::find(c.lines.begin(), c.lines.end(), journalLine(*record)), c.lines.end());
    }
}

TEST(Progress, PercentTruncatesAndGuardsItsTotal) {
    struct Case {
        uint32_t done, total;
        int percent;
    };
    const Case cases[] = {
        {21, 2184, 0}, {22, 2184, 1}, {2184, 2184, 100}, {5, 0, 0}, {4000000000u, 4000000001u, 99},
        {3000, 2184, 100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

// The printf fields of a format, in order: an English format with other fields would read the
// wrong arguments.
std::string formatFields(const std::string& text) {
    std::string fields;
    for (std::size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i + 1)) {
        const std::size_t end = text.find_first_of("diuxXsc%", i + 1);
        fields += text.substr(i, end - i + 1);
        if (end != std::string::npos && text[end] == '%') i = end;
    }
    return fields;
}

TEST(Texts, EveryTextHasItsEnglishWithTheSameFields) {
    for (int i = 0; i < static_cast<int>(TextId::Count); ++i) {
        const TextPair& pair = textPair(static_cast<TextId>(i));
        SCOPED_TRACE(pair.ja);
        ASSERT_NE(pair.en, nullptr);
        EXPECT_STRNE(pair.en, "");
        EXPECT_EQ(formatFields(pair.en), formatFields(pair.ja));
        // Same line count, so a message box keeps its shape.
        EXPECT_EQ(std::count(pair.en, pair.en + std::strlen(pair.en), '\n'),
                  std::count(pair.ja, pair.ja + std::strlen(pair.ja), '\n'));
    }
}

// Japanese stays exactly as it was; English only once chosen, for named texts and formatters.
TEST(Texts, ChosenLanguageForNamedTextsAndFormatters) {
    struct Case {
        Language language;
        std::string socketEmpty, notFactory, restore;
    };
    const Case cases[] = {
        {Language::Japanese, "デバイスが未実装です",
         "OSC校正値が工場出荷値ではありません (読出値 3FFF BG2)。\n記録にある最後の正常値: なし\n"
         "チップは消去していません。",
         "OSC校正値を書き戻せませんでした。\n校正値 3450 BG1 を書き込んでください。"},
        {Language::English, "No device in the socket",
         "The OSC calibration value is not a factory value (read 3FFF BG2).\n"
         "Last good value recorded: none\nThe chip was not erased.",
         "The OSC calibration value could not be written back.\n"
         "Write the calibration value 3450 BG1."},
        {Language::Japanese, "デバイスが未実装です", "", ""},   // and back
    };
    for (const Case& c : cases) {
        setLanguage(c.language);
        EXPECT_EQ(currentLanguage(), c.language);
        EXPECT_EQ(texts::socketEmpty, c.socketEmpty);
        EXPECT_EQ(text(TextId::SocketEmpty), c.socketEmpty);
        if (c.notFactory.empty()) continue;
        EXPECT_EQ(calibrationNotFactoryText(0x3FFF, 2, -1, 0), c.notFactory);
        EXPECT_EQ(calibrationRestoreText(0x3450, 1), c.restore);
        EXPECT_EQ(texts::verifyOk, std::string("Program Verify - OK"));
    }
    setLanguage(Language::Japanese);
}

}  // namespace
