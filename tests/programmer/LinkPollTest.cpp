#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Bytes = FakeDriver::Bytes;

class LinkPollTest : public testing::Test {
protected:
    FakeDriver fake;
    Programmer p{&fake};
    LinkState link;

    void SetUp() override
    {
        fake.answer = [](const Bytes& script, std::size_t n) {
            Bytes reply(n, 0);
            if (script == Bytes{0x80, 0x81})
                reply[0] = 8;
            return reply;
        };
    }
};

TEST_F(LinkPollTest, AProgrammerPresentAtStartIsAttachedOnTheFirstTick)
{
    EXPECT_EQ(pollConnection(p, link), "Korvalin Connect");
    EXPECT_TRUE(link.connected);
    EXPECT_FALSE(link.firstTick);
    EXPECT_EQ(p.deviceHandle, 7);
    EXPECT_NE(p.writePipe, nullptr);
    EXPECT_NE(p.readPipe, nullptr);
    EXPECT_EQ(fake.pipeIndexes, (std::vector<int>{1, 0}));
    // Identity first, then clock, each answered before the next is written.
    const auto records = fake.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].script, (Bytes{0x80, 0x80}));
    EXPECT_EQ(records[0].requested, 8u);
    EXPECT_EQ(records[1].script, (Bytes{0x80, 0x81}));
    EXPECT_EQ(p.programmerClock, 8);
    // Nothing changes while it stays: no text, no traffic.
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.exchanges(), 2u);
    EXPECT_EQ(fake.opens, 1);
}

TEST_F(LinkPollTest, NoProgrammerAtStartThenPluggedIn)
{
    fake.present = false;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Non Connect");
    EXPECT_FALSE(link.connected);
    // A later empty poll leaves whatever text another part has written since.
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.opens, 3);
    fake.present = true;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Connect");
    EXPECT_TRUE(link.connected);
}

TEST_F(LinkPollTest, UnpluggingClosesExactlyOnceAndReattachesAfresh)
{
    ASSERT_EQ(pollConnection(p, link), "Korvalin Connect");
    fake.removed = 1;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Non Connect");
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(p.deviceHandle, -1);
    EXPECT_EQ(p.writePipe, nullptr);
    EXPECT_EQ(p.readPipe, nullptr);
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.closes, 1);

    fake.removed = 0;
    fake.clearRecords();
    p.programmerClock = 16;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Connect");
    EXPECT_EQ(fake.pipeIndexes, (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(fake.exchanges(), 2u);
    EXPECT_EQ(p.programmerClock, 8);
}

TEST_F(LinkPollTest, UnpluggingUnderARunningWorkerDefersTheClose)
{
    ASSERT_EQ(pollConnection(p, link), "Korvalin Connect");
    UsbPipe* const pipe = p.writePipe;
    p.busy = 1;
    fake.removed = 1;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Non Connect");
    EXPECT_FALSE(link.connected);
    EXPECT_TRUE(link.removalPending);
    EXPECT_EQ(fake.closes, 0);
    EXPECT_EQ(p.writePipe, pipe);   // the worker's pipes stay valid; its transfers just fail

    // Plugged in again while the worker still runs: no attach yet, and no second close.
    fake.removed = 0;
    const int opens = fake.opens;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.closes, 0);
    EXPECT_EQ(fake.opens, opens);

    p.busy = 0;
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_EQ(fake.closes, 1);
    EXPECT_FALSE(link.removalPending);
    EXPECT_EQ(p.deviceHandle, -1);
    EXPECT_EQ(p.writePipe, nullptr);
    EXPECT_EQ(pollConnection(p, link), "Korvalin Connect");
    EXPECT_EQ(fake.closes, 1);
}

TEST_F(LinkPollTest, NoAttachWhileAWorkerRuns)
{
    p.busy = 1;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Non Connect");
    EXPECT_EQ(fake.opens, 0);
    p.busy = 0;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Connect");
}

TEST_F(LinkPollTest, UnplugUnderAWorkerThreadIsReleasedOnceAfterIt)
{
    ASSERT_EQ(pollConnection(p, link), "Korvalin Connect");
    fake.answer = [this](const Bytes&, std::size_t n) {
        if (fake.exchanges() == 50)
            fake.removed = 1;
        return Bytes(n, 0);
    };
    const std::vector<uint16_t> before = p.programWords;
    p.busy = 1;
    bool ok = true;
    std::thread worker([&] {
        ok = p.readAll();
        p.busy.store(0, std::memory_order_release);
    });
    int closesWhileBusy = 0;
    std::vector<std::string> texts;
    for (int i = 0; i < 2000 && (p.busy.load(std::memory_order_acquire) != 0 || p.deviceHandle != -1); ++i) {
        if (const std::string text = pollConnection(p, link); !text.empty())
            texts.push_back(text);
        if (p.busy.load() != 0)
            closesWhileBusy = fake.closes;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    worker.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(closesWhileBusy, 0);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(texts, std::vector<std::string>{"Korvalin Non Connect"});
    EXPECT_EQ(fake.exchanges(), 51u);   // the one write that found the programmer gone, no more
    EXPECT_EQ(p.programWords, before);
}

TEST(LinkPoll, WithoutADriverNothingIsEverConnected)
{
    Programmer p;
    LinkState link;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Non Connect");
    EXPECT_EQ(pollConnection(p, link), "");
    EXPECT_FALSE(link.connected);
}

TEST_F(LinkPollTest, FailedAttachQueriesLeaveTheClockAsItWas)
{
    fake.failReadAt = 1;   // the clock query
    p.programmerClock = 20;
    EXPECT_EQ(pollConnection(p, link), "Korvalin Connect");
    EXPECT_EQ(p.programmerClock, 20);
    EXPECT_TRUE(link.connected);
}

} // namespace
