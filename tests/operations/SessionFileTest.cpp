// SPDX-License-Identifier: MIT
#include "SessionFixture.h"

#include <filesystem>
#include <fstream>

namespace {

// Configuration word 1 from a file or the editor: AND the keep mask, then OR the protect-off
// bits when that option is set; in the image, the Programmer and the field alike.
TEST_F(SessionTest, TheConfigurationRuleOnOpenAndFromTheEditor) {
    struct Case {
        const char* device;
        bool editor;
        uint16_t word;
        int32_t protectOff;
        uint16_t stored;
    };
    // PIC16F628A: bits 12-9 unimplemented (keep mask 0xE1FF); PIC16F88: none. Both have CP
    // at bit 13 and CPD at bit 8.
    const Case cases[] = {
        {"PIC16F628A", false, 0x3FFF, 0, 0x21FF}, {"PIC16F628A", false, 0x1E00, 0, 0x0000},
        {"PIC16F628A", false, 0x1E7F, 1, 0x217F}, {"PIC16F628A", true, 0x3FFF, 0, 0x21FF},
        {"PIC16F88", true, 0x0000, 1, 0x2100},    {"PIC16F88", true, 0x1F00, 0, 0x1F00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + (c.editor ? " editor " : " file ") + wordText(c.word));
        ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
        if (c.editor) {
            session->applyConfigWords(c.word, 0x3FFC, c.protectOff);
            EXPECT_EQ(session->protectOff, c.protectOff);
            EXPECT_EQ(session->image.configWord2, 0x3FFC);
            EXPECT_EQ(session->programmer.configWord2, 0x3FFC);
        } else {
            session->protectOff = c.protectOff;
            ASSERT_NO_FATAL_FAILURE(openImage(patternImage(c.word)));
        }
        EXPECT_EQ(session->image.configWord, c.stored);
        EXPECT_EQ(session->programmer.configWord, c.stored);
        EXPECT_EQ(frontend.field(Field::ConfigWord), hex4(c.stored));
    }
}

TEST_F(SessionTest, FilesThatCannotBeOpenedOrSavedSaySoAndChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x21F8)));
    const MemoryImage image = session->image;
    const std::vector<uint16_t> programmerWords = session->programmer.programWords;
    const std::string folder = tempPath("folder");
    std::filesystem::create_directory(folder);

    // A missing file, an endless one and a save into a missing folder are pinned end to end
    // (tests/cli, file errors); a folder in the file's place is not.
    frontend.calls.clear();
    EXPECT_FALSE(session->openHexFile(folder));
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::fileOpenFailed});
    EXPECT_TRUE(frontend.with("programDump").empty());
    EXPECT_TRUE(frontend.with("field").empty());
    EXPECT_EQ(session->image.programWords, image.programWords);
    EXPECT_EQ(session->image.configWord, image.configWord);
    EXPECT_EQ(session->programmer.programWords, programmerWords);
    EXPECT_EQ(frontend.waitDepth, 0);
    frontend.calls.clear();
    EXPECT_FALSE(session->saveHexFile(folder));
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::fileSaveFailed});
    // A stream that fills up (the CLI's standard output on a full disk) is no saved file.
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    frontend.calls.clear();
    EXPECT_FALSE(session->writeHexStream(full));
    std::fclose(full);
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::fileSaveFailed});
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// A file that loads but is not what it seems is kept as loaded, with one warning naming what
// was found.
TEST_F(SessionTest, DubiousFilesAreLoadedWithAWarning) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    struct Case {
        const char* text;
        uint16_t word0;
        std::string warning;
    };
    const std::string head = "HEXファイルの内容に問題があります。\n";
    const Case cases[] = {
        {":020000000528D1\n:00000001FF\n", 0x2805, ""},
        {":020000000528D2\n:02100000AAAA\n:0200020011\n:00000001FF\n", 0x2805,
         head + "デバイス外のデータ: 2 バイト\nチェックサム エラー: 1 件\n途中で切れたレコード: 2 件"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = tempPath("dubious.hex");
        std::ofstream(path, std::ios::binary) << c.text;
        frontend.calls.clear();
        EXPECT_TRUE(session->openHexFile(path));
        EXPECT_EQ(frontend.messages(),
                  c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
        EXPECT_EQ(session->image.programWords[0], c.word0);
        EXPECT_EQ(session->programmer.programWords[0], c.word0);
        EXPECT_EQ(frontend.waitDepth, 0);
    }
}

// Read copies the chip into the image and the display; a Verify then passes. What a Save of it
// holds is pinned end to end (tests/cli, read then program).
TEST_F(SessionTest, ReadThenVerify) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    setChip([](SimChipState& s) {
        s.programWords[0] = 0x2805;
        s.programWords[2047] = 0x0123;
        s.eepromBytes[0] = 0x42;
        s.eepromBytes[127] = 0x5A;
        s.userIds[0] = 0x0001;
        s.userIds[1] = 0x0002;
    });
    press(&Session::onReadButton);
    const SimChipState state = chip();
    EXPECT_EQ(session->image.programWords[0], 0x2805);
    EXPECT_EQ(session->image.programWords[2047], 0x0123);
    EXPECT_EQ(session->image.eepromBytes[127], 0x5A);
    EXPECT_EQ(session->image.userId & 0x00FF, 0x0021);
    EXPECT_EQ(frontend.latest("programDump: ").substr(0, 17), "00000 : 2805 3FFF");
    EXPECT_EQ(frontend.field(Field::UserId), hex4(session->image.userId));
    EXPECT_EQ(frontend.field(Field::DeviceId), hex4(state.deviceIdWord));
    EXPECT_EQ(frontend.maxWaitDepth, 1);
    EXPECT_EQ(frontend.waitDepth, 0);
    // The bar ends where the worker ended.
    EXPECT_EQ(frontend.latest("progress: "), "100");
    EXPECT_EQ(session->programmer.progressPosition.load(), 2184u);

    frontend.calls.clear();
    press(&Session::onVerifyButton);
    EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kVerify, texts::verifyOk}));
}

}  // namespace
