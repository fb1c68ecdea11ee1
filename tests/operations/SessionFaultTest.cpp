#include "SessionFixture.h"

#include "operations/Texts.h"
#include "programmer/Scripts.h"

#include <functional>
#include <thread>

namespace {

const std::string kWrite = "Program / EEPROM Write";
const std::string kRead = "Program / EEPROM Read";
const std::string kVerify = "Program / EEPROM Verify";
const std::string kErase = "Program / EEPROM Erase";
const std::string kCalRead = "OSC Calibration Data Read";
const std::string kCalWrite = "OSC Calibration Data Write";
const std::string kAllEnabled = "ok=1 program=Program/1 others=1";

std::vector<uint8_t> bytesOf(const Script& script) {
    return {script.bytes.begin(), script.bytes.begin() + script.length};
}

// ---- the start checks ----------------------------------------------------------------------

struct StartCase {
    const char* name;
    const char* device;
    const char* chip;
    const char* message;
};

class StartRefusedTest : public SessionTest, public ::testing::WithParamInterface<StartCase> {};

// A refused start shows its message and touches nothing: no status, no controls, no chip.
TEST_P(StartRefusedTest, EveryButtonShowsTheMessageAndStartsNothing) {
    const StartCase& c = GetParam();
    const std::string noIdLine = [] {
        // The 16F84A's line as a catalogue would give a chip without a device ID.
        std::string line = shippedLine("PIC16F84A");
        line.replace(0, 9, "PIC16F84");
        const std::size_t idColumn = line.rfind("0560:3FE0");
        line.replace(idColumn, 9, "-");
        return line;
    }();
    const std::string catalogue =
        writeCatalogue("catalogue.txt", {shippedLine("PIC16F628A"), noIdLine});
    ASSERT_NO_FATAL_FAILURE(open(c.device, c.chip, {}, catalogue));
    const SimChipState before = chip();

    for (auto button : {&Session::onProgramButton, &Session::onReadButton,
                        &Session::onVerifyButton, &Session::onEraseButton}) {
        frontend.clear();
        (session.get()->*button)();
        EXPECT_FALSE(session->chainRunning());
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{c.message});
        EXPECT_TRUE(frontend.statuses().empty());
        EXPECT_TRUE(frontend.with("controls: ").empty());
        EXPECT_FALSE(session->programButtonIsCancel);
        EXPECT_FALSE(session->lastChainOk);
    }
    EXPECT_EQ(chip().programWords, before.programWords);
}

INSTANTIATE_TEST_SUITE_P(
    Start, StartRefusedTest,
    ::testing::Values(StartCase{"Mismatch", "PIC16F628A", "PIC16F627A", texts::deviceIdMismatch},
                      StartCase{"EmptySocket", "PIC16F628A", "", texts::socketEmpty},
                      StartCase{"DeviceWithoutIdCheckOn", "PIC16F84", "PIC16F84A",
                                texts::socketEmpty}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

TEST_F(SessionTest, ADeviceWithoutIdRunsWithTheCheckOffAndNoIdExchange) {
    std::string line = shippedLine("PIC16F84A");
    line.replace(line.rfind("0560:3FE0"), 9, "-");
    ASSERT_NO_FATAL_FAILURE(open("PIC16F84A", "PIC16F84A", {}, writeCatalogue("c.txt", {line})));
    session->applySkipDeviceIdCheck(1);
    std::size_t writesAtStatus = 0;
    frontend.onStatus = [&](const std::string&) {
        if (writesAtStatus == 0) writesAtStatus = recorder->writes();
    };
    press(&Session::onReadButton);
    EXPECT_TRUE(frontend.messages().empty());
    EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kRead});
    EXPECT_EQ(writesAtStatus, 1u) << "only the socket selection precedes the worker";
}

TEST_F(SessionTest, NotConnectedRefusesEveryButton) {
    SimConfig config;
    config.plugged = false;
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A", config));
    for (auto button : {&Session::onProgramButton, &Session::onReadButton,
                        &Session::onVerifyButton, &Session::onEraseButton}) {
        frontend.clear();
        (session.get()->*button)();
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::notConnected});
        EXPECT_TRUE(frontend.statuses().empty());
        EXPECT_FALSE(session->chainRunning());
    }
    EXPECT_EQ(recorder->writes(), 0u);
}

// ---- socket and ICSP -----------------------------------------------------------------------

