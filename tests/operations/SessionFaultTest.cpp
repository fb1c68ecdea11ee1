// SPDX-License-Identifier: MIT
#include "SessionFixture.h"


namespace {

// A refused start shows its message and touches nothing: no status, no controls, no chip. A
// device without an ID is refused with the check on (with it off it runs: end to end, tests/cli).
TEST_F(SessionTest, StartChecks) {
    struct Case {
        const char* name;
        const char* device;
        const char* chip;
        bool plugged, stalled;
        const char* message;
    };
    const Case cases[] = {
        {"mismatch", "PIC16F628A", "PIC16F627A", true, false, texts::deviceIdMismatch},
        {"empty socket", "PIC16F628A", "", true, false, texts::socketEmpty},
        {"no device ID, check on", "PIC16F84A", "PIC16F84A", true, false, texts::socketEmpty},
        {"not connected", "PIC16F628A", "PIC16F628A", false, false, texts::notConnected},
        {"start exchange fails", "PIC16F628A", "PIC16F628A", true, true, texts::transferFailed},
    };
    std::string noId = shippedLine("PIC16F84A");
    noId.replace(noId.rfind("0560:3FE0"), 9, "-");
    const std::string catalogue = writeCatalogue({shippedLine("PIC16F628A"), noId});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.plugged = c.plugged;
        ASSERT_NO_FATAL_FAILURE(open(c.device, c.chip, config, catalogue));
        if (c.stalled) {
            session->programmer.transferTimeoutMs = 50;
            SimFaults faults;
            faults.stallAfter = static_cast<int64_t>(sim->exchangeCount());
            sim->setFaults(faults);
        }
        const SimChipState before = chip();
        for (auto button : {&Session::onProgramButton, &Session::onReadButton,
                            &Session::onVerifyButton, &Session::onEraseButton}) {
            frontend.calls.clear();
            (session.get()->*button)();
            ASSERT_TRUE(runChain());
            EXPECT_FALSE(session->chainRunning());
            EXPECT_EQ(frontend.waitDepth, 0);
            EXPECT_EQ(frontend.messages(), std::vector<std::string>{c.message});
            EXPECT_TRUE(frontend.statuses().empty());
            EXPECT_TRUE(frontend.with("controls: ").empty());
            EXPECT_FALSE(session->programButtonIsCancel);
            if (c.plugged) {
                EXPECT_FALSE(session->lastChainOk);
            }
        }
        EXPECT_EQ(chip().programWords, before.programWords);
        EXPECT_EQ(recorder->scripts().empty(), !c.plugged);
    }

}

// The socket field's click is pinned by the window tests, the ICSP position by the end-to-end
// icsp case.

// ---- verify NG per area ---------------------------------------------------------------------

