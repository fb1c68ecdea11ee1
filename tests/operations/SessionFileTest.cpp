#include "SessionFixture.h"

#include "operations/Texts.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Configuration word 1 of an opened file: AND the keep mask, then OR the protect-off bits when
// that option is set; in the image, the Programmer and the field alike.
struct OpenConfigCase {
    uint16_t fileWord;
    int32_t protectOff;
    uint16_t loaded;
};

class OpenConfigTest : public SessionTest, public ::testing::WithParamInterface<OpenConfigCase> {};

TEST_P(OpenConfigTest, KeepMaskAndProtectOff) {
    const OpenConfigCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    session->protectOff = c.protectOff;
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(c.fileWord)));
    EXPECT_EQ(session->image.configWord, c.loaded);
    EXPECT_EQ(session->programmer.configWord, c.loaded);
    EXPECT_EQ(frontend.field(Field::ConfigWord), wordText(c.loaded));
}

// PIC16F628A: bits 12-9 unimplemented (keep mask 0xE1FF), CP bit 13 and CPD bit 8.
INSTANTIATE_TEST_SUITE_P(Rules, OpenConfigTest,
                         ::testing::Values(OpenConfigCase{0x3FFF, 0, 0x21FF},
                                           OpenConfigCase{0x1E00, 0, 0x0000},
                                           OpenConfigCase{0x0000, 0, 0x0000},
                                           OpenConfigCase{0x0000, 1, 0x2100},
                                           OpenConfigCase{0x1E7F, 1, 0x217F},
                                           OpenConfigCase{0x0050, 3, 0x2150}));

TEST_F(SessionTest, OpenShowsTheFileAndHandsItToTheProgrammer) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    press(&Session::onReadButton);   // the device ID field shows the chip's ID now
    frontend.clear();
    const MemoryImage file = patternImage(0x21F8, 0x4321);
    ASSERT_NO_FATAL_FAILURE(openImage(file));

    EXPECT_EQ(frontend.calls.front(), "progress: 0");
    EXPECT_EQ(frontend.field(Field::DeviceId), "----");
    EXPECT_EQ(frontend.field(Field::UserId), "4321");
    EXPECT_EQ(frontend.programDump, programDumpText(file.programWords, 2048));
    EXPECT_EQ(frontend.eepromDump, eepromDumpText(file.eepromBytes, 128));
    for (uint32_t i = 0; i < 2048; ++i)
        ASSERT_EQ(session->programmer.programWords[i], file.programWords[i]) << i;
    for (uint32_t i = 0; i < 128; ++i)
        ASSERT_EQ(session->programmer.eepromBytes[i], file.eepromBytes[i]) << i;
    EXPECT_EQ(session->programmer.userId, 0x4321);
    EXPECT_EQ(frontend.waitDepth, 0);
    EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(SessionTest, AFileThatCannotBeOpenedChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x21F8)));
    const MemoryImage image = session->image;
    const std::vector<uint16_t> programmerWords = session->programmer.programWords;
    const std::string folder = tempPath("folder");
    std::filesystem::create_directory(folder);

    for (const std::string& path : {tempPath("missing.hex"), folder}) {
        frontend.clear();
        EXPECT_FALSE(session->openHexFile(path));
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::fileOpenFailed}) << path;
        EXPECT_TRUE(frontend.with("programDump").empty());
        EXPECT_TRUE(frontend.with("field ").empty());
        EXPECT_EQ(session->image.programWords, image.programWords);
        EXPECT_EQ(session->image.configWord, image.configWord);
        EXPECT_EQ(session->programmer.programWords, programmerWords);
        EXPECT_EQ(frontend.waitDepth, 0);
    }
}

TEST_F(SessionTest, ReadThenSaveWritesTheChipWithoutBlankLines) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    SimChipState state = chip();
    state.programWords[0] = 0x2805;
    state.eepromBytes[0] = 0x42;
    ASSERT_TRUE(sim->setChipState(state));
    press(&Session::onReadButton);
    const std::string path = tempPath("ReadData.hex");
    ASSERT_TRUE(session->saveHexFile(path));

    const std::string text = readFile(path);
    EXPECT_NE(text.find(":100000000528FF3F"), std::string::npos); // word 0, low byte first
    EXPECT_EQ(text.find(":10001000"), std::string::npos);         // all-blank lines left out
    EXPECT_NE(text.find(":10420000420"), std::string::npos);      // EEPROM at 0x2100 * 2
    MemoryImage back;
    back.resize(2048, 0x3FFF, 128);
    ASSERT_TRUE(back.loadHex(path));
    EXPECT_EQ(back.programWords, session->image.programWords);
    EXPECT_EQ(back.eepromBytes, session->image.eepromBytes);
    EXPECT_EQ(back.configWord, session->image.configWord);
}

TEST_F(SessionTest, ASaveThatFailsSaysSoAndKeepsTheOldFile) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    const std::string folder = tempPath("folder");
    std::filesystem::create_directory(folder);
    for (const std::string& path : {folder, tempPath("no-such-folder") + "/ReadData.hex"}) {
        frontend.clear();
        EXPECT_FALSE(session->saveHexFile(path));
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::fileSaveFailed}) << path;
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// ---- the editors' results -------------------------------------------------------------------

TEST_F(SessionTest, ConfigEditorResultFollowsTheConfigurationRule) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F88", "PIC16F88"));
    struct Case {
        uint16_t word, word2;
        int32_t protectOff;
        uint16_t stored;
    };
    // PIC16F88: keep mask 0xFFFF (no unimplemented bits in word 1), CP bit 13, CPD bit 8.
    const Case cases[] = {{0x0000, 0x3FFC, 1, 0x2100}, {0x1F00, 0x0003, 0, 0x1F00},
                          {0x3FFF, 0x3FFF, 0, 0x3FFF}};
    for (const Case& c : cases) {
        session->applyConfigWords(c.word, c.word2, c.protectOff);
        EXPECT_EQ(session->protectOff, c.protectOff);
        EXPECT_EQ(session->image.configWord, c.stored);
        EXPECT_EQ(session->programmer.configWord, c.stored);
        EXPECT_EQ(session->image.configWord2, c.word2);
        EXPECT_EQ(session->programmer.configWord2, c.word2);
        EXPECT_EQ(frontend.field(Field::ConfigWord), wordText(c.stored));
    }
}

TEST_F(SessionTest, UserIdEditorResultReachesBothCopiesAndTheWriteFlag) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    session->applyUserId(0x0012, 1);
    EXPECT_EQ(session->image.userId, 0x0012);
    EXPECT_EQ(session->programmer.userId, 0x0012);
    EXPECT_EQ(session->programmer.writeUserId, 0);
    EXPECT_EQ(frontend.field(Field::UserId), "0012");
    session->applyUserId(0xABCD, 0);
    EXPECT_EQ(session->programmer.writeUserId, 1);
    EXPECT_EQ(session->userIdOff, 0);

    // Programmed and verified with the edited ID.
    press(&Session::onProgramButton);
    EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
    press(&Session::onReadButton);
    EXPECT_EQ(session->image.userId, 0xABCD);
}

}  // namespace
