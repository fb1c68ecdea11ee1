#include "SessionFixture.h"

#include "operations/Texts.h"

#include <thread>

namespace {

const std::string kWrite = "Program / EEPROM Write";
const std::string kRead = "Program / EEPROM Read";
const std::string kVerify = "Program / EEPROM Verify";
const std::string kErase = "Program / EEPROM Erase";
const std::string kCalRead = "OSC Calibration Data Read";
const std::string kCalWrite = "OSC Calibration Data Write";

const std::string kFirstStepOfProgram = "ok=0 program=Cancel/1 others=0";
const std::string kLaterStep = "ok=0 program=Program/0 others=0";
const std::string kAllEnabled = "ok=1 program=Program/1 others=1";

struct ChainCase {
    const char* name;
    const char* device;
    void (Session::*button)();
    std::vector<std::string> statuses;
    std::vector<std::string> controls;
};

class ChainTest : public SessionTest, public ::testing::WithParamInterface<ChainCase> {};

// Every chain of the table: its status texts in order and the Program button's label and
// state during each step; the chain ends with everything enabled and no dialog.
TEST_P(ChainTest, StatusTextsAndControlsOfEachStep) {
    const ChainCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
    press(c.button);

    EXPECT_EQ(frontend.statuses(), c.statuses);
    EXPECT_EQ(frontend.with("controls: "), c.controls);
    EXPECT_TRUE(frontend.messages().empty());
    EXPECT_TRUE(frontend.verifyErrors().empty());
    EXPECT_TRUE(session->lastChainOk);
    EXPECT_FALSE(session->chainRunning());
    EXPECT_EQ(frontend.waitDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, ChainTest,
    ::testing::Values(
        ChainCase{"ProgramWithoutCalibration", "PIC16F628A", &Session::onProgramButton,
                  {kWrite, kVerify, texts::verifyOk},
                  {kFirstStepOfProgram, kLaterStep, kAllEnabled}},
        ChainCase{"ProgramWithCalibration", "PIC12F675", &Session::onProgramButton,
                  {kCalRead, kWrite, kVerify, texts::verifyOk},
                  {kFirstStepOfProgram, kLaterStep, kLaterStep, kAllEnabled}},
        ChainCase{"EraseWithoutCalibration", "PIC16F628A", &Session::onEraseButton, {kErase},
                  {kLaterStep, kAllEnabled}},
        ChainCase{"EraseWithCalibration", "PIC12F675", &Session::onEraseButton,
                  {kCalRead, kErase, kCalWrite}, {kLaterStep, kLaterStep, kLaterStep, kAllEnabled}},
        ChainCase{"Read", "PIC16F628A", &Session::onReadButton, {kRead}, {kLaterStep, kAllEnabled}},
        ChainCase{"ReadWithCalibration", "PIC12F675", &Session::onReadButton, {kRead},
                  {kLaterStep, kAllEnabled}},
        ChainCase{"VerifyBlank", "PIC16F628A", &Session::onVerifyButton,
                  {kVerify, texts::verifyOk}, {kLaterStep, kAllEnabled}},
        ChainCase{"VerifyBlankWithCalibration", "PIC12F675", &Session::onVerifyButton,
                  {kVerify, texts::verifyOk}, {kLaterStep, kAllEnabled}},
        ChainCase{"ProgramFamily2", "PIC16F88", &Session::onProgramButton,
                  {kWrite, kVerify, texts::verifyOk},
                  {kFirstStepOfProgram, kLaterStep, kAllEnabled}}),
    [](const ::testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

TEST_F(SessionTest, VerifyAgainstADifferentChipOpensTheDialog) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    SimChipState state = chip();
    state.programWords[0] = 0x0000;
    ASSERT_TRUE(sim->setChipState(state));
    press(&Session::onVerifyButton);
    EXPECT_EQ(frontend.statuses().back(), texts::verifyNg);
    EXPECT_EQ(frontend.verifyErrors(), std::vector<std::string>{"NG OK OK"});
    EXPECT_FALSE(session->lastChainOk);
}

TEST_F(SessionTest, ProgramWritesTheOpenedFileAndVerifiesIt) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    const MemoryImage file = patternImage(0x21F8);
    ASSERT_NO_FATAL_FAILURE(openImage(file));
    frontend.clear();
    press(&Session::onProgramButton);

    EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
    const SimChipState state = chip();
    for (uint32_t i = 0; i < file.programWordCount; ++i)
        ASSERT_EQ(state.programWords[i], file.programWords[i]) << "word " << i;
    for (uint32_t i = 0; i < file.eepromByteCount; ++i)
        ASSERT_EQ(state.eepromBytes[i], file.eepromBytes[i]) << "byte " << i;
    EXPECT_EQ(state.configWord & 0x3FFF & session->configKeepMask, 0x21F8);
    // The device ID field shows the chip's ID after the write, and keeps it through the verify.
    EXPECT_EQ(frontend.field(Field::DeviceId), wordText(state.deviceIdWord));
    EXPECT_EQ(frontend.progress, 100);
}

TEST_F(SessionTest, ProgramOnACalibrationDeviceKeepsTheChipsCalibration) {
    ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
    const SimChipState before = chip();
    MemoryImage file = patternImage(0x31C4);
    file.programWords[0x3FF] = 0x3400;   // the file's own calibration word is never written
    ASSERT_NO_FATAL_FAILURE(openImage(file));
    press(&Session::onProgramButton);

    EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
    const SimChipState after = chip();
    EXPECT_EQ(after.programWords[0x3FF], before.programWords[0x3FF]);
    EXPECT_EQ(after.configWord & 0x3000, before.configWord & 0x3000);
    EXPECT_EQ(after.configWord & 0x01FF, 0x01C4);
    EXPECT_EQ(after.programWords[0x100], file.programWords[0x100]);
    // The image now carries the chip's calibration word and bits.
    EXPECT_EQ(session->image.programWords[0x3FF], before.programWords[0x3FF]);
    EXPECT_EQ(session->image.configWord & 0x3000, before.configWord & 0x3000);
}

TEST_F(SessionTest, EraseOnACalibrationDeviceKeepsTheChipsCalibration) {
    ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
    SimChipState state = chip();
    const uint16_t calibrationWord = state.programWords[0x3FF];
    const uint16_t calibrationBits = state.configWord & 0x3000;
    state.programWords[5] = 0x2805;
    state.eepromBytes[3] = 0x12;
    ASSERT_TRUE(sim->setChipState(state));
    press(&Session::onEraseButton);

    const SimChipState after = chip();
    EXPECT_EQ(after.programWords[0x3FF], calibrationWord);
    EXPECT_EQ(after.configWord & 0x3000, calibrationBits);
    EXPECT_EQ(after.programWords[5], 0x3FFF);
    EXPECT_EQ(after.eepromBytes[3], 0xFF);
    EXPECT_EQ(session->image.programWords[0x3FF], calibrationWord);
}

TEST_F(SessionTest, ReadCopiesTheChipIntoTheImageAndAVerifyThenPasses) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    SimChipState state = chip();
    for (std::size_t i = 0; i < state.programWords.size(); ++i)
        state.programWords[i] = static_cast<uint16_t>((i * 31 + 7) & 0x3FFF);
    for (std::size_t i = 0; i < state.eepromBytes.size(); ++i)
        state.eepromBytes[i] = static_cast<uint8_t>(i ^ 0x5A);
    state.userIds[0] = 0x0001;
    state.userIds[1] = 0x0002;
    ASSERT_TRUE(sim->setChipState(state));
    press(&Session::onReadButton);

    EXPECT_EQ(session->image.programWords[1], (31 + 7) & 0x3FFF);
    EXPECT_EQ(session->image.eepromBytes[1], 1 ^ 0x5A);
    EXPECT_EQ(session->image.userId & 0x00FF, 0x0021);
    EXPECT_EQ(frontend.programDump.substr(0, 17), "00000 : " + wordText(state.programWords[0]) +
                                                      " " + wordText(state.programWords[1]));
    EXPECT_EQ(frontend.field(Field::UserId), wordText(session->image.userId));
    EXPECT_EQ(frontend.field(Field::DeviceId), wordText(state.deviceIdWord));
    EXPECT_EQ(frontend.maxWaitDepth, 1);
    EXPECT_EQ(frontend.waitDepth, 0);

    frontend.clear();
    press(&Session::onVerifyButton);
    EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kVerify, texts::verifyOk}));
}

