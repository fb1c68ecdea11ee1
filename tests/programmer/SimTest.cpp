// Every catalogue device against the simulated programmer and a simulated chip of that device:
// the catalogue line's methods must program, read and erase the chip as its silicon behaves.

#include "SimRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class SimDevice : public testing::TestWithParam<std::string> {
protected:
    SimRig rig{GetParam()};
    Programmer& p = rig.p;

    void SetUp() override
    {
        ASSERT_TRUE(rig.record.valid) << rig.record.invalidReason;
        ASSERT_TRUE(rig.connect());
        const int32_t id = p.readDeviceId();
        ASSERT_NE(id, -1);
        EXPECT_EQ(id & rig.record.deviceIdMask, rig.record.expectedDeviceId) << "device ID " << std::hex << id;
    }

    void TearDown() override
    {
        // Whatever ran, the host spoke the protocol cleanly and left the chip out of
        // programming mode, its supply off and MCLR held at reset.
        EXPECT_EQ(rig.sim.malformedScriptCount(), 0u);
        EXPECT_EQ(rig.sim.protocolErrorCount(), 0u);
        EXPECT_FALSE(rig.sim.chipInProgrammingMode());
        EXPECT_FALSE(rig.sim.chipRefusedEntry());
        const SimOutputs out = rig.sim.outputs();
        EXPECT_FALSE(out.power5v);
        EXPECT_FALSE(out.dcdc);
        EXPECT_EQ(out.mclr, SimMclr::Reset);
    }



    // What a full read should give back after fillRandom + programChain.
    struct Expected {
        std::vector<uint16_t> words, eeprom;
        uint16_t userId, config1, config2;
    };
    Expected expectedFrom(const Programmer& q) const
    {
        return {std::vector<uint16_t>(q.programWords.begin(), q.programWords.begin() + q.programWordCount),
                std::vector<uint16_t>(q.eepromBytes.begin(), q.eepromBytes.begin() + q.eepromByteCount), q.userId,
                static_cast<uint16_t>(q.configWord & rig.configMask1()),
                static_cast<uint16_t>(q.configWord2 & rig.configMask2())};
    }

    void expectChipHolds(const Expected& e, bool userIdWritten)
    {
        p.setGeometry(p.programWordCount, p.blankWord, p.eepromByteCount);   // forget what was sent
        ASSERT_TRUE(p.readAll());
        EXPECT_EQ(p.progressPosition.load(), p.progressTotal);
        const std::vector<uint16_t> words(p.programWords.begin(), p.programWords.begin() + p.programWordCount);
        for (std::size_t i = 0; i < words.size(); ++i)
            if (words[i] != e.words[i]) {
                ADD_FAILURE() << "program word 0x" << std::hex << i << " reads 0x" << words[i] << ", wrote 0x" << e.words[i];
                break;
            }
        EXPECT_EQ(std::vector<uint16_t>(p.eepromBytes.begin(), p.eepromBytes.begin() + p.eepromByteCount), e.eeprom);
        if (userIdWritten) {
            EXPECT_EQ(p.userId, e.userId);
        }
        EXPECT_EQ(p.configWord, e.config1) << std::hex << p.configWord << " vs " << e.config1;
        if (p.family == 2) {
            EXPECT_EQ(p.configWord2, e.config2);
        }
        EXPECT_EQ(p.deviceId & rig.record.deviceIdMask, rig.record.expectedDeviceId);
    }

    uint16_t blankConfig(uint16_t calibrationBits) const
    {
        return static_cast<uint16_t>((rig.configMask1() & ~rig.record.calibrationBitsMask) | calibrationBits);
    }
};

TEST_P(SimDevice, ProgramsARandomImageAndReadsItBack)
{
    rig.fillRandom(0xC0FFEE);
    ASSERT_TRUE(rig.programChain());
    EXPECT_EQ(p.progressPosition.load(), p.progressTotal);
    const Expected e = expectedFrom(p);
    if (rig.record.hasCalibrationWord) {
        EXPECT_EQ(e.words[p.calibrationAddress], rig.sim.chipState().factoryCalibrationWord);
    }
    expectChipHolds(e, true);
}

TEST_P(SimDevice, ProgramsAtTheSlowClockToo)
{
    // A programmer answering clock 4 gets the second column of waits: still long enough.
    SimConfig config;
    config.clock = 4;
    SimRig slow(GetParam(), config);
    ASSERT_TRUE(slow.connect());
    ASSERT_EQ(slow.p.programmerClock, 4);
    slow.fillRandom(4);
    ASSERT_TRUE(slow.programChain());
    const std::vector<uint16_t> written = slow.p.programWords;
    const uint16_t config1 = static_cast<uint16_t>(slow.p.configWord & slow.configMask1());
    const SimChipState chip = slow.sim.chipState();
    EXPECT_EQ(chip.programWords, std::vector<uint16_t>(written.begin(), written.end() - 1));
    EXPECT_EQ(chip.configWord & slow.configMask1(), config1);
    EXPECT_EQ(slow.sim.protocolErrorCount(), 0u);
}

