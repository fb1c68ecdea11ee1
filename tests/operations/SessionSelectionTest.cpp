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

    // A later selection goes back to the socket and blanks both buffers.
    session->onSocketFieldClick();
    session->image.programWords[0] = 0;
    session->programmer.programWords[0] = 0;
    session->onDeviceListChange("THREE");
    EXPECT_EQ(frontend.field(Field::Socket), "18pin");
    EXPECT_TRUE(session->socketMode);
    EXPECT_EQ(session->image.programWords[0], 0x3FFF);
    EXPECT_EQ(session->programmer.programWords[0], 0x3FFF);
    EXPECT_EQ(frontend.latest("captions: "), "Program Memorys = 2048 | EEPROM Memorys = 0");
    EXPECT_EQ(frontend.latest("eepromDump: "), "");

    session->userIdOff = 5;   // any non-zero value counts as set
    ASSERT_TRUE(session->initialise());
    EXPECT_EQ(session->programmer.writeUserId, 0);

    // A remembered name no longer in the list applies nothing and says nothing.
    ASSERT_TRUE(initialiseOn(catalogue, "GONE"));
    EXPECT_TRUE(frontend.with("selection: ").empty());
    EXPECT_TRUE(frontend.with("captions: ").empty());
    EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(SessionTest, TheLastLineOfANameWins) {
    ASSERT_TRUE(initialiseOn(
        writeCatalogue({line("DUP", "1024:14", "64"), line("DUP", "2048:14", "128", "3FF:3000")}),
        "DUP"));
    EXPECT_EQ(frontend.latest("list: "), "DUP; DUP;");
    EXPECT_EQ(frontend.latest("selection: "), "0");
    EXPECT_EQ(frontend.latest("captions: "), "Program Memorys = 2048 | EEPROM Memorys = 128");
    EXPECT_TRUE(session->hasCalibrationWord);
    EXPECT_EQ(session->programmer.calibrationAddress, 0x3FFu);
    EXPECT_EQ(session->programmer.calibrationBitsMask, 0x3000);
}

// The first folder that holds a catalogue is used; with none, start-up shows the message.
TEST_F(SessionTest, TheCatalogueIsLookedForInTheFoldersInOrder) {
    const std::string empty = tempPath("empty");
    std::filesystem::create_directory(empty);
    ASSERT_TRUE(initialiseOn("", "PIC16F628A", {empty, KORVALIN_DATA_DIR, empty}));
    EXPECT_EQ(std::filesystem::path(session->catalogPath),
              std::filesystem::path(KORVALIN_DATA_DIR) / "PicDeviceList.txt");
    EXPECT_EQ(session->expectedDeviceId, 0x1060);

    EXPECT_FALSE(initialiseOn("", "PIC16F84A", {empty, tempPath("nowhere")}));
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::catalogueMissing});
    EXPECT_TRUE(frontend.with("list").empty());
    EXPECT_TRUE(frontend.with("captions").empty());

    // A file grown past any catalogue's size is no catalogue.
    const std::string huge = tempPath("huge.txt");
    std::ofstream(huge, std::ios::binary) << std::string((1 << 20) + 1, '\n');
    EXPECT_FALSE(initialiseOn(huge, "PIC16F84A"));
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::catalogueInvalid});
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
        {"grown too large",
         [](const std::string& path) { std::ofstream(path, std::ios::app) << std::string(1 << 20, '\n'); },
         "TWO", texts::catalogueInvalid},
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

// A selection, the socket field and File Open would change what the worker is using, in the
// step and in its start checks alike; the list goes back on the device in use.
TEST_F(SessionTest, NothingChangesTheDeviceWhileAChainRuns) {
    for (const bool inStartChecks : {false, true}) {
        SCOPED_TRACE(inStartChecks ? "in the start checks" : "in the step");
        ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
        if (inStartChecks)
            recorder->holdAt(1);   // the device ID read
        else
            holdInStep(kRead, 1);
        session->onReadButton();
        ASSERT_TRUE(tickUntilHeld());
        EXPECT_EQ(frontend.statuses().empty(), inStartChecks);
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
}

}  // namespace