TEST_F(SessionTest, ProgressFollowsTheWorkerToTheEnd) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    press(&Session::onReadButton);
    const std::vector<std::string> progress = frontend.with("progress: ");
    ASSERT_FALSE(progress.empty());
    int last = -1;
    for (const std::string& p : progress) {
        const int value = std::stoi(p);
        EXPECT_GE(value, last);
        last = value;
    }
    EXPECT_EQ(last, 100);   // 2184 of 2184
}

// ---- cancel ------------------------------------------------------------------------------

TEST_F(SessionTest, CancelDuringTheWriteEndsTheChainWithoutVerify) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x21F8)));
    frontend.onStatus = [this](const std::string& s) {
        if (s == kWrite) recorder->holdAt(20);
    };
    session->onProgramButton();
    ASSERT_TRUE(recorder->waitUntilHeld());
    EXPECT_TRUE(frontend.controls.programIsCancel);
    session->onProgramButton();   // reads "Cancel"
    recorder->release();
    ASSERT_TRUE(runChain());

    EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kWrite});
    EXPECT_EQ(frontend.with("controls: ").back(), kAllEnabled);
    EXPECT_TRUE(frontend.messages().empty());
    EXPECT_TRUE(frontend.verifyErrors().empty());
    EXPECT_TRUE(session->lastChainCancelled);
    EXPECT_FALSE(session->lastChainOk);

    // The request does not carry over: the next Program runs to its verify.
    frontend.clear();
    frontend.onStatus = nullptr;
    press(&Session::onProgramButton);
    EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kWrite, kVerify, texts::verifyOk}));
    EXPECT_FALSE(session->lastChainCancelled);
}