TEST_P(SimDevice, UserIdIsLeftAloneWhenNotWritten)
{
    rig.fillRandom(1);
    p.userId = 0x5A5A;
    ASSERT_TRUE(rig.programChain());
    Expected e = expectedFrom(p);
    p.userId = 0x1234;
    p.writeUserId = 0;
    ASSERT_TRUE(rig.programChain());
    p.writeUserId = 1;
    expectChipHolds(e, false);
    // The erase ahead of the write (bulk from configuration space, or chip erase) clears them;
    // the plain word-by-word method keeps them.
    EXPECT_EQ(p.userId, p.programMethod == 0 ? 0x5A5A : 0xFFFF);
}

TEST_P(SimDevice, EraseBlanksProgramMemoryAndEepromButKeepsTheCalibration)
{
    if (p.eraseMethod == 0)
        GTEST_SKIP() << "erase does nothing on this device";
    const SimChipState factory = rig.sim.chipState();
    rig.fillRandom(2);
    ASSERT_TRUE(rig.programChain());
    ASSERT_TRUE(rig.eraseChain());

    const SimChipState chip = rig.sim.chipState();
    std::vector<uint16_t> blank(p.programWordCount, p.blankWord);
    if (rig.record.hasCalibrationWord)
        blank[p.calibrationAddress] = factory.factoryCalibrationWord;
    EXPECT_EQ(chip.programWords, blank);
    EXPECT_EQ(chip.eepromBytes, std::vector<uint8_t>(p.eepromByteCount, 0xFF));
    EXPECT_EQ(chip.configWord & rig.record.calibrationBitsMask, factory.factoryCalibrationBits);
    // And a read through the programmer agrees with the chip.
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(std::vector<uint16_t>(p.programWords.begin(), p.programWords.end() - 1), chip.programWords);
}

TEST_P(SimDevice, EraseBlanksUserIdAndConfiguration)
{
    if (p.eraseMethod == 0)
        GTEST_SKIP() << "erase does nothing on this device";
    const SimChipState factory = rig.sim.chipState();
    rig.fillRandom(2);
    ASSERT_TRUE(rig.programChain());
    ASSERT_TRUE(rig.eraseChain());

    Expected blank{std::vector<uint16_t>(p.programWordCount, p.blankWord), std::vector<uint16_t>(p.eepromByteCount, 0xFF),
                   0xFFFF, blankConfig(factory.factoryCalibrationBits), rig.configMask2()};
    if (rig.record.hasCalibrationWord)
        blank.words[p.calibrationAddress] = factory.factoryCalibrationWord;
    expectChipHolds(blank, true);
}

TEST_P(SimDevice, ACodeProtectedChipIsErasedByItsMethod)
{
    if (p.eraseMethod == 0)
        GTEST_SKIP() << "erase does nothing on this device";
    SimChipState state = rig.sim.chipState();
    for (std::size_t i = 0; i < state.programWords.size(); ++i)
        state.programWords[i] = static_cast<uint16_t>(0x0100 + i);
    for (auto& b : state.eepromBytes)
        b = 0x5A;
    state.configWord = static_cast<uint16_t>(state.configWord & ~rig.record.protectOffBits);
    ASSERT_TRUE(rig.sim.setChipState(state));

    // Protected memory reads as zeros before the erase.
    ASSERT_TRUE(p.readAll());
    EXPECT_EQ(p.programWords[1], 0);
    ASSERT_TRUE(rig.eraseChain());

    Expected blank{std::vector<uint16_t>(p.programWordCount, p.blankWord), std::vector<uint16_t>(p.eepromByteCount, 0xFF),
                   0xFFFF, blankConfig(state.factoryCalibrationBits), rig.configMask2()};
    // Protection hides the calibration word too (it is program memory), so the chain can only
    // put back what the chip gave; the calibration bits live in the readable configuration word.
    if (rig.record.hasCalibrationWord) {
        EXPECT_EQ(p.calibrationValue, 0);
        blank.words[p.calibrationAddress] = p.calibrationValue;
    }
    expectChipHolds(blank, true);
}

TEST_P(SimDevice, CancelInTheProgramPhaseWritesNoConfiguration)
{
    rig.fillRandom(3);
    ASSERT_TRUE(rig.calibrationRead());
    const SimChipState before = rig.sim.chipState();
    int writes = 0;
    rig.tap.onWrite = [&](const uint8_t*, std::size_t) {
        if (++writes == 7)
            p.requestCancel();
    };
    ASSERT_TRUE(p.programAll());
    rig.tap.onWrite = nullptr;
    const SimChipState after = rig.sim.chipState();
    // Method 1 erases from configuration space before the first word, so the configuration
    // word and user IDs are blank there; no method writes them after a cancel.
    const bool erasedFirst = p.programMethod == 1;
    EXPECT_EQ(after.configWord, erasedFirst ? rig.configMask1() : before.configWord);
    EXPECT_EQ(after.userIds[0], erasedFirst ? 0x3FFF : before.userIds[0]);
    EXPECT_LE(p.progressPosition.load(), 3u * static_cast<uint32_t>(std::max(1, p.blockWords)) + 8u);
    // Entry and exit of the program phase, then of each later phase: nothing but framing.
    const int framing = 2 + (p.eepromByteCount != 0 ? 2 : 0) + 2;
    EXPECT_LE(writes, 7 + 1 + framing);
    // Words past the cancel point were never sent.
    EXPECT_EQ(after.programWords[100], before.programWords[100]);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, SimDevice, testing::ValuesIn(catalogueDeviceNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

} // namespace
