#include "SimRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

const Script kClock = Script().control(0x81);

TEST(SimDriver, HandlesComeAndGoWithThePlug) {
    SimConfig config;
    config.plugged = false;
    SimulatedDriver sim(config);
    EXPECT_EQ(sim.openProgrammer(), -1);
    sim.plug();
    const int first = sim.openProgrammer();
    ASSERT_NE(first, -1);
    EXPECT_EQ(sim.isRemoved(first), 0);
    UsbPipe* out = sim.openPipe(first, 0, 1);
    UsbPipe* in = sim.openPipe(first, 0, 0);
    uint8_t answer[8];
    ASSERT_EQ(out->write(kClock.bytes.data(), 2, 100), 2);
    ASSERT_EQ(in->read(answer, 8, 100), 8);

    sim.unplug();
    EXPECT_NE(sim.isRemoved(first), 0);
    EXPECT_EQ(out->write(kClock.bytes.data(), 2, 100), -1);
    EXPECT_EQ(in->read(answer, 8, 100), -1);
    EXPECT_EQ(sim.openProgrammer(), -1);
    sim.closeProgrammer(first);
    EXPECT_EQ(sim.closeCount(), 1u);

    sim.plug();
    Link fresh(sim);
    EXPECT_NE(fresh.handle, first);
    EXPECT_EQ(fresh.exchange(kClock, 8)[0], 16);
    EXPECT_EQ(out->write(kClock.bytes.data(), 2, 100), -1) << "old pipes stay dead";
}

TEST(SimDriver, PipesOfAClosedHandleFail) {
    SimulatedDriver sim;
    Link link(sim);
    sim.closeProgrammer(link.handle);
    EXPECT_NE(sim.isRemoved(link.handle), 0);
    EXPECT_TRUE(link.exchange(kClock, 8).empty());
}

TEST(SimDriver, WrongPipeDirectionsFail) {
    SimulatedDriver sim;
    Link link(sim);
    uint8_t buffer[8] = {0x80, 0x81};
    EXPECT_EQ(link.in->write(buffer, 2, 100), -1);
    EXPECT_EQ(link.out->read(buffer, 8, 100), -1);
}

TEST(SimDriver, UnplugAfterNExchanges) {
    for (int64_t n : {0, 1, 5}) {
        SimConfig config;
        config.faults.unplugAfter = n;
        SimulatedDriver sim(config);
        Link link(sim);
        for (int64_t i = 0; i < n; ++i) ASSERT_FALSE(link.exchange(kClock, 8).empty()) << n << " " << i;
        EXPECT_TRUE(link.exchange(kClock, 8).empty()) << n;
        EXPECT_NE(sim.isRemoved(link.handle), 0);
        EXPECT_EQ(sim.openProgrammer(), -1);
        EXPECT_EQ(sim.exchangeCount(), static_cast<uint64_t>(n));
    }
}

TEST(SimDriver, AStalledAnswerFailsAtTheCallersTimeOut) {
    SimConfig config;
    config.faults.stallAfter = 1;
    SimulatedDriver sim(config);
    Link link(sim);
    ASSERT_FALSE(link.exchange(kClock, 8).empty());
    const auto start = SteadyClock::now();
    EXPECT_TRUE(link.exchange(kClock, 8, 80).empty());
    const auto waited = SteadyClock::now() - start;
    EXPECT_GE(waited, Ms(75));
    EXPECT_LT(waited, Ms(2000));
    EXPECT_TRUE(link.exchange(kClock, 8, 10).empty()) << "stays stalled";
}

TEST(SimDriver, UnplugWakesAStalledRead) {
    SimConfig config;
    config.faults.stallAfter = 0;
    SimulatedDriver sim(config);
    Link link(sim);
    ASSERT_EQ(link.out->write(kClock.bytes.data(), 2, 100), 2);
    std::atomic<int> result{0};
    const auto start = SteadyClock::now();
    std::thread reader([&] {
        uint8_t answer[8];
        result = link.in->read(answer, 8, 10000);
    });
    std::this_thread::sleep_for(Ms(50));
    sim.unplug();
    reader.join();
    EXPECT_EQ(result.load(), -1);
    EXPECT_LT(SteadyClock::now() - start, Ms(5000));
}

TEST(SimDriver, ShortAnswersLackTheirLastByte) {
    SimConfig config;
    config.faults.shortAfter = 1;
    SimulatedDriver sim(config);
    Link link(sim);
    EXPECT_EQ(link.exchange(kClock, 8).size(), 8u);
    EXPECT_EQ(link.exchange(kClock, 8).size(), 7u);
    EXPECT_EQ(link.exchange(kClock, 64).size(), 63u);
}

std::vector<uint8_t> flippedAnswer(uint32_t seed) {
    SimConfig config;
    config.faults.flipAfter = 0;
    config.faults.seed = seed;
    config.identity = 0;
    SimulatedDriver sim(config);
    Link link(sim);
    return link.exchange(Script().control(0x80), 64);
}

TEST(SimDriver, FlippedAnswersDifferInOneSeededBit) {
    const auto a = flippedAnswer(7);
    ASSERT_EQ(a.size(), 64u);
    int bits = 0;
    for (uint8_t b : a) bits += __builtin_popcount(b);
    EXPECT_EQ(bits, 1) << "the clean answer is all zero";
    EXPECT_EQ(flippedAnswer(7), a) << "repeatable";
    bool anyDifferent = false;
    for (uint32_t seed : {8u, 9u, 10u, 11u}) anyDifferent |= flippedAnswer(seed) != a;
    EXPECT_TRUE(anyDifferent);
}