TEST_F(SessionTest, CancelDuringTheCalibrationReadWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x31C4)));
    const SimChipState before = chip();
    frontend.onStatus = [this](const std::string& s) {
        if (s == kCalRead) recorder->holdAt(20);
    };
    session->onProgramButton();
    ASSERT_TRUE(recorder->waitUntilHeld());
    session->onProgramButton();
    recorder->release();
    ASSERT_TRUE(runChain());

    EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kCalRead});
    EXPECT_EQ(frontend.with("controls: ").back(), kAllEnabled);
    EXPECT_TRUE(frontend.messages().empty());
    // The calibration read did not look at the request: it walked to the word and read it.
    EXPECT_EQ(session->programmer.calibrationValue, before.programWords[0x3FF]);
    EXPECT_EQ(session->programmer.savedCalibrationBits, before.configWord & 0x3000);
    const SimChipState after = chip();
    EXPECT_EQ(after.programWords, before.programWords);
    EXPECT_EQ(after.eepromBytes, before.eepromBytes);
    EXPECT_EQ(after.configWord, before.configWord);
}

TEST_F(SessionTest, TheProgramButtonDoesNotCancelALaterStep) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    frontend.onStatus = [this](const std::string& s) {
        if (s == kVerify) recorder->holdAt(5);
    };
    session->onProgramButton();
    ASSERT_TRUE(runChain([this] {
        if (recorder->isHeld()) {
            EXPECT_FALSE(frontend.controls.programIsCancel);
            session->onProgramButton();   // reads "Program" and is disabled: no effect
            session->onReadButton();      // disabled too
            recorder->release();
        }
    }));
    EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kWrite, kVerify, texts::verifyOk}));
}

TEST_F(SessionTest, DestroyingTheSessionMidChainCancelsAndJoins) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x21F8)));
    frontend.onStatus = [this](const std::string& s) {
        if (s == kWrite) recorder->holdAt(20);
    };
    session->onProgramButton();
    ASSERT_TRUE(recorder->waitUntilHeld());
    EXPECT_TRUE(session->chainRunning());
    const std::size_t writesBefore = recorder->writes();
    std::thread releaser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        recorder->release();
    });
    session.reset();
    releaser.join();
    // The write stopped at the cancel: far fewer exchanges than the 4000-odd of the whole write.
    EXPECT_LT(recorder->writes() - writesBefore, 50u);
}

}  // namespace
