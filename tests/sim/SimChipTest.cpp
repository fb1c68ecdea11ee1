// SPDX-License-Identifier: MIT
#include "SimRig.h"

namespace {

// Sizes and entry order from the parts' programming documents, written out here on their own so
// that a slip in the simulator's table shows up against them; every part's identity is checked
// against the catalogue in tests/programmer. A part answers only once powered the way it
// accepts (VPP before VDD always works, and a refusal does not stick), never without power or
// with the DC-DC converter off (from the wrong position: the session's empty socket). Its
// memories wrap at their size, and a cycle cut short corrupts its word.
TEST(SimChipRules, EveryPartsEntryOrderSizesAndCutCycles) {
    const struct {
        const char* name;
        uint32_t words, eeprom;
        bool vppFirst;
    } parts[] = {
        {"PIC16F84A", 1024, 64, false},   {"PIC16F627A", 1024, 128, true}, {"PIC16F628A", 2048, 128, true},
        {"PIC16F648A", 4096, 256, true},  {"PIC16F870", 2048, 64, false},  {"PIC16F871", 2048, 64, false},
        {"PIC16F877", 8192, 256, false},  {"PIC16F873A", 4096, 128, false}, {"PIC16F874A", 4096, 128, false},
        {"PIC16F876A", 8192, 256, false}, {"PIC16F877A", 8192, 256, false}, {"PIC16F88", 4096, 256, true},
        {"PIC16F819", 2048, 256, false},  {"PIC12F629", 1024, 128, true},  {"PIC12F675", 1024, 128, true},
        {"PIC16F630", 1024, 128, true},   {"PIC16F676", 1024, 128, true},  {"PIC16F628", 2048, 128, true},
    };
    EXPECT_EQ(simChipTable().size(), std::size(parts));
    for (const auto& part : parts) {
        SCOPED_TRACE(part.name);
        SimRig rig(part.name);
        rig.run(Script().control(rig.socketCode).control(0x00).control(0x02).control(0x0B).control(0x05).control(0x0A)
                    .wait(0x00FF).control(0x04), 10);
        EXPECT_EQ(rig.sim.chipRefusedEntry(), part.vppFirst);
        EXPECT_EQ(rig.rawRead(), part.vppFirst ? 0xFFFF : 0x7FFE);
        rig.reenter();
        EXPECT_TRUE(rig.sim.chipInProgrammingMode());

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
        rig.loadConfiguration();
        rig.step(7);
        const uint16_t config = rig.readProgram();
        rig.step(0x2000);
        EXPECT_EQ(rig.readProgram(), config) << "configuration space wraps too";

        rig.leave();
        rig.run(Script().control(rig.socketCode).control(0x00).control(0x03).wait(0x0001).control(0x0A).control(0x04), 10);
        EXPECT_FALSE(rig.sim.chipInProgrammingMode()) << "not with the DC-DC converter off";
        EXPECT_EQ(rig.rawRead(), 0xFFFF);
    }
}

TEST(SimChipRules, SecondWriteReplacesOrOnlyClearsBits) {
    // 0x3C3C on a blank word, then 0x0FF0 over it; a 0x18 ends with the chip's own command.
    const struct {
        const char* device;
        uint8_t begin;
        uint16_t expected;
    } cases[] = {
        // Erase-then-program: 0x08 replaces the word.
        {"PIC16F628", 0x08, 0x0FF0},
        // Programming only clears bits.
        {"PIC16F84A", 0x18, 0x0C30}, {"PIC12F629", 0x18, 0x0C30},
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
        // Armed erases: 0x09 alone does nothing, 0x08 after it erases.
        {"PIC16F84A", Script().cmd(0x09).waitUs(16000), false, false, false},
        {"PIC16F84A", Script().load(0x02, 0x3FFF).cmd(0x09).cmd(0x08).waitUs(16000), true, false, false},
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

} // namespace
