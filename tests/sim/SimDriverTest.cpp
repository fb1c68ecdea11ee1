// SPDX-License-Identifier: MIT
#include "SimRig.h"

#include <atomic>
#include <thread>
#include <tuple>

namespace {

using Bytes = std::vector<uint8_t>;

const Script kClock = Script().control(0x81);

SimConfig withFaults(void (*set)(SimFaults&)) {
    SimConfig config;
    set(config.faults);
    return config;
}

// Plugging, unplugging and closing are pinned through the session (tests/operations, the unplug
// tables): a programmer gone, closed once, and found again.

// An unplug after a number of exchanges, and the stall's time-out, are swept over the exchanges
// of a step through the session, in tests/operations.
TEST(SimDriver, AStalledAnswerFailsAtTheTimeOutOrWhenUnplugged) {
    SimulatedDriver sim(withFaults([](SimFaults& f) { f.stallAfter = 1; }));
    Link link(sim);
    ASSERT_FALSE(link.exchange(kClock, 8).empty());
    EXPECT_TRUE(link.exchange(kClock, 8, 10).empty());

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

// One byte short from the given exchange on; one seeded bit flipped, the same bit for a seed.
TEST(SimDriver, ShortAndFlippedAnswers) {
    SimulatedDriver sim(withFaults([](SimFaults& f) { f.shortAfter = 1; }));
    Link link(sim);
    EXPECT_EQ(link.exchange(kClock, 8).size(), 8u);
    EXPECT_EQ(link.exchange(kClock, 64).size(), 63u);

    const auto flipped = [] {
        SimConfig config;
        config.faults.flipAfter = 0;
        config.faults.seed = 7;
        config.identity = 0;
        SimulatedDriver flipping(config);
        return Link(flipping).exchange(Script().control(0x80), 64);
    };
    const Bytes a = flipped();
    ASSERT_EQ(a.size(), 64u);
    int bits = 0;
    for (uint8_t b : a) bits += __builtin_popcount(b);
    EXPECT_EQ(bits, 1);
    EXPECT_EQ(flipped(), a) << "repeatable";
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
}

// A chip on the ICSP cable answers only there: pinned through the session in tests/operations.

TEST(SimFirmware, OneCountIsSixteenOverClockMicroseconds) {
    const std::tuple<int, uint16_t, double> waits[] = {
        {16, 0xE0BF, 8001}, {16, 0x00FF, 65281}, {16, 0x0000, 65536}, {4, 0xB8EF, 72772}, {8, 0xF82F, 4002}};
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
}

// The outputs the control codes set are checked after every chain on the simulator
// (tests/programmer, tests/operations): supply off, MCLR at reset.

TEST(SimFirmware, MalformedScriptsAreAnsweredButCounted) {
    const std::pair<const char*, Bytes> cases[] = {
        {"unknown opcode", {0x80, 0x00, 0x85, 0x00, 0x84, 0x04}},
        {"over 64 bytes", [] { Bytes b; for (int i = 0; i < 33; ++i) b.insert(b.end(), {0x82, 0x06}); return b; }()},
        {"unknown control", {0x80, 0x0C}},
        {"seven-bit command", {0x82, 0x46}},
    };
    for (const auto& [what, bytes] : cases) {
        SimulatedDriver sim;
        EXPECT_EQ(Link(sim).exchange(Script{bytes}, 10), Bytes(10, 0)) << what << ": still answered in full";
        EXPECT_EQ(sim.malformedScriptCount(), 1u) << what;
        EXPECT_EQ(sim.protocolErrorCount(), 0u) << what;
    }
}

} // namespace