// Read, change one area of the chip, Verify: the dialog names exactly that area.
TEST_F(SessionTest, VerifyNamesTheAreaThatDiffers) {
    struct Case {
        const char* name;
        const char* device;
        std::function<void(SimChipState&)> change;
        int32_t userIdOff;
        std::string dialog;   // empty: the verify passes
    };
    const Case cases[] = {
        {"program", "PIC16F628A", [](SimChipState& s) { s.programWords[100] ^= 1; }, 0, "NG OK OK"},
        {"config", "PIC16F628A", [](SimChipState& s) { s.configWord ^= 1; }, 0, "OK OK NG"},
        {"user ID", "PIC16F628A", [](SimChipState& s) { s.userIds[2] = 0x0005; }, 0, "OK OK NG"},
        {"user ID not used", "PIC16F628A", [](SimChipState& s) { s.userIds[2] = 0x0005; }, 1, ""},
        {"config word 2", "PIC16F88", [](SimChipState& s) { s.configWord2 ^= 1; }, 0, "OK OK NG"},
        {"config word 2, unimplemented bit", "PIC16F88",
         [](SimChipState& s) { s.configWord2 ^= 0x0004; }, 0, ""},
        {"calibration bits are the chip's", "PIC12F675",
         [](SimChipState& s) { s.configWord ^= 0x1000; }, 0, ""},
        {"calibration word is the chip's", "PIC12F675",
         [](SimChipState& s) { s.programWords[0x3FF] ^= 1; }, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
        setChip([](SimChipState& s) {
            for (std::size_t i = 0; i + 1 < s.programWords.size(); ++i)
                s.programWords[i] = static_cast<uint16_t>((i * 5 + 1) & 0x3FFF);
            s.userIds[0] = 0x0003;
        });
        press(&Session::onReadButton);
        session->applyUserId(session->image.userId, c.userIdOff);
        setChip(c.change);
        frontend.calls.clear();
        press(&Session::onVerifyButton);

        const auto dialog = frontend.verifyErrors();
        EXPECT_EQ(dialog, c.dialog.empty() ? std::vector<std::string>{}
                                           : std::vector<std::string>{c.dialog});
        EXPECT_EQ(frontend.statuses().back(), c.dialog.empty() ? texts::verifyOk : texts::verifyNg);
        EXPECT_EQ(session->lastChainOk, c.dialog.empty());
    }
}

// One non-calibration bit of the chip's word flips back before the step that checks it: the
// verify on a calibration device, the read-back of the protection written after the verify.
TEST_F(SessionTest, AConfigurationWordThatFailedToProgramVerifiesNg) {
    const struct {
        const char* device;
        uint16_t configWord;
        std::string step;
    } cases[] = {{"PIC12F675", 0x31C4, kVerify}, {"PIC16F628A", 0x10C4, kProtect}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
        ASSERT_NO_FATAL_FAILURE(openImage(patternImage(c.configWord)));
        frontend.onStatus = [this, step = c.step](const std::string& s) {
            if (s == step) setChip([](SimChipState& state) { state.configWord ^= 0x0004; });
        };
        press(&Session::onProgramButton);
        EXPECT_EQ(frontend.statuses().back(), texts::verifyNg);
        EXPECT_EQ(frontend.verifyErrors(), std::vector<std::string>{"OK OK NG"});
        EXPECT_FALSE(session->lastChainOk);
    }
}

// ---- unplug and failed transfers -------------------------------------------------------------

struct UnplugCase {
    const char* name;
    const char* device;
    void (Session::*button)();
    std::string step;                   // the status text of the step to unplug in
    Operation operation;                // that step's operation
    bool hasFollowUp;
    std::vector<std::string> statuses;  // up to and including the step
    bool lostDuring = false;            // an unplug inside the step leaves the chip without its
    bool lostAfter = false;             // calibration; likewise one right after the step
};

const UnplugCase kUnplugCases[] = {
    {"Write", "PIC16F628A", &Session::onProgramButton, kWrite, Operation::Program, true, {kWrite}},
    {"WriteBlocks", "PIC16F877A", &Session::onProgramButton, kWrite, Operation::Program, true, {kWrite}},
    {"Erase", "PIC16F628A", &Session::onEraseButton, kErase, Operation::Erase, false, {kErase}},
    {"ProgramCalRead", "PIC12F675", &Session::onProgramButton, kCalRead,
     Operation::CalibrationRead, true, {kCalRead}},
    {"ProgramCalWrite", "PIC12F675", &Session::onProgramButton, kWrite, Operation::Program, true,
     {kCalRead, kWrite}, true},
    {"ProgramCalVerify", "PIC12F675", &Session::onProgramButton, kVerify, Operation::Verify,
     false, {kCalRead, kWrite, kVerify}},
    {"EraseCalRead", "PIC12F675", &Session::onEraseButton, kCalRead, Operation::CalibrationRead,
     true, {kCalRead}},
    {"EraseCalErase", "PIC12F675", &Session::onEraseButton, kErase, Operation::Erase, true,
     {kCalRead, kErase}, true, true},
    {"EraseCalWrite", "PIC12F675", &Session::onEraseButton, kCalWrite,
     Operation::CalibrationWrite, false, {kCalRead, kErase, kCalWrite}, true}};

// Unplugged inside every step, right after every step that has a follow-up (the step ends
// well and the programmer goes before the next one starts), and inside the follow-up's start
// checks: the message once, the statuses up to the step then the disconnect, everything enabled
// again. Where the chip has been erased and its calibration not yet written back, a second
// message names the word and bits to write. (Plugged back in, the journal's word is offered and
// taken: end to end, tests/cli, calibration_kept.)
TEST_F(SessionTest, UnplugDuringAndAfterEveryStep) {
    enum When { During, After, InNextStartChecks };
    for (const UnplugCase& c : kUnplugCases) {
        for (const When when : {During, After, InNextStartChecks}) {
            if (when != During && !c.hasFollowUp) continue;
            SCOPED_TRACE(std::string(c.name) + (when == During  ? ", during"
                                                : when == After ? ", right after"
                                                                : ", in the next start checks"));
            ASSERT_NO_FATAL_FAILURE(open(c.device, c.device));
            const SimChipState before = chip();
            if (when == During) holdInStep(c.step, 1);
            (session.get()->*c.button)();
            bool stepEnded = false;
            ASSERT_TRUE(runChain([&] {
                if (when != After && recorder->isHeld()) {
                    sim->unplug();
                    recorder->release();
                } else if (when != During && !stepEnded && session->currentOperation == c.operation) {
                    // The step's worker ends before the tick that would start the next step.
                    while (session->programmer.busy.load() != 0) std::this_thread::yield();
                    stepEnded = true;
                    if (when == After)
                        sim->unplug();
                    else
                        recorder->holdAt(1);   // the next step's device ID read
                }
            }));
            std::vector<std::string> messages{texts::notConnected};
            if (when == During ? c.lostDuring : c.lostAfter)
                messages.push_back("OSC校正値を書き戻せませんでした。\n校正値 " + hex4(before.programWords[0x3FF]) +
                                   " BG" + std::to_string((before.configWord & 0x3000) >> 12) +
                                   " を書き込んでください。");
            EXPECT_EQ(frontend.messages(), messages);
            EXPECT_EQ(session->lastChainCalibrationLost, when == During ? c.lostDuring : c.lostAfter);
            std::vector<std::string> statuses = c.statuses;
            statuses.push_back("Korvalin Non Connect");
            EXPECT_EQ(frontend.statuses(), statuses);
            EXPECT_EQ(frontend.latest("controls: "), kAllEnabled);
            EXPECT_EQ(frontend.waitDepth, 0);
            EXPECT_TRUE(frontend.verifyErrors().empty());
            EXPECT_FALSE(session->link.connected);
            EXPECT_FALSE(session->lastChainOk);
        }
    }
}

// A programmer that goes away at any exchange of a step: the chain ends there with the failure
// shown once, the image and the dumps as they were, everything enabled again, and the programmer
// closed exactly once, after the worker has finished (later ticks close nothing more). A stall
// is pinned end to end (tests/cli) and in the failed write below. The device is cut to 64 words and 16 bytes, so that an unplug at every
// exchange of a Read and of a Write stays short and still meets every kind of exchange.
TEST_F(SessionTest, AFaultAtAnyExchangeOfAStepEndsTheChainWithItsMessage) {
    std::string small = shippedLine("PIC16F628A");
    small.replace(small.find("\t2048:14\t128\t"), 13, "\t64:14\t16\t");
    const std::string catalogue = writeCatalogue({small});
    struct Case {
        const char* name;
        void (Session::*button)();
        std::string step;
    };
    const std::string lost = "Korvalin Non Connect";
    const Case cases[] = {
        {"unplugged in Read", &Session::onReadButton, kRead},
        {"unplugged in Write", &Session::onProgramButton, kWrite},
    };
    for (const Case& c : cases) {
        // The step's exchanges, counted on a run without a fault.
        ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A", {}, catalogue));
        uint64_t first = 0, next = 0;   // at the step's status and at the one after it
        frontend.onStatus = [&](const std::string& s) {
            if (s == c.step)
                first = sim->exchangeCount();
            else if (first != 0 && next == 0)
                next = sim->exchangeCount();
        };
        press(c.button);
        ASSERT_TRUE(session->lastChainOk) << c.name;
        const uint64_t total = (next != 0 ? next : sim->exchangeCount()) - first;
        ASSERT_GT(total, 5u) << c.name;

        for (uint64_t k = 0; k < total; ++k) {
            SCOPED_TRACE(testing::Message() << c.name << " at exchange " << k);
            ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A", {}, catalogue));
            ASSERT_NO_FATAL_FAILURE(openImage(patternImage(0x21F8)));
            const MemoryImage before = session->image;
            frontend.calls.clear();
            faultInStep(c.step, static_cast<int64_t>(k), true);
            press(c.button);
            for (int i = 0; i < 3; ++i) session->tick();

            EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::notConnected});
            EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{c.step, lost}));
            EXPECT_EQ(frontend.latest("controls: "), kAllEnabled);
            EXPECT_TRUE(frontend.with("programDump").empty());
            EXPECT_TRUE(frontend.with("eepromDump").empty());
            if (c.step == kRead) {
                EXPECT_TRUE(frontend.with("field").empty());
            }
            EXPECT_EQ(session->image.programWords, before.programWords);
            EXPECT_EQ(session->image.eepromBytes, before.eepromBytes);
            EXPECT_FALSE(session->link.connected);
            EXPECT_EQ(sim->closeCount(), 1u);
            EXPECT_FALSE(session->lastChainOk);
        }
    }
}

