// SPDX-License-Identifier: MIT
#include "SimRig.h"

#include <gtest/gtest.h>

namespace {

// Facts from the parts' programming documents, written out here on their own so that a slip in
// the simulator's table shows up against them. socket: the selection code that reaches it;
// blankConfig: a fresh part's configuration word (unimplemented bits 0). How protection and
// each erase behave is checked per catalogue device in tests/programmer.
struct Part {
    const char* name;
    uint16_t id, idMask;
    uint32_t words, eeprom;
    uint8_t socket;
    bool vppFirst;
    uint16_t blankConfig;
};

const Part kParts[] = {
    {"PIC16F84A", 0x0560, 0x3FE0, 1024, 64, 0x07, false, 0x3FFF},
    {"PIC16F627A", 0x1040, 0x3FE0, 1024, 128, 0x07, true, 0x21FF},
    {"PIC16F628A", 0x1060, 0x3FE0, 2048, 128, 0x07, true, 0x21FF},
    {"PIC16F648A", 0x1100, 0x3FE0, 4096, 256, 0x07, true, 0x21FF},
    {"PIC16F870", 0x0D00, 0x3FE0, 2048, 64, 0x08, false, 0x3BFF},
    {"PIC16F871", 0x0D20, 0x3FE0, 2048, 64, 0x08, false, 0x3BFF},
    {"PIC16F877", 0x09A0, 0x3FE0, 8192, 256, 0x08, false, 0x3BFF},
    {"PIC16F873A", 0x0E40, 0x3FF0, 4096, 128, 0x08, false, 0x2FCF},
    {"PIC16F874A", 0x0E60, 0x3FF0, 4096, 128, 0x08, false, 0x2FCF},
    {"PIC16F876A", 0x0E00, 0x3FF0, 8192, 256, 0x08, false, 0x2FCF},
    {"PIC16F877A", 0x0E20, 0x3FF0, 8192, 256, 0x08, false, 0x2FCF},
    {"PIC16F88", 0x0760, 0x3FF0, 4096, 256, 0x07, true, 0x3FFF},
    {"PIC16F819", 0x04E0, 0x3FF0, 2048, 256, 0x07, false, 0x3FFF},
    {"PIC12F629", 0x0F80, 0x3FE0, 1024, 128, 0x07, true, 0x21FF},
    {"PIC12F675", 0x0FC0, 0x3FE0, 1024, 128, 0x07, true, 0x21FF},
    {"PIC16F630", 0x10C0, 0x3FE0, 1024, 128, 0x09, true, 0x21FF},
    {"PIC16F676", 0x10E0, 0x3FE0, 1024, 128, 0x09, true, 0x21FF},
    {"PIC16F628", 0x07C0, 0x3FE0, 2048, 128, 0x07, true, 0x3DFF},
};

void PrintTo(const Part& p, std::ostream* os) { *os << p.name; }

class EveryPart : public testing::TestWithParam<Part> {
protected:
    SimRig rig{GetParam().name};
    const Part& part = GetParam();
};

TEST(SimChipTable, HoldsExactlyTheEighteenParts) {
    EXPECT_EQ(simChipTable().size(), std::size(kParts));
}

TEST_P(EveryPart, AnswersItsIdentityOnlyWhenPoweredInTheOrderItAcceptsAtItsPosition) {
    EXPECT_EQ(rig.socketCode, part.socket);
    rig.run(Script().control(rig.socketCode).control(0x00).control(0x02).control(0x0B).control(0x05).control(0x0A)
                .wait(0x00FF).control(0x04), 10);
    EXPECT_EQ(rig.sim.chipRefusedEntry(), part.vppFirst);
    EXPECT_EQ(rig.sim.chipInProgrammingMode(), !part.vppFirst);
    EXPECT_EQ(rig.rawRead(), part.vppFirst ? 0xFFFF : 0x7FFE);
    // VPP before VDD works for every part, and a refusal does not stick.
    rig.reenter();
    EXPECT_TRUE(rig.sim.chipInProgrammingMode());
    EXPECT_EQ(rig.rawRead(), 0x7FFE);
    rig.loadConfiguration();
    rig.step(6);
    const uint16_t word = rig.readProgram();
    EXPECT_EQ(word & part.idMask, part.id);
    EXPECT_NE(word & ~part.idMask & 0x3FFF, 0) << "a revision in the low bits";
    EXPECT_EQ(word, rig.sim.chipState().deviceIdWord);
    rig.step(1);
    EXPECT_EQ(rig.readProgram(), part.blankConfig);
    rig.step(0x2000); // round configuration space once
    EXPECT_EQ(rig.readProgram(), part.blankConfig);
    // Nothing answers without power, from the wrong position, or with the DC-DC converter off.
    rig.leave();
    EXPECT_EQ(rig.rawRead(), 0xFFFF);
    rig.run(Script().control(part.socket == 0x07 ? 0x08 : 0x07).vppFirstEntry(), 10);
    EXPECT_EQ(rig.rawRead(), 0xFFFF);
    rig.run(Script().exit().control(rig.socketCode).control(0x00).control(0x03).wait(0x0001).control(0x0A).control(0x04), 10);
    EXPECT_FALSE(rig.sim.chipInProgrammingMode());
    EXPECT_EQ(rig.rawRead(), 0xFFFF);
}

TEST_P(EveryPart, MemoriesWrapAtTheirSizeAndACycleCutShortCorruptsItsWord) {
    rig.enter();
    rig.write(0x02, 0x1234);
    rig.step(part.words - 2); // the last word may hold a calibration
    EXPECT_EQ(rig.readProgram(), 0x3FFF) << "far words still blank";
    rig.step(2);
    EXPECT_EQ(rig.readProgram(), 0x1234) << "address " << part.words << " is word 0 again";
    rig.step(1);
    rig.run(Script().load(0x02, 0x0000).cmd(0x08).waitUs(300).read(0x04));
    rig.step(1);
    rig.run(Script().load(0x02, 0x0000).cmd(0x08).waitUs(10000).read(0x04));
    rig.reenter();
    rig.step(1);
    const uint16_t word = rig.readProgram();
    EXPECT_NE(word, 0x0000) << "some bits were never cleared";
    EXPECT_NE(word, 0x3FFF) << "but the cycle did start";
    rig.step(1);
    EXPECT_EQ(rig.readProgram(), 0x0000) << "the same cycle given its time";
    rig.step(1);
    rig.write(0x03, 0xA5, 0x08, 50000);
    EXPECT_EQ(rig.readData(), 0xA5);
    rig.step(part.eeprom);
    EXPECT_EQ(rig.readData(), 0xA5) << "data memory uses the low address bits";
    rig.step(1);
    EXPECT_EQ(rig.readData(), 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Parts, EveryPart, testing::ValuesIn(kParts),
                         [](const testing::TestParamInfo<Part>& p) { return std::string(p.param.name); });

TEST(SimChipRules, SecondWriteReplacesOrOnlyClearsBits) {
    // 0x3C3C on a blank word, then 0x0FF0 over it; a 0x18 ends with the chip's own command.
    const struct {
        const char* device;
        uint8_t begin;
        uint16_t expected;
    } cases[] = {
        // Erase-then-program: 0x08 replaces the word.
        {"PIC16F84A", 0x08, 0x0FF0}, {"PIC16F877", 0x08, 0x0FF0}, {"PIC16F628", 0x08, 0x0FF0},
        // Programming only clears bits.
        {"PIC16F84A", 0x18, 0x0C30}, {"PIC16F870", 0x18, 0x0C30}, {"PIC16F628A", 0x08, 0x0C30},
        {"PIC12F675", 0x08, 0x0C30}, {"PIC12F629", 0x18, 0x0C30}, {"PIC16F877A", 0x18, 0x0C30},
        {"PIC16F877A", 0x08, 0x0C30}, {"PIC16F88", 0x18, 0x0C30},
        // The 16F62xA does not know 0x18: nothing is written.
        {"PIC16F648A", 0x18, 0x3FFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.device << " " << std::hex << int(c.begin));
        SimRig rig(c.device);
        rig.enter();
        rig.step(9);
        const uint8_t end = c.begin == 0x18 ? simFamilyTraits(rig.info->family).endCommand : 0;
        rig.write(0x02, 0x3C3C, c.begin, 20000, end);
        rig.write(0x02, 0x0FF0, c.begin, 20000, end);
        EXPECT_EQ(rig.readProgram(), c.expected);
    }
}

TEST(SimChipRules, ProgrammingOnlyNeedsTheChipsOwnEndCommand) {
    // 12F629 ends with 0x0A (one source only, see the chip table); an 0x17 is not its command
    // and the cycle runs on to the next one.
    SimRig rig("PIC12F629");
    rig.enter();
    rig.run(Script().load(0x02, 0x0123).cmd(0x18).waitUs(100).cmd(0x17).waitUs(3000).cmd(0x0A), 10);
    EXPECT_EQ(rig.readProgram(), 0x0123);
    // Ended by its own command too early: corrupted.
    rig.step(1);
    rig.run(Script().load(0x02, 0x0123).cmd(0x18).waitUs(100).cmd(0x0A), 10);
    EXPECT_NE(rig.readProgram(), 0x0123);
}

TEST(SimChipRules, RowLatchesWriteEightWordsAtOnce) {
    SimRig rig("PIC16F877A");
    rig.enter();
    rig.step(8);
    Script load;
    for (uint16_t i = 0; i < 8; ++i) (i ? load.cmd(0x06) : load).load(0x02, uint16_t(0x100 + i));
    rig.run(load, 64);
    rig.run(Script().cmd(0x18).waitUs(8000).cmd(0x17).cmd(0x06), 10);
    const SimChipState s = rig.sim.chipState();
    for (uint16_t i = 0; i < 8; ++i) EXPECT_EQ(s.programWords[8 + i], 0x100 + i) << i;
    EXPECT_EQ(s.programWords[7], 0x3FFF) << "row before untouched";
    EXPECT_EQ(s.programWords[16], 0x3FFF) << "row after untouched";
}

TEST(SimChipRules, OnlySingleLatchPartsProgramLoadConfigurationData) {
    // Load Configuration, Begin, End: a multi-latch part loads nothing and its user IDs stay
    // blank; a row of four loaded IDs then programs all four.
    for (const char* device : {"PIC16F877A", "PIC16F819", "PIC16F88"}) {
        SimRig rig(device);
        rig.enter();
        rig.run(Script().load(0x00, 0x0000).cmd(0x08).wait(0x0000).cmd(0x17), 10);
        rig.run(Script().load(0x02, 0x1).cmd(0x06).load(0x02, 0x2).cmd(0x06).load(0x02, 0x3).cmd(0x06).load(0x02, 0x4), 10);
        rig.run(Script().cmd(0x18).waitUs(8000).cmd(0x17).cmd(0x06), 10);
        const SimChipState s = rig.sim.chipState();
        EXPECT_EQ(std::vector<uint16_t>(s.userIds, s.userIds + 4), (std::vector<uint16_t>{1, 2, 3, 4})) << device;
        EXPECT_EQ(s.configWord, findSimChip(device)->configMask) << device;
    }
    SimRig rig("PIC16F84A");
    rig.enter();
    rig.write(0x00, 0x0005, 0x08, 10000);
    EXPECT_EQ(rig.sim.chipState().userIds[0], 0x0005);
}

TEST(SimChipRules, EachEraseClearsWhatItsCommandCovers) {
    const Script armedSetup = Script().load(0x00, 0x3FFF).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06)
                                  .cmd(0x06).cmd(0x01).cmd(0x07).cmd(0x08).waitUs(16000).cmd(0x01).cmd(0x07);
    const struct {
        const char* device;
        Script script; // sent after entry, address 0
        bool program, data, config;
    } cases[] = {
        {"PIC16F628A", Script().cmd(0x09).waitUs(16000), true, false, false},
        {"PIC16F628A", Script().cmd(0x0B).waitUs(16000), false, true, false},
        {"PIC16F628A", Script().load(0x00, 0x3FFF).cmd(0x09).waitUs(16000), true, false, true},
        {"PIC12F675", Script().load(0x00, 0x3FFF).cmd(0x09).waitUs(16000).cmd(0x0B).waitUs(16000), true, true, true},
        {"PIC16F877A", Script().cmd(0x1F).waitUs(16000), true, true, true},
        {"PIC16F819", Script().cmd(0x1F).waitUs(16000), true, true, true},
        // Armed erases: 0x09 alone does nothing, 0x08 after it erases.
        {"PIC16F84A", Script().cmd(0x09).waitUs(16000), false, false, false},
        {"PIC16F84A", Script().load(0x02, 0x3FFF).cmd(0x09).cmd(0x08).waitUs(16000), true, false, false},
        {"PIC16F84A", Script().load(0x03, 0xFF).cmd(0x0B).cmd(0x08).waitUs(16000), false, true, false},
        {"PIC16F877", armedSetup, true, false, true},
        // Chip erase is not a 16F62xA command.
        {"PIC16F648A", Script().cmd(0x1F).waitUs(16000), false, false, false},
        // The calibration word goes with program memory, the BG bits only from configuration space.
        {"PIC12F629", Script().cmd(0x09).waitUs(10000), true, false, false},
        {"PIC16F630", Script().load(0x00, 0x3FFF).cmd(0x09).waitUs(10000), true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.device << " " << &c - cases);
        SimRig rig(c.device);
        SimChipState s = rig.sim.chipState();
        s.programWords[1] = 0x0001;
        s.eepromBytes[1] = 0x01;
        s.userIds[1] = 0x0001;
        s.configWord &= 0x3FF7; // PWRTEn on: a configuration bit that is not protection
        ASSERT_TRUE(rig.sim.setChipState(s));
        rig.enter();
        rig.run(c.script, 10);
        rig.leave();
        const SimChipState after = rig.sim.chipState();
        EXPECT_EQ(after.programWords[1] == 0x3FFF, c.program);
        EXPECT_EQ(after.eepromBytes[1] == 0xFF, c.data);
        EXPECT_EQ(after.userIds[1] == 0x3FFF, c.config);
        EXPECT_EQ((after.configWord & 0x0008) != 0, c.config);
        if (rig.info->hasCalibration) {
            EXPECT_EQ(after.programWords[0x3FF] == 0x3FFF, c.program);
            EXPECT_EQ(after.configWord & 0x3000, c.config ? 0x3000 : 0x2000);
            EXPECT_EQ(after.factoryCalibrationWord, s.factoryCalibrationWord) << "the factory value is remembered";
        }
    }
}

TEST(SimChipRules, CalibratedPartsLeaveTheFactoryWithARetlwAndBgBitsSetBySeed) {
    SimConfig other;
    other.faults.seed = 99;
    for (const char* device : {"PIC12F629", "PIC12F675", "PIC16F630", "PIC16F676"}) {
        const SimChipState factory = SimRig(device).sim.chipState();
        EXPECT_EQ(factory.factoryCalibrationWord & 0xFF00, 0x3400) << device;
        EXPECT_EQ(factory.programWords[0x3FF], factory.factoryCalibrationWord) << device;
        EXPECT_EQ(factory.factoryCalibrationBits, 0x2000) << device;
        EXPECT_EQ(factory.configWord & 0x3000, 0x2000) << device;
        // Seeds 1 and 99 happen not to collide on these parts.
        EXPECT_NE(SimRig(device, other).sim.chipState().factoryCalibrationWord, factory.factoryCalibrationWord) << device;
    }
}

TEST(SimChipRules, PartialCodeProtectionCoversTheUpperRange) {
    SimRig rig("PIC16F877");
    SimChipState s = rig.sim.chipState();
    s.programWords[0] = 0x0AAA;
    s.programWords[4096] = 0x0BBB;
    s.configWord = 0x1BDF; // CP1:CP0 = 01 in both copies: the upper half
    ASSERT_TRUE(rig.sim.setChipState(s));
    rig.enter();
    EXPECT_EQ(rig.readProgram(), 0x0AAA);
    rig.step(4096);
    EXPECT_EQ(rig.readProgram(), 0);
    rig.write(0x02, 0x0123);
    EXPECT_EQ(rig.sim.chipState().programWords[4096], 0x0BBB) << "a protected word takes no write";
}

TEST(SimChipRules, EmptySocketReadsAllOnes) {
    SimulatedDriver sim(SimConfig{});
    Link link(sim);
    EXPECT_EQ(link.exchange(Script().control(0x07).vppFirstEntry().read(0x04).read(0x05), 8),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST(SimChipRules, FaultsOfTheChip) {
    // noprogram: writes to that one word do not take.
    SimConfig config;
    config.faults.noProgramAddress = 2;
    SimRig rig("PIC16F628A", config);
    rig.enter();
    for (int i = 0; i < 4; ++i) {
        rig.write(0x02, 0x0100);
        rig.step(1);
    }
    const SimChipState s = rig.sim.chipState();
    EXPECT_EQ(std::vector<uint16_t>(s.programWords.begin(), s.programWords.begin() + 4),
              (std::vector<uint16_t>{0x0100, 0x0100, 0x3FFF, 0x0100}));

    // slow: a 4 ms word needs longer than the 5 ms given once 1.6 times slower.
    for (double slow : {1.0, 1.6}) {
        config = {};
        config.faults.slowFactor = slow;
        SimRig slowRig("PIC16F628A", config);
        slowRig.enter();
        slowRig.write(0x02, 0x0000, 0x08, 5000);
        slowRig.step(1);
        EXPECT_EQ(slowRig.sim.chipState().programWords[0] == 0x0000, slow < 1.25) << slow;
    }

    // tray: each "next chip" brings a blank chip; only the failing one keeps its word.
    config = {};
    config.trayCount = 3;
    config.trayFail = 2;
    SimRig tray("PIC16F628A", config);
    std::string took;
    for (int chip = 1; chip <= 3; ++chip) {
        EXPECT_EQ(tray.sim.trayChip(), chip);
        EXPECT_EQ(tray.sim.chipState().programWords[0], 0x3FFF) << "chip " << chip << " is fresh";
        tray.enter();
        tray.write(0x02, 0x0100);
        took += tray.sim.chipState().programWords[0] == 0x0100 ? '+' : '-';
        tray.leave();
        EXPECT_EQ(tray.sim.nextTrayChip(), chip < 3) << chip;
    }
    EXPECT_EQ(took, "+-+");
    EXPECT_EQ(tray.sim.trayChip(), 0);
    EXPECT_FALSE(tray.sim.chipState().present) << "an empty position once the tray is used up";
}

} // namespace
