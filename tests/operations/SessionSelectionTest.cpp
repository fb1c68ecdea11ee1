// SPDX-License-Identifier: MIT
#include "SessionFixture.h"

#include <filesystem>
#include <fstream>

namespace {

// A catalogue line of the sample format: name, sizes and ID as given, everything else fixed.
std::string line(const std::string& name, const std::string& program, const std::string& eeprom,
                 const std::string& calibration = ":") {
    return name + "\t" + program + "\t" + eeprom +
           "\t[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]\t18\t1\t1\t0\t0\t0\t1\t1\t" +
           calibration + "\t1060:3FE0\t";
}

TEST_F(SessionTest, StartUpFillsTheListAndAppliesTheRememberedDevice) {
    const std::string catalogue =
        writeCatalogue({"; comment", line("ONE", "1024:14", "64"), line("TWO", "2048:14", "128"),
                        line("THREE", "2048:14", "0"), ""});
    ASSERT_TRUE(initialiseOn(catalogue, "TWO"));
    EXPECT_EQ(frontend.with("list: "), std::vector<std::string>{"ONE; TWO; THREE; ;"});
    EXPECT_EQ(frontend.with("selection: "), std::vector<std::string>{"1"});
    EXPECT_EQ(frontend.latest("captions: "), "Program Memorys = 2048 | EEPROM Memorys = 128");
    EXPECT_EQ(frontend.field(Field::ConfigWord), "30FF");
    EXPECT_EQ(frontend.field(Field::UserId), "FFFF");
    EXPECT_EQ(frontend.field(Field::DeviceId), "----");
    EXPECT_EQ(frontend.field(Field::Socket), "18pin");
    EXPECT_EQ(frontend.latest("programDump: ").size(), 256u * 50u);
    EXPECT_EQ(session->image.configWord, 0x30FF);
    EXPECT_EQ(session->programmer.configWord, 0x30FF);
    EXPECT_EQ(session->programmer.progressTotal, 2048u + 128u + 8u);
    EXPECT_EQ(frontend.latest("progress: "), "0");
    EXPECT_EQ(frontend.waitDepth, 0);
    EXPECT_EQ(frontend.maxWaitDepth, 1);
    EXPECT_EQ(session->programmer.writeUserId, 1);

}

// Each failed later selection shows its message, changes no device value, and puts the list
// back on the device that stays in use.
TEST_F(SessionTest, AFailedSelectionChangesNothing) {
    struct Case {
        const char* name;
        std::function<void(const std::string& catalogue)> damage;
        std::string selected;
        const char* message;
    };
    const Case cases[] = {
        {"catalogue missing", [](const std::string& path) { std::filesystem::remove(path); }, "TWO",
         texts::catalogueMissing},
        {"name no longer in the file",
         [](const std::string& path) {
             std::ofstream(path, std::ios::binary | std::ios::trunc)
                 << line("ONE", "1024:14", "64") << "\r\n";
         },
         "TWO", texts::catalogueInvalid},
        {"invalid line", [](const std::string&) {}, "BAD", texts::catalogueInvalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string catalogue =
            writeCatalogue({line("ONE", "1024:14", "64"), line("TWO", "2048:14", "128"),
                            line("BAD", "1024:14", "64", "400:3000")});
        ASSERT_TRUE(initialiseOn(catalogue, "ONE"));
        session->image.programWords[3] = 0x1234;
        c.damage(catalogue);
        frontend.calls.clear();
        session->onDeviceListChange(c.selected);

        EXPECT_EQ(frontend.messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(session->deviceName, "ONE");
        EXPECT_EQ(session->image.programWordCount, 1024u);
        EXPECT_EQ(session->image.programWords[3], 0x1234);
        EXPECT_EQ(session->programmer.programWordCount, 1024u);
        EXPECT_TRUE(frontend.with("captions").empty());
        EXPECT_TRUE(frontend.with("programDump").empty());
        // The list, showing whatever the user picked, goes back on the device in use.
        EXPECT_EQ(frontend.with("selection: "), std::vector<std::string>{"0"});
        EXPECT_EQ(frontend.waitDepth, 0);
    }
}

// A selection, the socket field and File Open would change what the worker is using, from its
// start checks on (the step's status comes later); the list goes back on the device in use.
TEST_F(SessionTest, NothingChangesTheDeviceWhileAChainRuns) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    recorder->holdAt(1);   // the device ID read
    session->onReadButton();
    ASSERT_TRUE(tickUntilHeld());
    EXPECT_TRUE(frontend.statuses().empty());
    EXPECT_FALSE(session->selectDevice("PIC16F84A", false));
    frontend.calls.clear();
    session->onDeviceListChange("PIC16F84A");
    const auto inUse = std::find(session->deviceNames.begin(), session->deviceNames.end(),
                                 std::string("PIC16F628A"));
    EXPECT_EQ(frontend.with("selection: "),
              std::vector<std::string>{std::to_string(inUse - session->deviceNames.begin())});
    session->onSocketFieldClick();
    const MemoryImage file = patternImage(0x21F8);
    const std::string path = tempPath("image.hex");
    ASSERT_TRUE(file.saveHex(path, true, 0x3FFF));
    EXPECT_FALSE(session->openHexFile(path));
    EXPECT_EQ(session->deviceName, "PIC16F628A");
    EXPECT_EQ(session->programmer.programWordCount, 2048u);
    EXPECT_NE(session->programmer.programWords[0], file.programWords[0]);
    EXPECT_TRUE(session->socketMode);
    recorder->release();
    ASSERT_TRUE(runChain());
    EXPECT_TRUE(session->lastChainOk);
}

}  // namespace
