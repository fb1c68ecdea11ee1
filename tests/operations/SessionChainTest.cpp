// SPDX-License-Identifier: MIT
#include "SessionFixture.h"

#include "operations/CalibrationJournal.h"

#include <filesystem>
#include <fstream>

namespace {

const std::string kFirstStepOfProgram = "ok=0 program=Cancel/1 others=0";
const std::string kLaterStep = "ok=0 program=Program/0 others=0";

// Every chain: its status texts in order and the Program button's label and state during each
// step; the chain ends with everything enabled and no dialog. In every step after the first of
// Program, the Program and Read buttons do nothing.
TEST_F(SessionTest, StatusTextsAndControlsOfEachChain) {
    struct Case {
        const char* device;
        void (Session::*button)();
        std::vector<std::string> statuses;
        std::vector<std::string> controls;
    };
    const Case cases[] = {
        {"PIC16F628A", &Session::onProgramButton, {kWrite, kVerify, texts::verifyOk},
         {kFirstStepOfProgram, kLaterStep, kAllEnabled}},
        {"PIC12F675", &Session::onProgramButton, {kCalRead, kWrite, kVerify, texts::verifyOk},
         {kFirstStepOfProgram, kLaterStep, kLaterStep, kAllEnabled}},
        {"PIC16F628A", &Session::onEraseButton, {kErase}, {kLaterStep, kAllEnabled}},
        {"PIC12F675", &Session::onEraseButton, {kCalRead, kErase, kCalWrite},
         {kLaterStep, kLaterStep, kLaterStep, kAllEnabled}},
        {"PIC16F628A", &Session::onReadButton, {kRead}, {kLaterStep, kAllEnabled}},
        {"PIC16F628A", &Session::onVerifyButton, {kVerify, texts::verifyOk},
         {kLaterStep, kAllEnabled}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + ", from " + c.statuses.front());
        ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
        (session.get()->*c.button)();
        ASSERT_TRUE(runChain([this] {
            if (frontend.controls.programIsCancel) return;
            session->onProgramButton();
            session->onReadButton();
        }));
        EXPECT_EQ(frontend.statuses(), c.statuses);
        EXPECT_EQ(frontend.with("controls: "), c.controls);
        EXPECT_TRUE(frontend.messages().empty());
        EXPECT_TRUE(frontend.verifyErrors().empty());
        EXPECT_TRUE(session->lastChainOk);
        EXPECT_EQ(frontend.waitDepth, 0);
    }
}

// File Open shows the file and hands it on; Program writes it. A calibration device keeps its
// own calibration word and bits, which the image then takes on, whatever the file held there.
// A file with code protection is written and verified unprotected and protected last; a plain
// Verify of the protected chip then reports what it reads.
TEST_F(SessionTest, OpenThenProgramWritesTheFileAndKeepsTheChipsCalibration) {
    const std::pair<const char*, uint16_t> cases[] = {
        {"PIC16F628A", 0x31C4}, {"PIC12F675", 0x31C4},
        {"PIC16F628A", 0x10C4},   // CP and CPD
        {"PIC12F675", 0x3044},    // CP and CPD
        {"PIC16F877A", 0x11C4},   // CP only
        {"PIC16F88", 0x3EC4},     // CPD only
        {"PIC16F84A", 0x000B},    // every CP copy
    };
    for (const auto& [device, configWord] : cases) {
        SCOPED_TRACE(std::string(device) + " " + wordText(configWord));
        ASSERT_NO_FATAL_FAILURE(open(device, device));
        press(&Session::onReadButton);   // the device ID field shows the chip's ID now
        const uint16_t calBits = session->hasCalibrationWord ? 0x3000 : 0;
        const SimChipState before = chip();
        MemoryImage file = patternImage(configWord, 0x4321);
        file.programWords[0x3FF] = 0x3400;
        frontend.calls.clear();
        ASSERT_NO_FATAL_FAILURE(openImage(file));
        EXPECT_EQ(frontend.calls.front(), "progress: 0");
        EXPECT_EQ(frontend.field(Field::DeviceId), "----");
        EXPECT_EQ(frontend.field(Field::UserId), "4321");
        EXPECT_EQ(frontend.latest("programDump: ").substr(0, 48),
                  "00000 : 0123 022A 0331 0438 053F 0646 074D 0854 ");
        EXPECT_EQ(frontend.latest("eepromDump: ").substr(0, 32), "00000 : 05 12 1F 2C 39 46 53 60 ");
        EXPECT_EQ(frontend.waitDepth, 0);
        press(&Session::onProgramButton);

        const bool protectedFile = (configWord & session->protectOffBits) != session->protectOffBits;
        std::vector<std::string> tail{kWrite, kVerify, texts::verifyOk};
        if (protectedFile) tail.insert(tail.end(), {kProtect, texts::verifyOk});
        const std::vector<std::string> statuses = frontend.statuses();
        ASSERT_GE(statuses.size(), tail.size());
        EXPECT_EQ(std::vector<std::string>(statuses.end() - static_cast<long>(tail.size()), statuses.end()), tail);
        EXPECT_TRUE(frontend.verifyErrors().empty());
        EXPECT_TRUE(session->lastChainOk);
        const SimChipState after = chip();
        for (uint32_t i = 0; i < file.programWordCount; ++i) {
            const uint16_t expected =
                calBits && i == 0x3FF ? before.programWords[i] : file.programWords[i];
            ASSERT_EQ(after.programWords[i], expected) << "word " << i;
            ASSERT_EQ(session->image.programWords[i], expected) << "word " << i;
        }
        for (uint32_t i = 0; i < file.eepromByteCount; ++i)
            ASSERT_EQ(after.eepromBytes[i], file.eepromBytes[i]) << "byte " << i;
        const uint16_t fileBits = configWord & session->configKeepMask & ~calBits;
        EXPECT_EQ(after.configWord & 0x3FFF & session->configKeepMask & ~calBits, fileBits);
        EXPECT_EQ(after.configWord & calBits, before.configWord & calBits);
        EXPECT_EQ(session->image.configWord & calBits, before.configWord & calBits);
        // The device ID field shows the chip's ID after the write, and keeps it through the verify.
        EXPECT_EQ(frontend.field(Field::DeviceId), hex4(after.deviceIdWord));
        if (protectedFile) {
            press(&Session::onVerifyButton);
            EXPECT_EQ(frontend.statuses().back(), texts::verifyNg);
            EXPECT_FALSE(session->lastChainOk);
            // Program again writes the file, not the zeros that verify read. Only where the
            // write begins with an erase: a PIC16F84A keeps its protection until Erase.
            if (session->hasCalibrationWord || session->programmer.programMethod == 0) continue;
            press(&Session::onProgramButton);
            EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
            EXPECT_EQ(chip().programWords, after.programWords);
        }
    }
}

// Only a factory word (RETLW, 34xx) read from the chip goes on to the erase; anything else stops
// the Program and Erase chains after the read, with nothing erased, unless the user gives a
// factory word instead (the CLI beforehand, the window when asked). Every read is in the journal
// before the next step starts, and the message names the journal's last good word.
TEST_F(SessionTest, ACalibrationThatIsNoFactoryWordStopsBeforeTheErase) {
    struct Case {
        const char* name;
        void (Session::*button)();
        std::function<void(SimChipState&)> change;
        uint16_t read;                            // the word the chip gives
        std::optional<CalibrationChoice> given;   // beforehand
        std::optional<CalibrationChoice> answer;  // when asked
        uint16_t written;                         // 0: the chain stops, nothing is written
        uint16_t writtenBits;
        bool journalBlocked = false;              // the journal's folder is a file
    };
    const auto erased = [](SimChipState& s) { s.programWords[0x3FF] = 0x3FFF; };
    const auto protectedChip = [](SimChipState& s) { s.configWord &= ~0x0080; };
    const Case cases[] = {
        {"erased, Program", &Session::onProgramButton, erased, 0x3FFF, {}, {}, 0, 0},
        {"erased, Erase", &Session::onEraseButton, erased, 0x3FFF, {}, {}, 0, 0},
        {"code-protected", &Session::onProgramButton, protectedChip, 0x0000, {}, {}, 0, 0},
        {"answered with no factory word", &Session::onEraseButton, erased, 0x3FFF, {},
         CalibrationChoice{0x3FFF, 1}, 0, 0},
        {"answered", &Session::onProgramButton, erased, 0x3FFF, {}, CalibrationChoice{0x3456, 1},
         0x3456, 0x1000},
        {"given", &Session::onEraseButton, erased, 0x3FFF, CalibrationChoice{0x3456, 2}, {},
         0x3456, 0x2000},
        {"given without bits, good chip", &Session::onProgramButton, nullptr, 0,
         CalibrationChoice{0x3456, -1}, {}, 0x3456, 0xFFFF},
        {"journal cannot be written", &Session::onEraseButton, nullptr, 0, {}, {}, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
        std::filesystem::remove(session->calibrationJournal);
        CalibrationRecord good{"2026-01-02T03:04:05Z", "PIC12F675", "0FC3", 0x3478, 1};
        ASSERT_TRUE(appendToJournal(session->calibrationJournal, good));
        ASSERT_TRUE(appendToJournal(session->calibrationJournal,
                                    {"2026-01-02T03:04:06Z", "PIC12F629", "0F83", 0x3490, 2}));
        ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x31C4)));
        if (c.change) setChip(c.change);
        const SimChipState before = chip();
        const uint16_t read = c.change ? c.read : before.programWords[0x3FF];
        session->calibrationOverride = c.given;
        frontend.calibrationAnswer = c.answer;
        std::size_t journalAtNextStep = 0;
        frontend.onStatus = [&](const std::string& status) {
            if (status == kWrite || status == kErase)
                journalAtNextStep = readJournal(session->calibrationJournal).lines.size();
        };
        frontend.calls.clear();
        if (c.journalBlocked) {
            std::ofstream(tempPath("blocker")) << "a file, not a folder\n";
            session->calibrationJournal = tempPath("blocker/calibration.log");
        }
        press(c.button);

