#include "SimRig.h"

#include <gtest/gtest.h>

namespace {

// Facts from the parts' programming specifications, written out here on their own so that a
// slip in the simulator's table shows up against them.
struct Part {
    const char* name;
    uint16_t id;
    uint16_t idMask;
    uint32_t words;
    uint32_t eeprom;
    uint8_t socket; // selection code that reaches it: 0x07 8/18, 0x08 28/40, 0x09 ICSP
    bool vppFirst;
    uint16_t blankConfig; // a fresh part's configuration word, unimplemented bits 0
    uint16_t erasedConfig; // after an erase that includes it (calibration bits lost)
    uint16_t protectBits;  // CP and CPD bits: all of them at 0 protects everything
    bool cpd;
};

const Part kParts[] = {
    {"PIC16F84A", 0x0560, 0x3FE0, 1024, 64, 0x07, false, 0x3FFF, 0x3FFF, 0x3FF0, false},
    {"PIC16F627A", 0x1040, 0x3FE0, 1024, 128, 0x07, true, 0x21FF, 0x21FF, 0x2100, true},
    {"PIC16F628A", 0x1060, 0x3FE0, 2048, 128, 0x07, true, 0x21FF, 0x21FF, 0x2100, true},
    {"PIC16F648A", 0x1100, 0x3FE0, 4096, 256, 0x07, true, 0x21FF, 0x21FF, 0x2100, true},
    {"PIC16F870", 0x0D00, 0x3FE0, 2048, 64, 0x08, false, 0x3BFF, 0x3BFF, 0x3130, true},
    {"PIC16F871", 0x0D20, 0x3FE0, 2048, 64, 0x08, false, 0x3BFF, 0x3BFF, 0x3130, true},
    {"PIC16F877", 0x09A0, 0x3FE0, 8192, 256, 0x08, false, 0x3BFF, 0x3BFF, 0x3130, true},
    {"PIC16F873A", 0x0E40, 0x3FF0, 4096, 128, 0x08, false, 0x2FCF, 0x2FCF, 0x2100, true},
    {"PIC16F874A", 0x0E60, 0x3FF0, 4096, 128, 0x08, false, 0x2FCF, 0x2FCF, 0x2100, true},
    {"PIC16F876A", 0x0E00, 0x3FF0, 8192, 256, 0x08, false, 0x2FCF, 0x2FCF, 0x2100, true},
    {"PIC16F877A", 0x0E20, 0x3FF0, 8192, 256, 0x08, false, 0x2FCF, 0x2FCF, 0x2100, true},
    {"PIC16F88", 0x0760, 0x3FF0, 4096, 256, 0x07, true, 0x3FFF, 0x3FFF, 0x2100, true},
    {"PIC16F819", 0x04E0, 0x3FF0, 2048, 256, 0x07, false, 0x3FFF, 0x3FFF, 0x2100, true},
    {"PIC12F629", 0x0F80, 0x3FE0, 1024, 128, 0x07, true, 0x21FF, 0x31FF, 0x0180, true},
    {"PIC12F675", 0x0FC0, 0x3FE0, 1024, 128, 0x07, true, 0x21FF, 0x31FF, 0x0180, true},
    {"PIC16F630", 0x10C0, 0x3FE0, 1024, 128, 0x09, true, 0x21FF, 0x31FF, 0x0180, true},
    {"PIC16F676", 0x10E0, 0x3FE0, 1024, 128, 0x09, true, 0x21FF, 0x31FF, 0x0180, true},
    {"PIC16F628", 0x07C0, 0x3FE0, 2048, 128, 0x07, true, 0x3DFF, 0x3DFF, 0x3D00, true},
};

std::string partName(const testing::TestParamInfo<Part>& p) { return p.param.name; }
void PrintTo(const Part& p, std::ostream* os) { *os << p.name; }

class EveryPart : public testing::TestWithParam<Part> {
protected:
    SimRig rig{GetParam().name};
    const Part& part = GetParam();
};

TEST(SimChipTable, HoldsExactlyTheEighteenParts) {
    ASSERT_EQ(simChipTable().size(), std::size(kParts));
    for (const Part& p : kParts) EXPECT_NE(findSimChip(p.name), nullptr) << p.name;
    EXPECT_NE(findSimChip("pic16f628a"), nullptr);
    EXPECT_EQ(findSimChip("PIC16F84"), nullptr); // no device ID: not simulated
}

TEST_P(EveryPart, AnswersItsDeviceIdWithARevision) {
    EXPECT_EQ(rig.socketCode, part.socket);
    rig.enter();
    rig.loadConfiguration();
    rig.step(6);
    const uint16_t word = rig.readProgram();
    EXPECT_EQ(word & part.idMask, part.id);
    EXPECT_NE(word & ~part.idMask & 0x3FFF, 0) << "a revision in the low bits";
    EXPECT_EQ(word, rig.sim.chipState().deviceIdWord);
}

TEST_P(EveryPart, EntersOnlyInTheOrderItAccepts) {
    rig.enterVddFirst();
    if (part.vppFirst) {
        EXPECT_TRUE(rig.sim.chipRefusedEntry());
        EXPECT_FALSE(rig.sim.chipInProgrammingMode());
        const auto answer = rig.rawRead(0x04);
        EXPECT_EQ(answer[0], 0xFF);
        EXPECT_EQ(answer[1], 0xFF);
    } else {
        EXPECT_TRUE(rig.sim.chipInProgrammingMode());
        EXPECT_EQ(rig.readProgram(), 0x3FFF);
    }
    // VPP before VDD works for every part, and the refusal does not stick.
    rig.reenter();
    EXPECT_TRUE(rig.sim.chipInProgrammingMode());
    EXPECT_EQ(rig.readProgram(), 0x3FFF);
}

TEST_P(EveryPart, FreshConfigurationReadsItsImplementedBits) {
    rig.enter();
    rig.loadConfiguration();
    rig.step(7);
    EXPECT_EQ(rig.readProgram(), part.blankConfig);
}

TEST_P(EveryPart, ProgramSizeShowsInTheAddressWrap) {
    rig.enter();
    rig.writeProgram(0x1234);
    rig.step(part.words - 2); // the last word may hold a calibration
    EXPECT_EQ(rig.readProgram(), 0x3FFF) << "far words still blank";
    rig.step(2);
    EXPECT_EQ(rig.readProgram(), 0x1234) << "address " << part.words << " is word 0 again";
}

TEST_P(EveryPart, DataMemoryUsesTheLowAddressBits) {
    rig.enter();
    rig.step(3);
    rig.writeData(0xA5, 0x08, 50000);
    EXPECT_EQ(rig.readData(), 0xA5);
    rig.step(part.eeprom);
    EXPECT_EQ(rig.readData(), 0xA5);
    rig.step(1);
    EXPECT_EQ(rig.readData(), 0xFF);
}

TEST_P(EveryPart, BeginProgrammingWritesAWordThatSurvivesPowerOff) {
    rig.enter();
    rig.step(5);
    rig.writeProgram(0x2ABC);
    EXPECT_EQ(rig.readProgram(), 0x2ABC);
    rig.reenter();
    rig.step(5);
    EXPECT_EQ(rig.readProgram(), 0x2ABC);
    EXPECT_EQ(rig.sim.chipState().programWords[5], 0x2ABC);
}

TEST_P(EveryPart, ACycleCutShortLeavesTheWordCorrupted) {
    rig.enter();
    rig.run(Script().load(0x02, 0x0000).cmd(0x08).waitUs(300).read(0x04));
    rig.reenter();
    const uint16_t word = rig.readProgram();
    EXPECT_NE(word, 0x0000) << "some bits were never cleared";
    EXPECT_NE(word, 0x3FFF) << "but the cycle did start";
}

TEST_P(EveryPart, TheSameCycleGivenItsTimeIsFine) {
    rig.enter();
    rig.run(Script().load(0x02, 0x0000).cmd(0x08).waitUs(10000).read(0x04));
    rig.reenter();
    EXPECT_EQ(rig.readProgram(), 0x0000);
}

TEST_P(EveryPart, NothingAnswersFromTheWrongSocketOrWithoutPower) {
    const uint8_t wrong = part.socket == 0x07 ? 0x08 : 0x07;
    rig.run(Script().control(wrong).vppFirstEntry(), 10);
    EXPECT_EQ(rig.rawRead(0x04)[0], 0xFF);
    EXPECT_EQ(rig.rawRead(0x04)[1], 0xFF);
    rig.enter();
    rig.leave();
    const auto answer = rig.rawRead(0x04);
    EXPECT_EQ(answer[0], 0xFF);
    EXPECT_EQ(answer[1], 0xFF);
}

TEST_P(EveryPart, ProtectedMemoryReadsZeroAndTheRightEraseClearsIt) {
    SimChipState s = rig.sim.chipState();
    s.programWords[0] = 0x1111;
    s.eepromBytes[0] = 0x22;
    // Everything protected: every CP bit and CPD at 0.
    s.configWord = static_cast<uint16_t>(s.configWord & ~part.protectBits);
    ASSERT_TRUE(rig.sim.setChipState(s));
    rig.enter();
    EXPECT_EQ(rig.readProgram(), 0);
    if (part.cpd) {
        EXPECT_EQ(rig.readData(), 0);
    }

    // An erase at address 0 leaves a protected part protected.
    rig.run(Script().cmd(0x09).waitUs(20000).cmd(0x08).waitUs(20000), 10);
    rig.reenter();
    EXPECT_EQ(rig.readProgram(), 0);

    // Each family's way out of protection.
    const auto& t = simFamilyTraits(rig.info->family);
    if (t.knows[0x1F]) {
        rig.run(Script().cmd(0x1F).waitUs(20000), 10);
    } else if (t.setupErase) {
        rig.loadConfiguration();
        rig.step(7);
        rig.run(Script().cmd(0x01).cmd(0x07).cmd(0x08).waitUs(20000).cmd(0x01).cmd(0x07), 10);
    } else {
        rig.loadConfiguration();
        rig.run(Script().cmd(0x09).waitUs(20000), 10);
    }
    rig.reenter();
    EXPECT_EQ(rig.readProgram(), 0x3FFF);
    EXPECT_EQ(rig.readData(), 0xFF);
    const SimChipState after = rig.sim.chipState();
    EXPECT_EQ(after.programWords[0], 0x3FFF);
    EXPECT_EQ(after.eepromBytes[0], 0xFF);
    EXPECT_EQ(after.configWord, part.erasedConfig) << "configuration erased";
}

INSTANTIATE_TEST_SUITE_P(Parts, EveryPart, testing::ValuesIn(kParts), partName);

// ---- Family rules, one representative or more each -------------------------------------------

struct WriteRule {
    const char* device;
    uint8_t begin;        // 0x08 or 0x18
    uint16_t first;       // written on a blank word
    uint16_t second;      // then written over it
    uint16_t expected;    // what stays
};

class WriteRules : public testing::TestWithParam<WriteRule> {};

TEST_P(WriteRules, SecondWriteReplacesOrOnlyClearsBits) {
    const WriteRule& r = GetParam();
    SimRig rig(r.device);
    rig.enter();
    rig.step(9);
    const uint8_t end = r.begin == 0x18 ? rig.endCommand() : 0;
    rig.writeProgram(r.first, r.begin, 20000, end);
    rig.writeProgram(r.second, r.begin, 20000, end);
    EXPECT_EQ(rig.readProgram(), r.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Families, WriteRules,
    testing::Values(
        // Erase-then-program: 0x08 replaces the word.
        WriteRule{"PIC16F84A", 0x08, 0x3C3C, 0x0FF0, 0x0FF0}, WriteRule{"PIC16F877", 0x08, 0x3C3C, 0x0FF0, 0x0FF0},
        WriteRule{"PIC16F628", 0x08, 0x3C3C, 0x0FF0, 0x0FF0},
        // Programming only clears bits.
        WriteRule{"PIC16F84A", 0x18, 0x3C3C, 0x0FF0, 0x0C30}, WriteRule{"PIC16F870", 0x18, 0x3C3C, 0x0FF0, 0x0C30},
        WriteRule{"PIC16F628A", 0x08, 0x3C3C, 0x0FF0, 0x0C30}, WriteRule{"PIC12F675", 0x08, 0x3C3C, 0x0FF0, 0x0C30},
        WriteRule{"PIC12F629", 0x18, 0x3C3C, 0x0FF0, 0x0C30}, WriteRule{"PIC16F877A", 0x18, 0x3C3C, 0x0FF0, 0x0C30},
        WriteRule{"PIC16F877A", 0x08, 0x3C3C, 0x0FF0, 0x0C30}, WriteRule{"PIC16F88", 0x18, 0x3C3C, 0x0FF0, 0x0C30},
        // The 16F62xA does not know 0x18: nothing is written.
        WriteRule{"PIC16F648A", 0x18, 0x3C3C, 0x0FF0, 0x3FFF}),
    [](const auto& p) { return std::string(p.param.device) + "_" + (p.param.begin == 0x08 ? "08" : "18"); });

TEST(SimChipRules, ProgrammingOnlyNeedsTheChipsOwnEndCommand) {
    // 12F629 ends with 0x0A; an 0x17 is not its command and the cycle runs on to the next one.
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
    for (uint16_t i = 0; i < 8; ++i) {
        load.load(0x02, static_cast<uint16_t>(0x100 + i));
        if (i < 7) load.cmd(0x06);
    }
    rig.run(load, 64);
    rig.run(Script().cmd(0x18).waitUs(8000).cmd(0x17).cmd(0x06), 10);
    rig.reenter();
    rig.step(8);
    for (uint16_t i = 0; i < 8; ++i) {
        EXPECT_EQ(rig.readProgram(), 0x100 + i) << i;
        rig.step(1);
    }
    EXPECT_EQ(rig.readProgram(), 0x3FFF);
    rig.reenter();
    rig.step(7);
    EXPECT_EQ(rig.readProgram(), 0x3FFF) << "row before untouched";
}

TEST(SimChipRules, MultiLatchPartsIgnoreLoadConfigurationData) {
    // Load Configuration, Begin, End: nothing loaded, so the user IDs stay blank; a row of four
    // loaded IDs then programs all four.
    for (const char* device : {"PIC16F877A", "PIC16F819", "PIC16F88"}) {
        SimRig rig(device);
        rig.enter();
        rig.run(Script().load(0x00, 0x0000).cmd(0x08).wait(0x0000).cmd(0x17), 10);
        rig.run(Script().load(0x02, 0x1).cmd(0x06).load(0x02, 0x2).cmd(0x06).load(0x02, 0x3).cmd(0x06).load(0x02, 0x4), 10);
        rig.run(Script().cmd(0x18).waitUs(8000).cmd(0x17).cmd(0x06), 10);
        const SimChipState s = rig.sim.chipState();
        EXPECT_EQ(s.userIds[0], 1) << device;
        EXPECT_EQ(s.userIds[1], 2) << device;
        EXPECT_EQ(s.userIds[2], 3) << device;
        EXPECT_EQ(s.userIds[3], 4) << device;
        EXPECT_EQ(s.configWord, findSimChip(device)->configMask) << device;
    }
}

TEST(SimChipRules, SingleLatchPartsProgramLoadConfigurationData) {
    SimRig rig("PIC16F84A");
    rig.enter();
    rig.loadConfiguration(0x0005);
    rig.cycle(0x08, 10000);
    EXPECT_EQ(rig.sim.chipState().userIds[0], 0x0005);
}

struct EraseCase {
    const char* device;
    Script script;     // sent after entry, address 0
    bool program, data, config;
};

class EraseScopes : public testing::TestWithParam<EraseCase> {};

TEST_P(EraseScopes, EraseWhatTheCommandCovers) {
    const EraseCase& c = GetParam();
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
}

const EraseCase kEraseCases[] = {
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
    {"PIC16F877", Script().load(0x00, 0x3FFF).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06).cmd(0x06)
                      .cmd(0x01).cmd(0x07).cmd(0x08).waitUs(16000).cmd(0x01).cmd(0x07),
     true, false, true},
    // Chip erase is not a 16F62xA command.
    {"PIC16F648A", Script().cmd(0x1F).waitUs(16000), false, false, false},
};

INSTANTIATE_TEST_SUITE_P(Families, EraseScopes, testing::ValuesIn(kEraseCases));

class Calibrated : public testing::TestWithParam<const char*> {};

TEST_P(Calibrated, BulkEraseDestroysTheCalibrationWordAndBits) {
    SimRig rig(GetParam());
    const SimChipState factory = rig.sim.chipState();
    EXPECT_EQ(factory.factoryCalibrationWord & 0xFF00, 0x3400) << "a RETLW";
    EXPECT_EQ(factory.factoryCalibrationBits, 0x2000);
    rig.enter();
    rig.step(0x3FF);
    EXPECT_EQ(rig.readProgram(), factory.factoryCalibrationWord);
    rig.reenter();
    rig.loadConfiguration();
    rig.step(7);
    EXPECT_EQ(rig.readProgram() & 0x3000, 0x2000);

    // At address 0 the bulk erase takes the calibration word but not the BG bits.
    rig.reenter();
    rig.run(Script().cmd(0x09).waitUs(10000), 10);
    rig.reenter();
    rig.step(0x3FF);
    EXPECT_EQ(rig.readProgram(), 0x3FFF);
    EXPECT_EQ(rig.sim.chipState().configWord & 0x3000, 0x2000);

    // From configuration space it takes the BG bits too.
    rig.reenter();
    rig.loadConfiguration();
    rig.run(Script().cmd(0x09).waitUs(10000), 10);
    rig.leave();
    const SimChipState after = rig.sim.chipState();
    EXPECT_EQ(after.configWord & 0x3000, 0x3000);
    EXPECT_EQ(after.factoryCalibrationWord, factory.factoryCalibrationWord) << "the factory value is remembered";
}

TEST_P(Calibrated, TheFactoryWordDependsOnTheSeed) {
    SimConfig other;
    other.faults.seed = 99;
    SimRig a(GetParam());
    SimRig b(GetParam(), other);
    SimRig c(GetParam());
    EXPECT_EQ(a.sim.chipState().factoryCalibrationWord, c.sim.chipState().factoryCalibrationWord);
    // Two seeds may collide on 64 values; 1 and 99 do not for these parts.
    EXPECT_NE(a.sim.chipState().factoryCalibrationWord, b.sim.chipState().factoryCalibrationWord);
}

INSTANTIATE_TEST_SUITE_P(Parts, Calibrated, testing::Values("PIC12F629", "PIC12F675", "PIC16F630", "PIC16F676"));

TEST(SimChipRules, PartialCodeProtectionCoversTheUpperRange) {
    // 16F877 CP1:CP0 = 01 protects the upper half only.
    SimRig rig("PIC16F877");
    SimChipState s = rig.sim.chipState();
    s.programWords[0] = 0x0AAA;
    s.programWords[4096] = 0x0BBB;
    s.configWord = 0x1BDF; // CP1:CP0 = 01 in both copies
    ASSERT_TRUE(rig.sim.setChipState(s));
    rig.enter();
    EXPECT_EQ(rig.readProgram(), 0x0AAA);
    rig.step(4096);
    EXPECT_EQ(rig.readProgram(), 0);
}

TEST(SimChipRules, EmptySocketReadsAllOnes) {
    SimulatedDriver sim(SimConfig{});
    Link link(sim);
    const auto answer = link.exchange(Script().control(0x07).vppFirstEntry().read(0x04).read(0x05), 8);
    ASSERT_EQ(answer.size(), 8u);
    EXPECT_EQ(answer, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST(SimChipRules, DcDcOffMeansNoProgrammingVoltage) {
    SimRig rig("PIC16F877A");
    rig.run(Script().control(0x08).control(0x0B).control(0x05).control(0x00).control(0x03).wait(0x0001)
                .control(0x0A).control(0x04),
            10);
    EXPECT_FALSE(rig.sim.chipInProgrammingMode());
    EXPECT_EQ(rig.rawRead(0x04)[0], 0xFF);
}

TEST(SimChipRules, NoProgramFaultLeavesOneWordUnwritten) {
    SimConfig config;
    config.faults.noProgramAddress = 2;
    SimRig rig("PIC16F628A", config);
    rig.enter();
    for (int i = 0; i < 4; ++i) {
        rig.writeProgram(0x0100);
        rig.step(1);
    }
    const SimChipState s = rig.sim.chipState();
    EXPECT_EQ(s.programWords[1], 0x0100);
    EXPECT_EQ(s.programWords[2], 0x3FFF);
    EXPECT_EQ(s.programWords[3], 0x0100);
}

TEST(SimChipRules, ASlowChipNeedsLongerThanItsDataSheet) {
    for (double slow : {1.0, 1.6}) {
        SimConfig config;
        config.faults.slowFactor = slow;
        SimRig rig("PIC16F628A", config); // 4 ms per word
        rig.enter();
        rig.writeProgram(0x0000, 0x08, 5000);
        rig.step(1);
        EXPECT_EQ(rig.sim.chipState().programWords[0] == 0x0000, slow < 1.25) << slow;
    }
}

TEST(SimChipRules, ConfigurationSpaceCountsOnAndWrapsWithinItself) {
    SimRig rig("PIC16F84A");
    rig.enter();
    rig.loadConfiguration();
    rig.step(0x2000 + 6); // round configuration space once, then on to the device ID
    EXPECT_EQ(rig.readProgram() & 0x3FE0, 0x0560);
}

} // namespace
