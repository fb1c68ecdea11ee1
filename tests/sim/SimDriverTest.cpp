// SPDX-License-Identifier: MIT
#include "SimRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

namespace {

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

const Script kClock = Script().control(0x81);

SimConfig withFaults(void (*set)(SimFaults&)) {
    SimConfig config;
    set(config.faults);
    return config;
}

TEST(SimDriver, HandlesAndPipesComeAndGoWithThePlug) {
    SimConfig config;
    config.plugged = false;
    SimulatedDriver sim(config);
    EXPECT_EQ(sim.openProgrammer(), -1);
    sim.plug();
    Link first(sim);
    ASSERT_NE(first.handle, -1);
    EXPECT_EQ(sim.isRemoved(first.handle), 0);
    uint8_t buffer[8] = {0x80, 0x81};
    EXPECT_EQ(first.in->write(buffer, 2, 100), -1) << "wrong direction";
    EXPECT_EQ(first.out->read(buffer, 8, 100), -1) << "wrong direction";
    ASSERT_EQ(first.exchange(kClock, 8).size(), 8u);

    sim.unplug();
    EXPECT_NE(sim.isRemoved(first.handle), 0);
    EXPECT_TRUE(first.exchange(kClock, 8).empty());
    EXPECT_EQ(sim.openProgrammer(), -1);
    sim.closeProgrammer(first.handle);
    EXPECT_EQ(sim.closeCount(), 1u);

    sim.plug();
    Link fresh(sim);
    EXPECT_NE(fresh.handle, first.handle);
    EXPECT_EQ(fresh.exchange(kClock, 8)[0], 16);
    EXPECT_TRUE(first.exchange(kClock, 8).empty()) << "old pipes stay dead";
    sim.closeProgrammer(fresh.handle);
    EXPECT_NE(sim.isRemoved(fresh.handle), 0);
    EXPECT_TRUE(fresh.exchange(kClock, 8).empty()) << "pipes of a closed handle fail";
}

// An unplug after a number of exchanges is swept over every exchange of a step through the
// session, in tests/operations.
TEST(SimDriver, AStalledAnswerFailsAtTheCallersTimeOutOrWhenUnplugged) {
    SimulatedDriver sim(withFaults([](SimFaults& f) { f.stallAfter = 1; }));
    Link link(sim);
    ASSERT_FALSE(link.exchange(kClock, 8).empty());
    auto start = SteadyClock::now();
    EXPECT_TRUE(link.exchange(kClock, 8, 80).empty());
    EXPECT_GE(SteadyClock::now() - start, Ms(75));
    EXPECT_TRUE(link.exchange(kClock, 8, 10).empty()) << "stays stalled";

    // A worker waits on a stalled read while this thread polls the programmer, then unplugs it:
    // the read ends then, long before its time-out of an hour.
    ASSERT_EQ(link.out->write(kClock.bytes.data(), 2, 100), 2);
    std::atomic<int> result{0};
    std::thread reader([&] {
        uint8_t answer[8];
        result = link.in->read(answer, 8, 3600 * 1000);
    });
    EXPECT_EQ(sim.isRemoved(link.handle), 0) << "a stall is not a removal";
    sim.unplug();
    reader.join();
    EXPECT_EQ(result.load(), -1);
}

TEST(SimDriver, ShortAndFlippedAnswers) {
    SimulatedDriver sim(withFaults([](SimFaults& f) { f.shortAfter = 1; }));
    Link link(sim);
    EXPECT_EQ(link.exchange(kClock, 8).size(), 8u);
    EXPECT_EQ(link.exchange(kClock, 8).size(), 7u) << "one byte short";
    EXPECT_EQ(link.exchange(kClock, 64).size(), 63u);

    // One seeded bit flipped in an answer that is all zero.
    const auto flipped = [](uint32_t seed) {
        SimConfig config;
        config.faults.flipAfter = 0;
        config.faults.seed = seed;
        config.identity = 0;
        SimulatedDriver flipping(config);
        return Link(flipping).exchange(Script().control(0x80), 64);
    };
    const Bytes a = flipped(7);
    ASSERT_EQ(a.size(), 64u);
    int bits = 0;
    for (uint8_t b : a) bits += __builtin_popcount(b);
    EXPECT_EQ(bits, 1);
    EXPECT_EQ(flipped(7), a) << "repeatable";
    EXPECT_TRUE(flipped(8) != a || flipped(9) != a || flipped(10) != a) << "the seed chooses the bit";
}

TEST(SimDriver, ProtocolErrorsAreCounted) {
    SimulatedDriver sim;
    Link link(sim);
    uint8_t answer[8];
    EXPECT_EQ(link.in->read(answer, 8, 20), -1) << "a read without a script waits and fails";
    EXPECT_EQ(sim.protocolErrorCount(), 1u);
    ASSERT_EQ(link.out->write(kClock.bytes.data(), 2, 100), 2);
    EXPECT_EQ(link.exchange(kClock, 8)[0], 16) << "an answer left unread";
    EXPECT_EQ(sim.protocolErrorCount(), 2u);
    EXPECT_EQ(sim.exchangeCount(), 2u);
    EXPECT_EQ(link.exchange(Script().read(0x04).read(0x04), 2), (Bytes{0xFF, 0xFF})) << "an answer cut";
    EXPECT_EQ(sim.protocolErrorCount(), 3u);
}

// A chip on the ICSP cable answers only there: pinned through the session in tests/operations.

TEST(SimDriver, ChipStateIsCheckedAsItIsSet) {
    SimulatedDriver sim;
    EXPECT_FALSE(sim.insertChip("PIC99X"));
    ASSERT_TRUE(sim.insertChip("PIC16F88"));
    SimChipState s = sim.chipState();
    EXPECT_EQ(s.device, "PIC16F88");
    s.userIds[2] = 0x0007;
    s.configWord2 = 0x3FFE; // only bits 1-0 exist
    ASSERT_TRUE(sim.setChipState(s));
    EXPECT_EQ(sim.chipState().userIds[2], 0x0007);
    EXPECT_EQ(sim.chipState().configWord2, 0x0002);
    SimChipState other = s;
    other.device = "PIC99X";
    EXPECT_FALSE(sim.setChipState(other)) << "unknown device";
    other = s;
    other.programWords.pop_back();
    EXPECT_FALSE(sim.setChipState(other)) << "wrong size";
    other.present = false;
    EXPECT_TRUE(sim.setChipState(other)) << "a state of no chip takes the chip out";
    EXPECT_FALSE(sim.chipState().present);
    ASSERT_TRUE(sim.setChipState(s)) << "and a chip's state puts one in";
    EXPECT_EQ(sim.chipState().userIds[2], 0x0007);
    sim.removeChip();
    EXPECT_FALSE(sim.chipState().present);
}

TEST(SimFirmware, IdentityAndClockQueriesAnswerInScriptOrder) {
    SimulatedDriver defaults;
    EXPECT_EQ(Link(defaults).exchange(Script().control(0x80).control(0x81), 5), (Bytes{0x4B, 0x56, 0x4E, 0x01, 16}));
    SimConfig config;
    config.clock = 20;
    config.identity = 0x12345678;
    SimulatedDriver sim(config);
    Link link(sim);
    EXPECT_EQ(link.exchange(Script().control(0x80), 8), (Bytes{0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0}));
    // A read with nothing there, then the clock: two bytes of ones, then the clock byte.
    EXPECT_EQ(link.exchange(Script().read(0x04).control(0x81), 4), (Bytes{0xFF, 0xFF, 20, 0}));
}

TEST(SimFirmware, OneCountIsSixteenOverClockMicroseconds) {
    const std::tuple<int, uint16_t, double> waits[] = {
        {16, 0xE0BF, 8001},  {16, 0xC17F, 16001}, {16, 0x63BF, 40001}, {16, 0x0001, 65535}, {16, 0x00FF, 65281},
        {16, 0x0000, 65536}, {4, 0xF82F, 8004},   {4, 0xF05F, 16004},   {4, 0xB8EF, 72772},  {8, 0xF82F, 4002}};
    for (const auto& [clock, value, microseconds] : waits) {
        SimConfig config;
        config.clock = clock;
        SimulatedDriver sim(config);
        Link(sim).exchange(Script().wait(value), 10);
        EXPECT_NEAR(sim.virtualMicroseconds(), microseconds, 1e-6) << clock << " " << std::hex << value;
        // Clocking takes time too: 1 count a control code, 6 a command, 24 one with its frame.
        Link(sim).exchange(Script().control(0x00).cmd(0x06).load(0x02, 0).read(0x04), 10);
        EXPECT_NEAR(sim.virtualMicroseconds(), microseconds + (1 + 6 + 24 + 24) * 16.0 / clock, 1e-6) << clock;
    }
    // Sixteen of the longest waits take no time in instant mode; in real time they are slept,
    // and a shorter time-out fails the read.
    Script longest;
    for (int i = 0; i < 16; ++i) longest.wait(0x0000);
    SimulatedDriver instant;
    ASSERT_FALSE(Link(instant).exchange(longest, 10).empty());
    EXPECT_NEAR(instant.virtualMicroseconds(), 16 * 65536.0, 1e-3);
    SimConfig config;
    config.realTime = true;
    SimulatedDriver sim(config);
    Link link(sim);
    const auto start = SteadyClock::now();
    ASSERT_FALSE(link.exchange(Script().waitUs(30000), 10).empty());
    EXPECT_GE(SteadyClock::now() - start, Ms(30));
    EXPECT_TRUE(link.exchange(Script().waitUs(60000), 10, 5).empty());
}

TEST(SimFirmware, ControlCodesSetTheOutputs) {
    SimulatedDriver sim;
    Link link(sim);
    const auto outputsAfter = [&](const Script& s) {
        link.exchange(s, 10);
        const SimOutputs o = sim.outputs();
        return std::make_tuple(o.led, o.dcdc, o.mclr, o.socket, o.power5v);
    };
    EXPECT_EQ(outputsAfter(Script().control(0x00).control(0x02).control(0x04).control(0x08).control(0x0A)),
              std::make_tuple(true, true, SimMclr::Vpp, SimPosition::Socket28_40, true));
    EXPECT_EQ(outputsAfter(Script().control(0x01).control(0x03).control(0x06).control(0x07).control(0x0B)),
              std::make_tuple(false, false, SimMclr::Normal, SimPosition::Socket8_18, false));
    EXPECT_EQ(outputsAfter(Script().control(0x05).control(0x09)),
              std::make_tuple(false, false, SimMclr::Reset, SimPosition::Icsp, false));
    EXPECT_EQ(sim.malformedScriptCount(), 0u);
}

TEST(SimFirmware, MalformedScriptsAreAnsweredButCounted) {
    const std::pair<const char*, Bytes> cases[] = {
        {"unknown opcode", {0x80, 0x00, 0x85, 0x00, 0x84, 0x04}},
        {"truncated load", {0x82, 0x06, 0x83, 0x02, 0x00}},
        {"truncated read", {0x84}},
        {"over 64 bytes", [] { Bytes b; for (int i = 0; i < 33; ++i) b.insert(b.end(), {0x82, 0x06}); return b; }()},
        {"unknown control", {0x80, 0x0C}},
        {"wait second byte", {0x81, 0x01, 0xFF, 0xFF}},
        {"seven-bit command", {0x82, 0x46}},
        {"seven-bit load", {0x83, 0x46, 0x00, 0x00}},
        {"empty", {}},
    };
    for (const auto& [what, bytes] : cases) {
        SimulatedDriver sim;
        EXPECT_EQ(Link(sim).exchange(Script{bytes}, 10), Bytes(10, 0)) << what << ": still answered in full";
        EXPECT_EQ(sim.malformedScriptCount(), 1u) << what;
        EXPECT_EQ(sim.protocolErrorCount(), 0u) << what;
    }
    // Execution stops at an unknown opcode.
    SimulatedDriver sim;
    Link(sim).exchange(Script{{0x80, 0x00, 0x85, 0x00, 0x80, 0x02}}, 10);
    EXPECT_TRUE(sim.outputs().led);
    EXPECT_FALSE(sim.outputs().dcdc);
}

} // namespace
