#include "SessionFixture.h"

#include "operations/RepeatRun.h"

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
        {"PIC16F88", &Session::onProgramButton, {kWrite, kVerify, texts::verifyOk},
         {kFirstStepOfProgram, kLaterStep, kAllEnabled}},
        {"PIC16F628A", &Session::onEraseButton, {kErase}, {kLaterStep, kAllEnabled}},
        {"PIC12F675", &Session::onEraseButton, {kCalRead, kErase, kCalWrite},
         {kLaterStep, kLaterStep, kLaterStep, kAllEnabled}},
        {"PIC16F628A", &Session::onReadButton, {kRead}, {kLaterStep, kAllEnabled}},
        {"PIC12F675", &Session::onReadButton, {kRead}, {kLaterStep, kAllEnabled}},
        {"PIC16F628A", &Session::onVerifyButton, {kVerify, texts::verifyOk},
         {kLaterStep, kAllEnabled}},
        {"PIC12F675", &Session::onVerifyButton, {kVerify, texts::verifyOk},
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
TEST_F(SessionTest, OpenThenProgramWritesTheFileAndKeepsTheChipsCalibration) {
    for (const char* device : {"PIC16F628A", "PIC12F675"}) {
        SCOPED_TRACE(device);
        ASSERT_NO_FATAL_FAILURE(open(device, device));
        press(&Session::onReadButton);   // the device ID field shows the chip's ID now
        const uint16_t calBits = session->hasCalibrationWord ? 0x3000 : 0;
        const SimChipState before = chip();
        MemoryImage file = patternImage(0x31C4, 0x4321);
        file.programWords[0x3FF] = 0x3400;
        frontend.calls.clear();
        ASSERT_NO_FATAL_FAILURE(openImage(file));
        EXPECT_EQ(frontend.calls.front(), "progress: 0");
        EXPECT_EQ(frontend.field(Field::DeviceId), "----");
        EXPECT_EQ(frontend.field(Field::UserId), "4321");
        EXPECT_EQ(frontend.latest("programDump: "),
                  programDumpText(file.programWords, file.programWordCount));
        EXPECT_EQ(frontend.latest("eepromDump: "),
                  eepromDumpText(file.eepromBytes, file.eepromByteCount));
        EXPECT_EQ(frontend.waitDepth, 0);
        press(&Session::onProgramButton);

        EXPECT_EQ(frontend.statuses().back(), texts::verifyOk);
        const SimChipState after = chip();
        for (uint32_t i = 0; i < file.programWordCount; ++i) {
            const uint16_t expected =
                calBits && i == 0x3FF ? before.programWords[i] : file.programWords[i];
            ASSERT_EQ(after.programWords[i], expected) << "word " << i;
            ASSERT_EQ(session->image.programWords[i], expected) << "word " << i;
        }
        for (uint32_t i = 0; i < file.eepromByteCount; ++i)
            ASSERT_EQ(after.eepromBytes[i], file.eepromBytes[i]) << "byte " << i;
        const uint16_t fileBits = 0x31C4 & session->configKeepMask & ~calBits;
        EXPECT_EQ(after.configWord & 0x3FFF & session->configKeepMask & ~calBits, fileBits);
        EXPECT_EQ(after.configWord & calBits, before.configWord & calBits);
        EXPECT_EQ(session->image.configWord & calBits, before.configWord & calBits);
        // The device ID field shows the chip's ID after the write, and keeps it through the verify.
        EXPECT_EQ(frontend.field(Field::DeviceId), wordText(after.deviceIdWord));
    }
}

TEST_F(SessionTest, EraseOnACalibrationDeviceKeepsTheChipsCalibration) {
    ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
    const SimChipState before = chip();
    setChip([](SimChipState& s) {
        s.programWords[5] = 0x2805;
        s.eepromBytes[3] = 0x12;
    });
    press(&Session::onEraseButton);

    const SimChipState after = chip();
    EXPECT_EQ(after.programWords[0x3FF], before.programWords[0x3FF]);
    EXPECT_EQ(after.configWord & 0x3000, before.configWord & 0x3000);
    EXPECT_EQ(after.programWords[5], 0x3FFF);
    EXPECT_EQ(after.eepromBytes[3], 0xFF);
    EXPECT_EQ(session->image.programWords[0x3FF], before.programWords[0x3FF]);
}

// A cancel in the first step of Program ends the chain there. A calibration read does not look
// at the request: it still reads the word and bits, and nothing is written. The request does not
// carry over: the next Program runs to its verify.
TEST_F(SessionTest, CancelDuringTheFirstStepOfProgram) {
    const std::pair<const char*, std::string> cases[] = {{"PIC16F628A", kWrite},
                                                         {"PIC12F675", kCalRead}};
    for (const auto& [device, step] : cases) {
        SCOPED_TRACE(device);
        ASSERT_NO_FATAL_FAILURE(open(device, device));
        ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x31C4)));
        const SimChipState before = chip();
        holdInStep(step, 20);
        session->onProgramButton();
        ASSERT_TRUE(recorder->waitUntilHeld());
        EXPECT_TRUE(frontend.controls.programIsCancel);
        session->onProgramButton();   // reads "Cancel"
        recorder->release();
        ASSERT_TRUE(runChain());

        EXPECT_EQ(frontend.statuses(), std::vector<std::string>{step});
        EXPECT_EQ(frontend.latest("controls: "), kAllEnabled);
        EXPECT_TRUE(frontend.messages().empty());
        EXPECT_TRUE(frontend.verifyErrors().empty());
        EXPECT_TRUE(session->lastChainCancelled);
        EXPECT_FALSE(session->lastChainOk);
        if (step == kCalRead) {
            EXPECT_EQ(session->programmer.calibrationValue, before.programWords[0x3FF]);
            EXPECT_EQ(session->programmer.savedCalibrationBits, before.configWord & 0x3000);
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
    ASSERT_TRUE(recorder->waitUntilHeld());
    const std::size_t writesBefore = recorder->scripts().size();
    std::thread releaser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        recorder->release();
    });
    session.reset();
    releaser.join();
    // The write stopped at the cancel: far fewer exchanges than the 4000-odd of the whole write.
    EXPECT_LT(recorder->scripts().size() - writesBefore, 50u);
}

