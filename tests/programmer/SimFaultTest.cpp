// SPDX-License-Identifier: MIT
// A programmer that goes away or stops answering in the middle of an operation: the worker
// must end with the failure reported, and the link must be released exactly once, only
// after the worker has finished. The worker runs on its own thread while this thread polls the
// link, as the front ends do.

#include "SimRig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

enum class Op { Read, Program };

// A small device; the program run writes its first 64 words and 16 EEPROM bytes only, so that
// every kind of exchange still comes up and failing at each one stays a few seconds' work.
struct FaultRig : SimRig {
    Op op;
    explicit FaultRig(Op operation) : SimRig("PIC16F84A"), op(operation)
    {
        EXPECT_TRUE(connect());
        if (op == Op::Program)
            p.setGeometry(64, p.blankWord, 16);
        fillRandom(7);
    }
    bool run() { return op == Op::Read ? p.readAll() : p.programAll(); }
};

int64_t exchangesOf(Op op)
{
    FaultRig rig(op);
    const uint64_t before = rig.sim.exchangeCount();
    EXPECT_TRUE(rig.run());
    return static_cast<int64_t>(rig.sim.exchangeCount() - before);
}

// Runs op on a worker with a fault armed k exchanges after the attach, polling the link here;
// checks that it settles as a reported failure, and how often the link closed. The minute is
// only a watchdog for a worker that never ends: how soon it ends belongs in bench/.
void expectFailureReported(Op op, int64_t k, bool unplug, uint64_t closes)
{
    SCOPED_TRACE(testing::Message() << (unplug ? "unplugged" : "stalled") << " after " << k << " exchanges");
    FaultRig rig(op);
    rig.p.transferTimeoutMs = unplug ? 1000 : 50;
    SimFaults faults;
    (unplug ? faults.unplugAfter : faults.stallAfter) = static_cast<int64_t>(rig.sim.exchangeCount()) + k;
    rig.sim.setFaults(faults);

    bool ok = true;
    rig.p.busy.store(1);
    const auto watchdog = Clock::now() + std::chrono::minutes(1);
    std::thread worker([&] {
        ok = rig.run();
        rig.p.busy.store(0, std::memory_order_release);
    });
    bool settled = false;
    while (!settled && Clock::now() < watchdog) {
        pollConnection(rig.p, rig.link);
        settled = rig.p.busy.load(std::memory_order_acquire) == 0 && (!unplug || rig.p.deviceHandle == -1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    worker.join();
    for (int i = 0; i < 3; ++i)   // later ticks find nothing to close and nothing to open
        pollConnection(rig.p, rig.link);
    ASSERT_TRUE(settled);
    EXPECT_FALSE(ok);
    EXPECT_EQ(rig.p.transferFailed.load(), 1);
    ASSERT_EQ(rig.sim.closeCount(), closes);
}

TEST(SimFault, UnplugAtEveryExchangeOfAReadAndOfAProgram)
{
    for (const Op op : {Op::Read, Op::Program}) {
        const int64_t total = exchangesOf(op);
        ASSERT_GT(total, 10);
        for (int64_t k = 0; k < total; ++k)
            ASSERT_NO_FATAL_FAILURE(expectFailureReported(op, k, true, 1));
    }
}

TEST(SimFault, AStalledAnswerEndsByItsTimeOut)
{
    const int64_t total = exchangesOf(Op::Program);
    for (const int64_t k : {int64_t{0}, int64_t{1}, total / 2, total - 1})
        expectFailureReported(Op::Program, k, false, 0);   // still plugged in: nothing to release
}

} // namespace