TEST_F(SessionTest, IcspModeSelectsTheDeviceSocketThenIcsp) {
    SimConfig config;
    config.position = SimPosition::Icsp;
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A", config));

    // In socket mode the chip on the ICSP cable is out of reach: the socket reads empty.
    press(&Session::onReadButton);
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::socketEmpty});
    ASSERT_FALSE(recorder->scripts().empty());
    EXPECT_EQ(recorder->scripts()[0], bytesOf(controlScript(kSocket8_18)));
    EXPECT_NE(recorder->scripts()[1], bytesOf(controlScript(kSocketIcsp)));

    frontend.clear();
    recorder->clear();
    session->onSocketFieldClick();
    EXPECT_EQ(frontend.field(Field::Socket), "ICSP");
    EXPECT_EQ(frontend.progress, 0);
    press(&Session::onReadButton);
    EXPECT_TRUE(frontend.messages().empty());
    EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kRead});
    const auto scripts = recorder->scripts();
    ASSERT_GE(scripts.size(), 2u);
    EXPECT_EQ(scripts[0], bytesOf(controlScript(kSocket8_18)));
    EXPECT_EQ(scripts[1], bytesOf(controlScript(kSocketIcsp)));

    session->onSocketFieldClick();
    EXPECT_EQ(frontend.field(Field::Socket), "18pin");
}

// ---- verify NG per area ---------------------------------------------------------------------

struct VerifyCase {
    const char* name;
    const char* device;
    std::function<void(SimChipState&)> change;
    int32_t userIdOff;
    std::vector<std::string> dialog;   // empty: the verify passes
};

class VerifyAreaTest : public SessionTest, public ::testing::WithParamInterface<VerifyCase> {};

// Read, change one area of the chip, Verify: the dialog names exactly that area.
TEST_P(VerifyAreaTest, TheDialogNamesTheAreaThatDiffers) {
    const VerifyCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
    SimChipState state = chip();
    for (std::size_t i = 0; i + 1 < state.programWords.size(); ++i)
        state.programWords[i] = static_cast<uint16_t>((i * 5 + 1) & 0x3FFF);
    state.userIds[0] = 0x0003;
    ASSERT_TRUE(sim->setChipState(state));
    press(&Session::onReadButton);
    session->applyUserId(session->image.userId, c.userIdOff);

    c.change(state);
    ASSERT_TRUE(sim->setChipState(state));
    frontend.clear();
    press(&Session::onVerifyButton);

    EXPECT_EQ(frontend.verifyErrors(), c.dialog);
    EXPECT_EQ(frontend.statuses().back(), c.dialog.empty() ? texts::verifyOk : texts::verifyNg);
    EXPECT_EQ(session->lastChainOk, c.dialog.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Areas, VerifyAreaTest,
    ::testing::Values(
        VerifyCase{"Program", "PIC16F628A", [](SimChipState& s) { s.programWords[100] ^= 1; }, 0,
                   {"NG OK OK"}},
        VerifyCase{"LastProgramWord", "PIC16F628A",
                   [](SimChipState& s) { s.programWords[2047] ^= 0x100; }, 0, {"NG OK OK"}},
        VerifyCase{"Eeprom", "PIC16F628A", [](SimChipState& s) { s.eepromBytes[127] ^= 1; }, 0,
                   {"OK NG OK"}},
        VerifyCase{"Config", "PIC16F628A", [](SimChipState& s) { s.configWord ^= 1; }, 0,
                   {"OK OK NG"}},
        VerifyCase{"UserId", "PIC16F628A", [](SimChipState& s) { s.userIds[2] = 0x0005; }, 0,
                   {"OK OK NG"}},
        VerifyCase{"UserIdNotUsed", "PIC16F628A", [](SimChipState& s) { s.userIds[2] = 0x0005; },
                   1, {}},
        VerifyCase{"ConfigWord2", "PIC16F88", [](SimChipState& s) { s.configWord2 ^= 1; }, 0,
                   {"OK OK NG"}},
        VerifyCase{"ProgramAndEeprom", "PIC16F628A",
                   [](SimChipState& s) {
                       s.programWords[0] ^= 1;
                       s.eepromBytes[0] ^= 1;
                   },
                   0, {"NG NG OK"}},
        VerifyCase{"CalibrationDeviceConfig", "PIC12F675",
                   [](SimChipState& s) { s.configWord ^= 1; }, 0, {"OK OK NG"}},
        VerifyCase{"CalibrationBitsAreTheChips", "PIC12F675",
                   [](SimChipState& s) { s.configWord ^= 0x1000; }, 0, {}},
        VerifyCase{"CalibrationWordIsTheChips", "PIC12F675",
                   [](SimChipState& s) { s.programWords[0x3FF] ^= 1; }, 0, {}}),
    [](const ::testing::TestParamInfo<VerifyCase>& info) { return std::string(info.param.name); });

TEST_F(SessionTest, AConfigurationWordThatFailedToProgramVerifiesNgOnACalibrationDevice) {
    ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x31C4)));
    // Between the write and the verify, one non-calibration bit of the chip's word flips back.
    frontend.onStatus = [this](const std::string& s) {
        if (s != kVerify) return;
        SimChipState state = chip();
        state.configWord ^= 0x0004;
        ASSERT_TRUE(sim->setChipState(state));
    };
    press(&Session::onProgramButton);
    EXPECT_EQ(frontend.statuses().back(), texts::verifyNg);
    EXPECT_EQ(frontend.verifyErrors(), std::vector<std::string>{"OK OK NG"});
}