TEST(SimDriver, AReadWithoutAScriptWaitsAndFails) {
    SimulatedDriver sim;
    Link link(sim);
    uint8_t answer[8];
    EXPECT_EQ(link.in->read(answer, 8, 20), -1);
    EXPECT_EQ(sim.protocolErrorCount(), 1u);
}

TEST(SimDriver, AnAnswerLeftUnreadIsCounted) {
    SimulatedDriver sim;
    Link link(sim);
    ASSERT_EQ(link.out->write(kClock.bytes.data(), 2, 100), 2);
    EXPECT_EQ(link.exchange(kClock, 8)[0], 16);
    EXPECT_EQ(sim.protocolErrorCount(), 1u);
    EXPECT_EQ(sim.exchangeCount(), 2u);
}

TEST(SimDriver, RealTimeSleepsForTheModelledTime) {
    SimConfig config;
    config.realTime = true;
    SimulatedDriver sim(config);
    Link link(sim);
    const auto start = SteadyClock::now();
    ASSERT_FALSE(link.exchange(Script().waitUs(30000), 10).empty());
    EXPECT_GE(SteadyClock::now() - start, Ms(30));
    // A time-out shorter than the script fails the read.
    EXPECT_TRUE(link.exchange(Script().waitUs(60000), 10, 5).empty());
}

TEST(SimDriver, InstantModeDoesNotSleep) {
    SimulatedDriver sim;
    Link link(sim);
    const auto start = SteadyClock::now();
    for (int i = 0; i < 50; ++i) link.exchange(Script().wait(0x0000), 10);
    EXPECT_LT(SteadyClock::now() - start, Ms(1000));
    EXPECT_NEAR(sim.virtualMicroseconds(), 50 * 65536.0 + 0, 1e-3);
}

TEST(SimDriver, ChipsGoWherePackagesFit) {
    struct Case {
        const char* device;
        uint8_t socket;
    };
    for (Case c : {Case{"PIC16F84A", 0x07}, Case{"PIC12F675", 0x07}, Case{"PIC16F877", 0x08},
                   Case{"PIC16F676", 0x09}}) {
        SimulatedDriver sim;
        ASSERT_TRUE(sim.insertChip(c.device));
        Link link(sim);
        for (uint8_t socket : {0x07, 0x08, 0x09}) {
            link.exchange(Script().exit().control(socket).vppFirstEntry(), 10);
            EXPECT_EQ(sim.chipInProgrammingMode(), socket == c.socket) << c.device << " " << int(socket);
        }
    }
}

TEST(SimDriver, AChipOnTheIcspCableAnswersOnlyThere) {
    SimulatedDriver sim;
    ASSERT_TRUE(sim.insertChip("PIC16F877A", SimPosition::Icsp));
    Link link(sim);
    link.exchange(Script().control(0x08).vppFirstEntry(), 10);
    EXPECT_FALSE(sim.chipInProgrammingMode());
    link.exchange(Script().exit().control(0x09).vppFirstEntry(), 10);
    EXPECT_TRUE(sim.chipInProgrammingMode());
}

TEST(SimDriver, ChipStateRoundTripsAndChecksSizes) {
    SimulatedDriver sim;
    EXPECT_FALSE(sim.insertChip("PIC99X"));
    EXPECT_FALSE(sim.chipState().present);
    ASSERT_TRUE(sim.insertChip("PIC16F88"));
    SimChipState s = sim.chipState();
    ASSERT_TRUE(s.present);
    EXPECT_EQ(s.device, "PIC16F88");
    s.programWords[10] = 0x0ABC;
    s.eepromBytes[3] = 0x5A;
    s.userIds[2] = 0x0007;
    s.configWord = 0x3F2F;
    s.configWord2 = 0x3FFE; // only bits 1-0 exist
    ASSERT_TRUE(sim.setChipState(s));
    const SimChipState back = sim.chipState();
    EXPECT_EQ(back.programWords[10], 0x0ABC);
    EXPECT_EQ(back.eepromBytes[3], 0x5A);
    EXPECT_EQ(back.userIds[2], 0x0007);
    EXPECT_EQ(back.configWord, 0x3F2F);
    EXPECT_EQ(back.configWord2, 0x0002);
    s.programWords.pop_back();
    EXPECT_FALSE(sim.setChipState(s)) << "wrong size";
    sim.removeChip();
    EXPECT_FALSE(sim.chipState().present);
}

TEST(SimDriver, UnplugWhileAWorkerExchanges) {
    SimConfig config;
    config.chip = "PIC16F877A";
    SimulatedDriver sim(config);
    Link link(sim);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread worker([&] {
        Script block;
        for (int i = 0; i < 16; ++i) block.read(0x04).cmd(0x06);
        while (!stop) {
            if (link.exchange(block, 64, 50).empty()) ++failures;
        }
    });
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(Ms(2));
        sim.isRemoved(link.handle);
        (void)sim.chipState();
    }
    sim.unplug();
    std::this_thread::sleep_for(Ms(10));
    stop = true;
    worker.join();
    EXPECT_GT(failures.load(), 0);
    EXPECT_NE(sim.isRemoved(link.handle), 0);
}

} // namespace