        if (c.journalBlocked) {
            EXPECT_EQ(frontend.messages(),
                      std::vector<std::string>{texts::calibrationJournalFailed});
            EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kCalRead});
            EXPECT_TRUE(session->lastChainCalibrationRefused);
            EXPECT_EQ(chip().programWords, before.programWords);
            continue;
        }
        const std::vector<std::string> journal = readJournal(session->calibrationJournal).lines;
        ASSERT_EQ(journal.size(), 3u);
        const std::optional<CalibrationRecord> record = parseJournalLine(journal.back());
        ASSERT_TRUE(record);
        EXPECT_EQ(record->device, "PIC12F675");
        EXPECT_EQ(record->deviceId, hex4(before.deviceIdWord));
        EXPECT_EQ(record->word, read);
        EXPECT_EQ(record->bits, (before.configWord & 0x3000) >> 12);
        const bool asked = !c.given && !isFactoryCalibration(read);
        if (asked) {
            EXPECT_EQ(frontend.messages(), std::vector<std::string>{notFactoryMessage(read, record->bits, "3478 BG1")});
            EXPECT_EQ(frontend.latest("suggested: "), "3478 1");
        } else {
            EXPECT_TRUE(frontend.messages().empty());
        }
        EXPECT_EQ(frontend.latest("controls: "), kAllEnabled);
        const SimChipState after = chip();
        if (c.written == 0) {
            EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kCalRead});
            EXPECT_TRUE(session->lastChainCalibrationRefused);
            EXPECT_FALSE(session->lastChainOk);
            EXPECT_EQ(after.programWords, before.programWords);
            EXPECT_EQ(after.configWord, before.configWord);
        } else {
            EXPECT_EQ(journalAtNextStep, 3u);
            EXPECT_FALSE(session->lastChainCalibrationRefused);
            EXPECT_TRUE(session->lastChainOk);
            EXPECT_EQ(after.programWords[0x3FF], c.written);
            const uint16_t bits = c.writtenBits == 0xFFFF ? before.configWord & 0x3000 : c.writtenBits;
            EXPECT_EQ(after.configWord & 0x3000, bits);
        }
    }
}