// The chain ends at the failed write or erase, without a verify. The programmer is still there,
// so the erased chip gets its calibration word and bits back before the failure is reported.
TEST_F(SessionTest, AFailedWriteLeavesTheOutputsSafe) {
    const std::pair<void (Session::*)(), std::string> cases[] = {
        {&Session::onProgramButton, kWrite}, {&Session::onEraseButton, kErase}};
    for (const auto& [button, step] : cases) {
        SCOPED_TRACE(step);
        ASSERT_NO_FATAL_FAILURE(open("PIC12F675", "PIC12F675"));
        const SimChipState before = chip();
        faultInStep(step, step == kWrite ? 12 : 3);   // among the words; after the bulk erase
        (session.get()->*button)();
        // A passing stall: over by the time the session learns of the failure. Each step's
        // worker is let finish before the tick that would notice it.
        ASSERT_TRUE(runChain([this] {
            while (session->programmer.busy.load() != 0) std::this_thread::yield();
            sim->setFaults(SimFaults{});
        }));
        EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::transferFailed});
        EXPECT_EQ(frontend.statuses(), (std::vector<std::string>{kCalRead, step, kCalWrite}));
        EXPECT_TRUE(frontend.verifyErrors().empty());
        EXPECT_EQ(frontend.latest("controls: "), kAllEnabled);
        EXPECT_FALSE(session->lastChainOk);
        EXPECT_FALSE(session->lastChainCalibrationLost);
        const SimChipState after = chip();
        EXPECT_EQ(after.programWords[0x3FF], before.programWords[0x3FF]);
        EXPECT_EQ(after.configWord & 0x3000, before.configWord & 0x3000);
        // The worker stopped before its exit script; the chip must not be left at VPP, powered.
        const SimOutputs out = sim->outputs();
        EXPECT_FALSE(out.power5v);
        EXPECT_FALSE(out.dcdc);
        EXPECT_NE(out.mclr, SimMclr::Vpp);
        EXPECT_FALSE(sim->chipInProgrammingMode());
    }
}

}  // namespace