// ---- unplug and failed transfers -------------------------------------------------------------

struct UnplugCase {
    const char* name;
    const char* device;
    void (Session::*button)();
    std::string step;                  // the status text of the step to unplug in
    Operation operation;               // that step's operation
    bool hasFollowUp;
    std::vector<std::string> statuses; // up to and including the step
};

class UnplugTest : public SessionTest, public ::testing::WithParamInterface<UnplugCase> {
protected:
    void expectEndedOnUnplug(const UnplugCase& c) {
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::notConnected});
        std::vector<std::string> statuses = c.statuses;
        statuses.push_back("Korvalin Non Connect");
        EXPECT_EQ(frontend.statuses(), statuses);
        EXPECT_EQ(frontend.with("controls: ").back(), kAllEnabled);
        EXPECT_TRUE(frontend.verifyErrors().empty());
        EXPECT_FALSE(session->chainRunning());
        EXPECT_FALSE(session->link.connected);
        EXPECT_FALSE(session->lastChainOk);
    }
};

TEST_P(UnplugTest, DuringTheStep) {
    const UnplugCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
    frontend.onStatus = [&](const std::string& s) {
        if (s == c.step) recorder->holdAt(1);
    };
    (session.get()->*c.button)();
    ASSERT_TRUE(runChain([this] {
        if (recorder->isHeld()) {
            sim->unplug();
            recorder->release();
        }
    }));
    expectEndedOnUnplug(c);
}

// The step ends well and the programmer goes before the next step starts.
class UnplugAfterTest : public UnplugTest {};

TEST_P(UnplugAfterTest, RightAfterTheStep) {
    const UnplugCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
    (session.get()->*c.button)();
    bool unplugged = false;
    ASSERT_TRUE(runChain([&] {
        if (unplugged || session->currentOperation != c.operation) return;
        // The step's worker ends before the tick that would start the next step.
        while (session->programmer.busy.load() != 0) std::this_thread::yield();
        sim->unplug();
        unplugged = true;
    }));
    ASSERT_TRUE(unplugged);
    expectEndedOnUnplug(c);
}

const UnplugCase kUnplugCases[] = {
        UnplugCase{"Write", "PIC16F628A", &Session::onProgramButton, kWrite, Operation::Program,
                   true, {kWrite}},
        UnplugCase{"Verify", "PIC16F628A", &Session::onProgramButton, kVerify, Operation::Verify,
                   false, {kWrite, kVerify}},
        UnplugCase{"Read", "PIC16F628A", &Session::onReadButton, kRead, Operation::Read, false,
                   {kRead}},
        UnplugCase{"Erase", "PIC16F628A", &Session::onEraseButton, kErase, Operation::Erase,
                   false, {kErase}},
        UnplugCase{"ProgramCalRead", "PIC12F675", &Session::onProgramButton, kCalRead,
                   Operation::CalibrationRead, true, {kCalRead}},
        UnplugCase{"ProgramCalWrite", "PIC12F675", &Session::onProgramButton, kWrite,
                   Operation::Program, true, {kCalRead, kWrite}},
        UnplugCase{"ProgramCalVerify", "PIC12F675", &Session::onProgramButton, kVerify,
                   Operation::Verify, false, {kCalRead, kWrite, kVerify}},
        UnplugCase{"EraseCalRead", "PIC12F675", &Session::onEraseButton, kCalRead,
                   Operation::CalibrationRead, true, {kCalRead}},
        UnplugCase{"EraseCalErase", "PIC12F675", &Session::onEraseButton, kErase,
                   Operation::Erase, true, {kCalRead, kErase}},
        UnplugCase{"EraseCalWrite", "PIC12F675", &Session::onEraseButton, kCalWrite,
                   Operation::CalibrationWrite, false, {kCalRead, kErase, kCalWrite}}};

std::vector<UnplugCase> casesWithFollowUp() {
    std::vector<UnplugCase> cases;
    for (const UnplugCase& c : kUnplugCases)
        if (c.hasFollowUp) cases.push_back(c);
    return cases;
}