// A cancel in the first step of Program ends the chain there. A calibration read does not look
// at the request: it still reads the word and bits, and nothing is written. A cancel while the
// step's start checks run (the CLI's interrupt) gives the step up before it starts. The request
// does not carry over: the next Program runs to its verify.
// A cancel that reaches the write or the erase of a chip with a calibration word (nothing in
// the front ends sends one there, but the session takes it) used to end the chain with the
// calibration word erased and nothing said.
TEST_F(SessionTest, ACancelAfterTheEraseStillPutsTheCalibrationBack) {
    for (auto [button, step] : {std::pair{&Session::onProgramButton, kWrite},
                                std::pair{&Session::onEraseButton, kErase}}) {
        SCOPED_TRACE(step);
        ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
        ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x31C4)));
        const SimChipState before = chip();
        holdInStep(step, 3);
        (session.get()->*button)();
        ASSERT_TRUE(tickUntilHeld());
        session->cancelChain();
        recorder->release();
        ASSERT_TRUE(runChain());
        EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kCalRead, step, kCalWrite}));
        EXPECT_TRUE(frontend.messages().empty());
        EXPECT_TRUE(session->lastChainCancelled);
        EXPECT_FALSE(session->lastChainOk);
        EXPECT_FALSE(session->lastChainCalibrationLost);
        EXPECT_EQ(chip().programWords[0x3FF], before.programWords[0x3FF]);
        EXPECT_EQ(chip().configWord & 0x3000, before.configWord & 0x3000);
    }
}

