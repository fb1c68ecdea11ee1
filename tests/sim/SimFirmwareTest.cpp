#include "SimRig.h"

#include <gtest/gtest.h>

namespace {

TEST(SimFirmware, IdentityAndClockQueriesAnswerInScriptOrder) {
    SimConfig config;
    config.clock = 20;
    config.identity = 0x12345678;
    SimulatedDriver sim(config);
    Link link(sim);
    EXPECT_EQ(link.exchange(Script().control(0x80), 8), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0}));
    EXPECT_EQ(link.exchange(Script().control(0x81), 8), (std::vector<uint8_t>{20, 0, 0, 0, 0, 0, 0, 0}));
    // A read with nothing there, then the clock: two bytes of ones, then the clock byte.
    EXPECT_EQ(link.exchange(Script().read(0x04).control(0x81), 4), (std::vector<uint8_t>{0xFF, 0xFF, 20, 0}));
}

TEST(SimFirmware, DefaultsAreClock16AndTheKorvalinIdentity) {
    SimulatedDriver sim;
    Link link(sim);
    EXPECT_EQ(link.exchange(Script().control(0x80).control(0x81), 5), (std::vector<uint8_t>{0x4B, 0x56, 0x4E, 0x01, 16}));
}

struct WaitCase {
    int clock;
    uint16_t value;
    double microseconds;
};

class WaitTiming : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitTiming, OneCountIsSixteenOverClockMicroseconds) {
    SimConfig config;
    config.clock = GetParam().clock;
    SimulatedDriver sim(config);
    Link link(sim);
    const double before = sim.virtualMicroseconds();
    link.exchange(Script().wait(GetParam().value), 10);
    EXPECT_NEAR(sim.virtualMicroseconds() - before, GetParam().microseconds, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Clocks, WaitTiming,
                         testing::Values(WaitCase{16, 0xE0BF, 8001}, WaitCase{16, 0xC17F, 16001},
                                         WaitCase{16, 0x63BF, 40001}, WaitCase{16, 0x0001, 65535},
                                         WaitCase{16, 0x00FF, 65281}, WaitCase{16, 0x0000, 65536},
                                         WaitCase{4, 0xF82F, 8004}, WaitCase{4, 0xF05F, 16004},
                                         WaitCase{4, 0xB8EF, 72772}, WaitCase{8, 0xF82F, 4002}));

TEST(SimFirmware, CommandsTakeTheirClockingTime) {
    for (int clock : {16, 4}) {
        SimConfig config;
        config.clock = clock;
        SimulatedDriver sim(config);
        Link link(sim);
        const double count = 16.0 / clock;
        double before = sim.virtualMicroseconds();
        link.exchange(Script().control(0x00).cmd(0x06).load(0x02, 0).read(0x04), 10);
        EXPECT_NEAR(sim.virtualMicroseconds() - before, (1 + 6 + 24 + 24) * count, 1e-6) << clock;
    }
}

TEST(SimFirmware, ControlCodesSetTheOutputs) {
    SimulatedDriver sim;
    Link link(sim);
    link.exchange(Script().control(0x00).control(0x02).control(0x04).control(0x08).control(0x0A), 10);
    SimOutputs o = sim.outputs();
    EXPECT_TRUE(o.led);
    EXPECT_TRUE(o.dcdc);
    EXPECT_EQ(o.mclr, SimMclr::Vpp);
    EXPECT_EQ(o.socket, SimPosition::Socket28_40);
    EXPECT_TRUE(o.power5v);
    link.exchange(Script().control(0x01).control(0x03).control(0x06).control(0x07).control(0x0B), 10);
    o = sim.outputs();
    EXPECT_FALSE(o.led);
    EXPECT_FALSE(o.dcdc);
    EXPECT_EQ(o.mclr, SimMclr::Normal);
    EXPECT_EQ(o.socket, SimPosition::Socket8_18);
    EXPECT_FALSE(o.power5v);
    link.exchange(Script().control(0x05).control(0x09), 10);
    EXPECT_EQ(sim.outputs().mclr, SimMclr::Reset);
    EXPECT_EQ(sim.outputs().socket, SimPosition::Icsp);
    EXPECT_EQ(sim.malformedScriptCount(), 0u);
}

struct MalformedCase {
    const char* what;
    std::vector<uint8_t> script;
    std::size_t answer; // bytes of real answer before the padding
};

class Malformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(Malformed, IsAnsweredButCounted) {
    SimulatedDriver sim;
    Link link(sim);
    const auto answer = link.exchange(GetParam().script, 10);
    ASSERT_EQ(answer.size(), 10u) << "still answered in full";
    EXPECT_EQ(sim.malformedScriptCount(), 1u);
    EXPECT_EQ(sim.protocolErrorCount(), 0u);
    for (std::size_t i = GetParam().answer; i < answer.size(); ++i) EXPECT_EQ(answer[i], 0) << i;
}

std::vector<uint8_t> tooLong() {
    std::vector<uint8_t> s;
    for (int i = 0; i < 33; ++i) s.insert(s.end(), {0x82, 0x06});
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, Malformed,
    testing::Values(MalformedCase{"unknown_opcode", {0x80, 0x00, 0x85, 0x00, 0x84, 0x04}, 0},
                    MalformedCase{"truncated_load", {0x82, 0x06, 0x83, 0x02, 0x00}, 0},
                    MalformedCase{"truncated_read", {0x84}, 0},
                    MalformedCase{"over_64_bytes", tooLong(), 0},
                    MalformedCase{"unknown_control", {0x80, 0x0C}, 0},
                    MalformedCase{"wait_second_byte", {0x81, 0x01, 0xFF, 0xFF}, 0},
                    MalformedCase{"seven_bit_command", {0x82, 0x46}, 0},
                    MalformedCase{"empty", {}, 0}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(SimFirmware, ExecutionStopsAtAnUnknownOpcode) {
    SimulatedDriver sim;
    Link link(sim);
    link.exchange(std::vector<uint8_t>{0x80, 0x00, 0x85, 0x00, 0x80, 0x02}, 10);
    EXPECT_TRUE(sim.outputs().led);
    EXPECT_FALSE(sim.outputs().dcdc);
}

TEST(SimFirmware, WellFormedHostScriptsAreNotCounted) {
    // The entry, read and exit scripts the host sends, byte for byte.
    SimRig rig("PIC16F877A");
    rig.run(Script().control(0x08), 8);
    rig.run(Script().control(0x00).control(0x02).wait(0x0001).control(0x0B).control(0x05).control(0x0A).wait(0x00FF).control(0x04), 10);
    Script block;
    for (int i = 0; i < 16; ++i) block.read(0x04).cmd(0x06);
    const auto answer = rig.run(block, 64);
    ASSERT_EQ(answer.size(), 64u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(frameWord(answer, i), 0x3FFF);
    rig.run(Script().exit(), 10);
    EXPECT_EQ(rig.sim.malformedScriptCount(), 0u);
    EXPECT_EQ(rig.sim.protocolErrorCount(), 0u);
}

TEST(SimFirmware, AnAnswerLongerThanTheReadIsCutAndCounted) {
    SimulatedDriver sim;
    Link link(sim);
    const auto answer = link.exchange(Script().read(0x04).read(0x04), 2);
    EXPECT_EQ(answer, (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(sim.protocolErrorCount(), 1u);
}

} // namespace
