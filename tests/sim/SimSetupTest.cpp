// SPDX-License-Identifier: MIT
#include "sim/SimConfig.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// The fields of a configuration that differ from the defaults, as "name=value" words.
std::string changes(const SimConfig& c) {
    const SimConfig d;
    std::ostringstream out;
    const auto field = [&](const char* name, const auto& value, const auto& base) {
        if (value != base) out << (out.tellp() > 0 ? " " : "") << name << "=" << value;
    };
    field("chip", c.chip, d.chip);
    field("position", int(c.position), int(d.position));
    field("image", c.imageFile, d.imageFile);
    field("clock", c.clock, d.clock);
    field("identity", c.identity, d.identity);
    field("realtime", c.realTime, d.realTime);
    field("plugged", c.plugged, d.plugged);
    field("tray", c.trayCount, d.trayCount);
    field("tray-fail", c.trayFail, d.trayFail);
    field("unplug", c.faults.unplugAfter, d.faults.unplugAfter);
    field("stall", c.faults.stallAfter, d.faults.stallAfter);
    field("short", c.faults.shortAfter, d.faults.shortAfter);
    field("flip", c.faults.flipAfter, d.faults.flipAfter);
    field("noprogram", c.faults.noProgramAddress, d.faults.noProgramAddress);
    field("slow", c.faults.slowFactor, d.faults.slowFactor);
    field("slowest", c.faults.slowest, d.faults.slowest);
    field("seed", c.faults.seed, d.faults.seed);
    return out.str();
}

TEST(SimOptions, ValidOptionsSetExactlyWhatTheyName) {
    const std::pair<const char*, const char*> cases[] = {
        {"PIC16F628A", "chip=PIC16F628A"},
        {"pic16f877a", "chip=PIC16F877A"},
        {"empty", ""},
        {"PIC12F675,image=/tmp/a b.txt,clock=4", "chip=PIC12F675 image=/tmp/a b.txt clock=4"},
        {"PIC16F84A,unplug-after=12,stall-after=0,noprogram=1f", "chip=PIC16F84A unplug=12 stall=0 noprogram=31"},
        {"PIC16F88,short-after=3,flip-after=4,slow=1.5,seed=77,realtime,position=icsp,identity=DEADBEEF",
         "chip=PIC16F88 position=3 identity=3735928559 realtime=1 short=3 flip=4 slow=1.5 seed=77"},
        {"empty,unplugged,realtime=0", "plugged=0"},
        {"PIC16F877,position=socket28", "chip=PIC16F877 position=2"},
        {"PIC16F628A,slow", "chip=PIC16F628A slowest=1"},
        {"PIC16F628A,tray=10,tray-fail=3", "chip=PIC16F628A tray=10 tray-fail=3"},
        {"PIC16F84A,position=icsp,position=auto,seed=4294967295", "chip=PIC16F84A seed=4294967295"},
        {"PIC16F84A,position=socket18", "chip=PIC16F84A position=1"},
    };
    for (const auto& [options, expected] : cases) {
        SimConfig config;
        std::string error;
        ASSERT_TRUE(parseSimSetup(options, config, error)) << options << ": " << error;
        EXPECT_EQ(changes(config), expected) << options;
    }
}

TEST(SimOptions, InvalidOptionsGiveAPlainErrorAndLeaveTheConfigAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "chip name"}, {"PIC16F84", "no chip called \"PIC16F84\""}, {"PIC16F84A,clock=256", "1 to 255"},
        {"PIC16F84A,clock=fast", "clock"}, {"PIC16F84A,unplug-after=-1", "whole number"},
        {"PIC16F84A,noprogram=2000", "0 to 1FFF"}, {"PIC16F84A,noprogram=xyz", "hexadecimal"},
        {"PIC16F84A,slow=nan", "factor"}, {"PIC16F84A,slow=1001", "factor"}, {"PIC16F84A,image=", "file name"},
        {"PIC16F84A,colour=red", "unknown simulator option \"colour\""}, {"PIC16F84A,position=left", "socket8"},
        {"PIC16F84A,realtime=yes", "realtime"}, {"PIC16F84A,tray=0", "1 to 1000000"},
        {"PIC16F84A,tray=3,tray-fail=4", "not a chip of the tray"}, {"empty,tray=2", "needs a chip name"},
        {"PIC16F84A,seed=4294967296", "whole number"}, {"PIC16F84A,identity=1FFFFFFFF", "32-bit"},
        {"PIC16F84A,unplugged=1", "takes no value"},
    };
    for (const auto& [options, mentions] : cases) {
        SimConfig config;
        config.clock = 8;
        std::string error;
        EXPECT_FALSE(parseSimSetup(options, config, error)) << options;
        EXPECT_NE(error.find(mentions), std::string::npos) << options << ": " << error;
        EXPECT_EQ(changes(config), "clock=8") << options;
    }
}

} // namespace