TEST_F(SessionTest, CancelDuringTheFirstStepOfProgram) {
    struct Case {
        const char* device;
        std::string step;
        bool inStartChecks;
    };
    const Case cases[] = {{"PIC16F628A", kWrite, false},
                          {"PIC12F675", kCalRead, false},
                          {"PIC16F628A", kWrite, true},
                          {"PIC12F675", kCalRead, true}};
    for (const auto& [device, step, inStartChecks] : cases) {
        SCOPED_TRACE(std::string(device) + (inStartChecks ? ", in the start checks" : ""));
        ASSERT_NO_FATAL_FAILURE(open(device, device));
        ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x31C4)));
        const SimChipState before = chip();
        if (inStartChecks)
            recorder->holdAt(1);   // the device ID read
        else
            holdInStep(step, 20);
        session->onProgramButton();
        ASSERT_TRUE(tickUntilHeld());
        // The start checks show the wait cursor and nothing of the step yet.
        EXPECT_EQ(frontend.waitDepth, inStartChecks ? 1 : 0);
        EXPECT_EQ(frontend.statuses().empty(), inStartChecks);
        EXPECT_EQ(frontend.controls.programIsCancel, !inStartChecks);
        if (inStartChecks)
            session->cancelChain();
        else
            session->onProgramButton();   // reads "Cancel"
        recorder->release();
        ASSERT_TRUE(runChain());

        EXPECT_EQ(frontend.statuses(),
                  inStartChecks ? std::vector<std::string>{} : std::vector<std::string>{step});
        EXPECT_EQ(frontend.latest("controls: "), inStartChecks ? "" : kAllEnabled);
        EXPECT_TRUE(frontend.messages().empty());
        EXPECT_TRUE(frontend.verifyErrors().empty());
        EXPECT_TRUE(session->lastChainCancelled);
        EXPECT_FALSE(session->lastChainOk);
        EXPECT_FALSE(session->programButtonIsCancel);
        EXPECT_EQ(frontend.waitDepth, 0);
        if (step == kCalRead && !inStartChecks) {
            EXPECT_EQ(session->programmer.calibrationValue, before.programWords[0x3FF]);
            EXPECT_EQ(session->programmer.savedCalibrationBits, before.configWord & 0x3000);
        }
        if (step == kCalRead || inStartChecks) {
            const SimChipState after = chip();
            EXPECT_EQ(after.programWords, before.programWords);
            EXPECT_EQ(after.eepromBytes, before.eepromBytes);
            EXPECT_EQ(after.configWord, before.configWord);
        }

        frontend.calls.clear();
        frontend.onStatus = nullptr;
        press(&Session::onProgramButton);
        EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
        EXPECT_FALSE(session->lastChainCancelled);
    }
}

TEST_F(SessionTest, DestroyingTheSessionMidChainCancelsAndJoins) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    holdInStep(kWrite, 20);
    session->onProgramButton();
    ASSERT_TRUE(tickUntilHeld());
    const std::size_t writesBefore = recorder->scripts().size();
    // The gate opens only once the destructor has asked for the cancel; the destructor runs
    // until the worker is joined, so the programmer is still there to be asked.
    std::thread releaser([this, &cancel = session->programmer.cancelRequested] {
        while (cancel.load() == 0) std::this_thread::yield();
        recorder->release();
    });
    session.reset();
    releaser.join();
    // The write stopped at the cancel: far fewer exchanges than the 4000-odd of the whole write.
    EXPECT_LT(recorder->scripts().size() - writesBefore, 50u);
}

}  // namespace
