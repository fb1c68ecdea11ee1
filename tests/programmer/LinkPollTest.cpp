// SPDX-License-Identifier: MIT
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"

#include "FakeDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace {

using Bytes = FakeDriver::Bytes;

const std::string kConnect = "Korvalin Connect";
const std::string kNonConnect = "Korvalin Non Connect";

// One programmer's life as the 10 ms poll sees it, tick by tick: what the programmer and the
// worker do before the tick, then what the tick returns and leaves behind.
TEST(LinkPoll, TickByTick)
{
    FakeDriver fake;
    Programmer p{&fake};
    LinkState link;
    uint8_t clockAnswer = 0;
    fake.answer = [&](const Bytes&, std::size_t n) { return Bytes(n, clockAnswer); };
    const struct Tick {
        const char* what;
        bool present, removed, busy;
        uint8_t clockAnswer;
        int64_t failReadAt;
        std::string text;
        bool connected, removalPending;
        int32_t handle, clock;
        int opens, closes;
        std::size_t exchanges;
    } ticks[] = {
        {"absent at start", false, false, false, 8, -1, kNonConnect, false, false, -1, 16, 1, 0, 0},
        // A later empty poll leaves whatever text another part has written since.
        {"still absent", false, false, false, 8, -1, "", false, false, -1, 16, 2, 0, 0},
        // Attaching under a running worker would hand it new pipes mid-operation.
        {"plugged in under a worker", true, false, true, 8, -1, "", false, false, -1, 16, 2, 0, 0},
        {"worker ended: attached, identity and clock asked", true, false, false, 8, -1, kConnect, true, false, 7, 8, 3, 0, 2},
        {"stays: no text, no traffic", true, false, false, 8, -1, "", true, false, 7, 8, 3, 0, 2},
        {"unplugged", true, true, false, 8, -1, kNonConnect, false, false, -1, 8, 3, 1, 2},
        {"still unplugged", true, true, false, 8, -1, "", false, false, -1, 8, 4, 1, 2},
        // A failed attach query is no reason not to attach; the clock stays as it was.
        {"plugged in again, clock query fails", true, false, false, 20, 3, kConnect, true, false, 7, 8, 5, 1, 4},
        // The worker's pipes stay valid until it has ended; its transfers just fail.
        {"unplugged under a worker", true, true, true, 20, -1, kNonConnect, false, true, 7, 8, 5, 1, 4},
        {"plugged in while the worker runs", true, false, true, 20, -1, "", false, true, 7, 8, 5, 1, 4},
        {"worker ended: closed once", true, false, false, 20, -1, "", false, false, -1, 8, 5, 2, 4},
        {"attached again", true, false, false, 20, -1, kConnect, true, false, 7, 20, 6, 2, 6},
    };
    for (const Tick& t : ticks) {
        SCOPED_TRACE(t.what);
        fake.present = t.present;
        fake.removed = t.removed;
        fake.failReadAt = t.failReadAt;
        p.busy = t.busy;
        clockAnswer = t.clockAnswer;
        EXPECT_EQ(pollConnection(p, link), t.text);
        EXPECT_EQ(std::make_pair(link.connected, link.removalPending), std::make_pair(t.connected, t.removalPending));
        EXPECT_EQ(std::make_pair(p.deviceHandle, p.programmerClock), std::make_pair(t.handle, t.clock));
        EXPECT_EQ(std::make_tuple(fake.opens, fake.closes, fake.log.size()), std::make_tuple(t.opens, t.closes, t.exchanges));
        EXPECT_EQ(p.writePipe == nullptr, p.deviceHandle == -1);
        EXPECT_EQ(p.readPipe == nullptr, p.deviceHandle == -1);
    }
    // Identity first, then clock, each answered before the next is written.
    EXPECT_EQ(fake.scripts(), (std::vector<Bytes>{{0x80, 0x80}, {0x80, 0x81}, {0x80, 0x80}, {0x80, 0x81}, {0x80, 0x80}, {0x80, 0x81}}));
    EXPECT_EQ(fake.log[0].requested, 8u);
}

} // namespace