std::string unplugCaseName(const ::testing::TestParamInfo<UnplugCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Steps, UnplugTest, ::testing::ValuesIn(kUnplugCases), unplugCaseName);
INSTANTIATE_TEST_SUITE_P(Steps, UnplugAfterTest, ::testing::ValuesIn(casesWithFollowUp()),
                         unplugCaseName);

TEST_F(SessionTest, AfterAnUnplugAndReplugTheNextChainRuns) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    frontend.onStatus = [this](const std::string& s) {
        if (s == kWrite) recorder->holdAt(3);
    };
    session->onProgramButton();
    ASSERT_TRUE(runChain([this] {
        if (recorder->isHeld()) {
            sim->unplug();
            recorder->release();
        }
    }));
    frontend.onStatus = nullptr;
    sim->plug();
    frontend.clear();
    session->tick();
    EXPECT_EQ(frontend.statuses(), std::vector<std::string>{"Korvalin Connect"});
    press(&Session::onProgramButton);
    EXPECT_EQ(frontend.statuses(),
              (std::vector<std::string>{"Korvalin Connect", kWrite, kVerify, texts::verifyOk}));
}

TEST_F(SessionTest, AFailedReadLeavesTheImageAndTheDumps) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    session->programmer.transferTimeoutMs = 50;
    ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x21F8)));
    const MemoryImage before = session->image;
    const std::string dumpBefore = frontend.programDump;
    frontend.clear();
    frontend.onStatus = [this](const std::string& s) {
        if (s != kRead) return;
        SimFaults faults;
        faults.stallAfter = static_cast<int64_t>(sim->exchangeCount()) + 5;
        sim->setFaults(faults);
    };
    press(&Session::onReadButton);

    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::transferFailed});
    EXPECT_EQ(frontend.statuses(), std::vector<std::string>{kRead});
    EXPECT_EQ(frontend.with("controls: ").back(), kAllEnabled);
    EXPECT_TRUE(frontend.with("programDump").empty());
    EXPECT_TRUE(frontend.with("field ").empty());
    EXPECT_EQ(frontend.programDump, dumpBefore);
    EXPECT_EQ(session->image.programWords, before.programWords);
    EXPECT_EQ(session->image.eepromBytes, before.eepromBytes);
    EXPECT_TRUE(session->link.connected);
    EXPECT_FALSE(session->lastChainOk);
}

TEST_F(SessionTest, AFailedWriteEndsTheChainWithoutVerify) {
    ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
    session->programmer.transferTimeoutMs = 50;
    frontend.onStatus = [this](const std::string& s) {
        if (s != kWrite) return;
        SimFaults faults;
        faults.stallAfter = static_cast<int64_t>(sim->exchangeCount()) + 5;
        sim->setFaults(faults);
    };
    press(&Session::onProgramButton);
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::transferFailed});
    EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kCalRead, kWrite}));
    EXPECT_TRUE(frontend.verifyErrors().empty());
    EXPECT_EQ(frontend.with("controls: ").back(), kAllEnabled);
}

TEST_F(SessionTest, AFailedWriteLeavesTheOutputsSafe) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    session->programmer.transferTimeoutMs = 50;
    frontend.onStatus = [this](const std::string& s) {
        if (s != kWrite) return;
        SimFaults faults;
        faults.stallAfter = static_cast<int64_t>(sim->exchangeCount()) + 12;   // among the words
        sim->setFaults(faults);
    };
    session->onProgramButton();
    // A passing stall: over by the time the session learns of the failure.
    ASSERT_TRUE(runChain([this] {
        if (session->programmer.busy.load() == 0) sim->setFaults(SimFaults{});
    }));
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::transferFailed});
    // The worker stopped before its exit script; the chip must not be left at VPP, powered.
    const SimOutputs out = sim->outputs();
    EXPECT_FALSE(out.power5v);
    EXPECT_FALSE(out.dcdc);
    EXPECT_NE(out.mclr, SimMclr::Vpp);
    EXPECT_FALSE(sim->chipInProgrammingMode());
}

TEST_F(SessionTest, AFailedStartExchangeStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    session->programmer.transferTimeoutMs = 50;
    SimFaults faults;
    faults.stallAfter = static_cast<int64_t>(sim->exchangeCount());
    sim->setFaults(faults);
    session->onReadButton();
    EXPECT_FALSE(session->chainRunning());
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::transferFailed});
    EXPECT_TRUE(frontend.statuses().empty());
    EXPECT_TRUE(frontend.with("controls: ").empty());
}

}  // namespace