// A tray run on the session and the simulated tray: the chip that refuses to program is counted
// and the run goes on; the serials go in order to the chips that verified, and only to them.
TEST_F(SessionTest, ATrayOfTenChipsWithOneBadChip) {
    struct TrayStation : ChipStation {
        Session& session;
        SimulatedDriver& sim;
        RecordingFrontend& frontend;
        std::function<bool()> runChain;
        std::string hexPath;
        std::vector<std::string> chips;   // "OK 0001" / "NG": result and the user ID the chip holds

        TrayStation(Session& session, SimulatedDriver& sim, RecordingFrontend& frontend, std::function<bool()> run,
                    std::string hexPath)
            : session(session), sim(sim), frontend(frontend), runChain(std::move(run)), hexPath(std::move(hexPath)) {}
        Outcome programAndVerify(const MemoryImage& image) override {
            // Loaded afresh for every chip: a verify leaves the chip it read in the programmer's
            // buffers, and the next write would copy a bad chip onto a good one.
            if (!image.saveHex(hexPath, true, 0x3FFF) || !session.openHexFile(hexPath)) return {false, 5, -1, "file"};
            session.onProgramButton();
            const bool ended = runChain();
            const bool ok = ended && session.lastChainOk && frontend.latest("status: ") == texts::verifyOk;
            return {ok, ok ? 0 : 1, session.programmer.deviceId, ok ? "OK" : "NG"};
        }
        void safeState() override { session.programmer.resetOutputs(); }
        bool nextChipWanted() override { return sim.nextTrayChip(); }
        void chipDone(const Report& report) override {
            const SimChipState chip = sim.chipState();
            char serial[8];
            std::snprintf(serial, sizeof serial, "%X%X%X%X", chip.userIds[3] & 0xF, chip.userIds[2] & 0xF,
                          chip.userIds[1] & 0xF, chip.userIds[0] & 0xF);
            chips.push_back(report.outcome.ok ? "OK " + std::string(serial) : "NG");

            const SimOutputs out = sim.outputs();
            EXPECT_FALSE(out.power5v || out.dcdc || out.mclr == SimMclr::Vpp) << "powered while the operator changes chips";
        }
    };
    SimConfig config;
    config.trayCount = 10;
    config.trayFail = 4;
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A", config));
    // A small program: each word a dead chip refuses costs the writer a 5 ms pause.
    ASSERT_TRUE(session->openHexFile(std::string(KORVALIN_DATA_DIR) + "/examples/blink-16f628a.hex"));
    TrayStation station(*session, *sim, frontend, [this] { return runChain(); }, tempPath("chip.hex"));
    RepeatSettings settings;
    settings.writeSerial = true;
    settings.serialStart = 1;
    const RepeatSummary summary = RepeatRun(station, settings).run(session->image);
    EXPECT_EQ(station.chips, (std::vector<std::string>{"OK 0001", "OK 0002", "OK 0003", "NG", "OK 0004",
                                                       "OK 0005", "OK 0006", "OK 0007", "OK 0008", "OK 0009"}));
    EXPECT_EQ(summary.ok, 9);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.worstStatus, 1);
    EXPECT_FALSE(summary.stoppedOnError);
}

}  // namespace
