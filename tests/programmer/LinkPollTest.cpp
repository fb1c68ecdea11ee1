// SPDX-License-Identifier: MIT
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

namespace {

using Bytes = FakeDriver::Bytes;

const std::string kConnect = "Korvalin Connect";
const std::string kNonConnect = "Korvalin Non Connect";

class LinkPollTest : public testing::Test {
protected:
    FakeDriver fake;
    Programmer p{&fake};
    LinkState link;

    void SetUp() override
    {
        fake.answer = [](const Bytes&, std::size_t n) { return Bytes(n, 8); };   // clock 8
    }
};

TEST_F(LinkPollTest, AProgrammerPresentAtStartIsAttachedOnTheFirstTick)
{
    EXPECT_EQ(pollConnection(p, link), kConnect);
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(p.deviceHandle, 7);
    EXPECT_EQ(fake.pipeIndexes, (std::vector<int>{1, 0}));
    // Identity first, then clock, each answered before the next is written.
    EXPECT_EQ(fake.hexScripts(), (std::vector<std::string>{"80 80", "80 81"}));
    EXPECT_EQ(fake.log[0].requested, 8u);
    EXPECT_EQ(p.programmerClock, 8);
    // Nothing changes while it stays: no text, no traffic.
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.log.size(), 2u);
    EXPECT_EQ(fake.opens, 1);
}

TEST_F(LinkPollTest, NoProgrammerAtStartThenPluggedInOnceNoWorkerRuns)
{
    fake.present = false;
    EXPECT_EQ(pollConnection(p, link), kNonConnect);
    EXPECT_FALSE(link.connected);
    // A later empty poll leaves whatever text another part has written since.
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.opens, 2);
    // Attaching under a running worker would hand it new pipes mid-operation.
    fake.present = true;
    p.busy = 1;
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.opens, 2);
    // A failed attach query is no reason not to attach; the clock stays as it was.
    p.busy = 0;
    fake.failReadAt = 1;
    p.programmerClock = 20;
    EXPECT_EQ(pollConnection(p, link), kConnect);
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(p.programmerClock, 20);

    Programmer noDriver;
    LinkState other;
    EXPECT_EQ(pollConnection(noDriver, other), kNonConnect);
    EXPECT_EQ(pollConnection(noDriver, other), "");
}

TEST_F(LinkPollTest, UnpluggingClosesOnceAtOnceOrOnceTheWorkerHasEnded)
{
    ASSERT_EQ(pollConnection(p, link), kConnect);
    fake.removed = 1;
    EXPECT_EQ(pollConnection(p, link), kNonConnect);
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(p.deviceHandle, -1);
    EXPECT_EQ(p.writePipe, nullptr);
    EXPECT_EQ(p.readPipe, nullptr);
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.closes, 1);

    fake.removed = 0;
    p.programmerClock = 16;
    EXPECT_EQ(pollConnection(p, link), kConnect);
    EXPECT_EQ(fake.pipeIndexes, (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(fake.log.size(), 4u);
    EXPECT_EQ(p.programmerClock, 8);

    // Unplugged under a running worker: the close waits until the worker has finished.
    UsbPipe* const pipe = p.writePipe;
    p.busy = 1;
    fake.removed = 1;
    EXPECT_EQ(pollConnection(p, link), kNonConnect);
    EXPECT_FALSE(link.connected);
    EXPECT_TRUE(link.removalPending);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(p.writePipe, pipe);   // the worker's pipes stay valid; its transfers just fail

    // Plugged in again while the worker still runs: no attach yet, and no second close.
    fake.removed = 0;
    const int opens = fake.opens;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.opens, opens);

    p.busy = 0;
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.closes, 2);
    EXPECT_FALSE(link.removalPending);
    EXPECT_EQ(p.deviceHandle, -1);
    EXPECT_EQ(pollConnection(p, link), kConnect);
    EXPECT_EQ(fake.closes, 2);
}

} // namespace
