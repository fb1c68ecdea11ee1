// A programmer that goes away or stops answering in the middle of an operation: the worker
// must end soon with the failure reported, and the link must be released exactly once, only
// after the worker has finished. The worker runs on its own thread while this thread polls the
// link, as the front ends do.

#include "SimRig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kDevice = "PIC16F84A";

enum class Op { Read, Program };

struct Outcome {
    bool ok = false;
    int32_t transferFailed = 0;
    bool settled = false;           // worker finished and link released within the deadline
    Clock::duration elapsed{};
    uint64_t closes = 0;
};

// The program run writes the first 64 words and 16 EEPROM bytes only: every kind of exchange
// of every phase still comes up, and unplugging after each one stays a few seconds' work.
void shrinkForProgram(SimRig& rig, Op op)
{
    if (op == Op::Program)
        rig.p.setGeometry(64, rig.p.blankWord, 16);
}

bool runOp(Programmer& p, Op op)
{
    return op == Op::Read ? p.readAll() : p.programAll();
}

// Runs op on a worker with the given faults armed after the attach, polling the link from here.
Outcome runWithFault(Op op, SimFaults faults, int32_t timeoutMs = 1000)
{
    SimRig rig(kDevice);
    Outcome out;
    if (!rig.connect()) {
        ADD_FAILURE() << "no attach";
        return out;
    }
    shrinkForProgram(rig, op);
    rig.fillRandom(7);
    rig.p.transferTimeoutMs = timeoutMs;
    const int64_t base = static_cast<int64_t>(rig.sim.exchangeCount());
    if (faults.unplugAfter >= 0)
        faults.unplugAfter += base;
    if (faults.stallAfter >= 0)
        faults.stallAfter += base;
    rig.sim.setFaults(faults);

    rig.p.busy.store(1);
    const auto start = Clock::now();
    std::thread worker([&] {
        out.ok = runOp(rig.p, op);
        rig.p.busy.store(0, std::memory_order_release);
    });
    const auto deadline = start + std::chrono::seconds(2);
    while (Clock::now() < deadline) {
        pollConnection(rig.p, rig.link);
        if (rig.p.busy.load(std::memory_order_acquire) == 0 && (faults.unplugAfter < 0 || rig.p.deviceHandle == -1)) {
            out.settled = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    out.elapsed = Clock::now() - start;
    worker.join();
    // Later ticks find nothing to close and nothing to open.
    for (int i = 0; i < 3; ++i)
        pollConnection(rig.p, rig.link);
    out.transferFailed = rig.p.transferFailed.load();
    out.closes = rig.sim.closeCount();
    return out;
}

int64_t exchangesOf(Op op)
{
    SimRig rig(kDevice);
    EXPECT_TRUE(rig.connect());
    shrinkForProgram(rig, op);
    rig.fillRandom(7);
    const uint64_t before = rig.sim.exchangeCount();
    EXPECT_TRUE(runOp(rig.p, op));
    return static_cast<int64_t>(rig.sim.exchangeCount() - before);
}

void unplugAtEveryExchange(Op op)
{
    const int64_t total = exchangesOf(op);
    ASSERT_GT(total, 10);
    for (int64_t k = 0; k < total; ++k) {
        SCOPED_TRACE(testing::Message() << "unplugged after " << k << " of " << total << " exchanges");
        SimFaults faults;
        faults.unplugAfter = k;
        const Outcome out = runWithFault(op, faults);
        ASSERT_TRUE(out.settled);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.transferFailed, 1);
        EXPECT_LT(out.elapsed, std::chrono::seconds(1));
        ASSERT_EQ(out.closes, 1u);
    }
}

TEST(SimFault, UnplugAtEveryExchangeOfARead)
{
    unplugAtEveryExchange(Op::Read);
}

TEST(SimFault, UnplugAtEveryExchangeOfAProgram)
{
    unplugAtEveryExchange(Op::Program);
}

TEST(SimFault, AStalledAnswerEndsByItsTimeOut)
{
    const int64_t total = exchangesOf(Op::Program);
    for (const int64_t k : {int64_t{0}, int64_t{1}, total / 2, total - 1}) {
        SCOPED_TRACE(k);
        SimFaults faults;
        faults.stallAfter = k;
        const Outcome out = runWithFault(Op::Program, faults, 50);
        ASSERT_TRUE(out.settled);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.transferFailed, 1);
        EXPECT_LT(out.elapsed, std::chrono::seconds(1));
        EXPECT_EQ(out.closes, 0u);   // still plugged in: nothing to release
    }
}

TEST(SimFault, UnplugInTheMiddleOfAWorkerDefersTheClose)
{
    SimRig rig(kDevice);
    ASSERT_TRUE(rig.connect());

    // The worker stops just before its 40th script until this thread has seen the unplug.
    std::atomic<int> writes{0};
    std::atomic<bool> reached{false}, resume{false};
    rig.tap.onWrite = [&](const uint8_t*, std::size_t) {
        if (++writes == 40) {
            reached = true;
            while (!resume)
                std::this_thread::yield();
        }
    };
    rig.p.busy.store(1);
    const auto start = Clock::now();
    bool ok = true;
    std::thread worker([&] {
        ok = rig.p.readAll();
        rig.p.busy.store(0, std::memory_order_release);
    });
    while (!reached)
        std::this_thread::yield();

    rig.sim.unplug();
    EXPECT_EQ(pollConnection(rig.p, rig.link), "Korvalin Non Connect");
    EXPECT_FALSE(rig.link.connected);
    EXPECT_TRUE(rig.link.removalPending);
    EXPECT_EQ(pollConnection(rig.p, rig.link), "");
    EXPECT_EQ(rig.sim.closeCount(), 0u);
    EXPECT_NE(rig.p.writePipe, nullptr);
    resume = true;

    while ((rig.p.busy.load(std::memory_order_acquire) != 0 || rig.p.deviceHandle != -1) &&
           Clock::now() - start < std::chrono::seconds(2)) {
        EXPECT_EQ(pollConnection(rig.p, rig.link), "");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(ok);
    EXPECT_EQ(writes.load(), 40);   // the script that met the unplug, and nothing after it
    EXPECT_EQ(rig.sim.closeCount(), 1u);
    EXPECT_FALSE(rig.link.removalPending);
}

TEST(SimFault, PluggingInAgainAfterAnUnplugAttachesAfresh)
{
    SimRig rig(kDevice);
    ASSERT_TRUE(rig.connect());
    rig.sim.unplug();
    EXPECT_EQ(pollConnection(rig.p, rig.link), "Korvalin Non Connect");
    EXPECT_EQ(rig.sim.closeCount(), 1u);
    EXPECT_FALSE(rig.p.readAll());
    rig.sim.plug();
    EXPECT_EQ(pollConnection(rig.p, rig.link), "Korvalin Connect");
    ASSERT_TRUE(rig.p.selectSocket(rig.record.socketPins));
    EXPECT_TRUE(rig.p.readAll());
    EXPECT_EQ(rig.p.transferFailed.load(), 0);
    EXPECT_EQ(rig.sim.closeCount(), 1u);
}

} // namespace
