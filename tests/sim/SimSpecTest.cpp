#include "sim/SimConfig.h"

#include <gtest/gtest.h>

namespace {

struct Good {
    const char* spec;
    void (*check)(const SimConfig&);
};

class GoodSpecs : public testing::TestWithParam<Good> {};

TEST_P(GoodSpecs, Parse) {
    SimConfig config;
    std::string error;
    ASSERT_TRUE(parseSimSpec(GetParam().spec, config, error)) << error;
    GetParam().check(config);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GoodSpecs,
    testing::Values(
        Good{"PIC16F628A",
             [](const SimConfig& c) {
                 EXPECT_EQ(c.chip, "PIC16F628A");
                 EXPECT_EQ(c.clock, 16);
                 EXPECT_EQ(c.faults.unplugAfter, -1);
                 EXPECT_FALSE(c.realTime);
             }},
        Good{"pic16f877a", [](const SimConfig& c) { EXPECT_EQ(c.chip, "PIC16F877A"); }},
        Good{"empty", [](const SimConfig& c) { EXPECT_TRUE(c.chip.empty()); }},
        Good{"PIC12F675,image=/tmp/a b.txt,clock=4",
             [](const SimConfig& c) {
                 EXPECT_EQ(c.imageFile, "/tmp/a b.txt");
                 EXPECT_EQ(c.clock, 4);
             }},
        Good{"PIC16F84A,unplug-after=12,stall-after=0,noprogram=1f",
             [](const SimConfig& c) {
                 EXPECT_EQ(c.faults.unplugAfter, 12);
                 EXPECT_EQ(c.faults.stallAfter, 0);
                 EXPECT_EQ(c.faults.noProgramAddress, 0x1F);
             }},
        Good{"PIC16F84A,noprogram=0x3FF", [](const SimConfig& c) { EXPECT_EQ(c.faults.noProgramAddress, 0x3FF); }},
        Good{"PIC16F88,short-after=3,flip-after=4,slow=1.5,seed=77,realtime,position=icsp,identity=DEADBEEF",
             [](const SimConfig& c) {
                 EXPECT_EQ(c.faults.shortAfter, 3);
                 EXPECT_EQ(c.faults.flipAfter, 4);
                 EXPECT_DOUBLE_EQ(c.faults.slowFactor, 1.5);
                 EXPECT_EQ(c.faults.seed, 77u);
                 EXPECT_TRUE(c.realTime);
                 EXPECT_EQ(c.position, SimPosition::Icsp);
                 EXPECT_EQ(c.identity, 0xDEADBEEFu);
             }},
        Good{"empty,unplugged,realtime=0",
             [](const SimConfig& c) {
                 EXPECT_FALSE(c.plugged);
                 EXPECT_FALSE(c.realTime);
             }},
        Good{"PIC16F877,position=socket28", [](const SimConfig& c) { EXPECT_EQ(c.position, SimPosition::Socket28_40); }}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

struct Bad {
    const char* spec;
    const char* mentions;
};

class BadSpecs : public testing::TestWithParam<Bad> {};

TEST_P(BadSpecs, GiveAPlainErrorAndLeaveTheConfigAlone) {
    SimConfig config;
    config.clock = 8;
    std::string error;
    EXPECT_FALSE(parseSimSpec(GetParam().spec, config, error));
    EXPECT_NE(error.find(GetParam().mentions), std::string::npos) << error;
    EXPECT_EQ(config.clock, 8);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadSpecs,
    testing::Values(Bad{"", "chip name"}, Bad{"PIC16F84", "no chip called \"PIC16F84\""},
                    Bad{"PIC18F452", "PIC18F452"}, Bad{"PIC16F84A,clock=0", "1 to 255"},
                    Bad{"PIC16F84A,clock=256", "1 to 255"}, Bad{"PIC16F84A,clock=fast", "clock"},
                    Bad{"PIC16F84A,unplug-after=-1", "whole number"}, Bad{"PIC16F84A,stall-after=", "stall-after"},
                    Bad{"PIC16F84A,noprogram=2000", "0 to 1FFF"}, Bad{"PIC16F84A,noprogram=xyz", "hexadecimal"},
                    Bad{"PIC16F84A,slow=0", "factor"}, Bad{"PIC16F84A,slow=nan", "factor"},
                    Bad{"PIC16F84A,image=", "file name"}, Bad{"PIC16F84A,colour=red", "unknown simulator option \"colour\""},
                    Bad{"PIC16F84A,position=left", "socket8"}, Bad{"PIC16F84A,realtime=yes", "realtime"},
                    Bad{"PIC16F84A,,clock=4", "unknown simulator option"}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

} // namespace
