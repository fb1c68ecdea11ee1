#include "SessionFixture.h"

#include "operations/Texts.h"

#include <filesystem>
#include <fstream>

namespace {

// A catalogue line of the sample format: name, sizes and ID as given, everything else fixed.
std::string line(const std::string& name, const std::string& program, const std::string& eeprom,
                 const std::string& calibration = ":", const std::string& id = "1060:3FE0") {
    return name + "\t" + program + "\t" + eeprom +
           "\t[CP][CP][x][x][x][x][CPD][B6][B5][B4][B3][B2][B1][B0]\t18\t1\t1\t0\t0\t0\t1\t1\t" +
           calibration + "\t" + id + "\t";
}

class SelectionTest : public SessionTest {
protected:
    // A session on a catalogue of these lines, no chip, nothing attached.
    void start(const std::vector<std::string>& lines, const std::string& remembered) {
        catalogue = writeCatalogue("catalogue.txt", lines);
        sim = std::make_unique<SimulatedDriver>(SimConfig{});
        recorder = std::make_unique<RecordingDriver>(*sim);
        session = std::make_unique<Session>(frontend, recorder.get());
        session->catalogPath = catalogue;
        session->deviceName = remembered;
        initialised = session->initialise();
    }
    std::string catalogue;
    bool initialised = false;
};

TEST_F(SelectionTest, StartUpFillsTheListAndAppliesTheRememberedDevice) {
    start({"; comment", line("ONE", "1024:14", "64"), line("TWO", "2048:14", "128"), ""}, "TWO");
    ASSERT_TRUE(initialised);
    EXPECT_EQ(frontend.deviceList, (std::vector<std::string>{"ONE", "TWO", ""}));
    EXPECT_EQ(frontend.selection, 1);
    EXPECT_EQ(frontend.programCaption, "Program Memorys = 2048");
    EXPECT_EQ(frontend.eepromCaption, "EEPROM Memorys = 128");
    EXPECT_EQ(frontend.field(Field::ConfigWord), "30FF");
    EXPECT_EQ(frontend.field(Field::UserId), "FFFF");
    EXPECT_EQ(frontend.field(Field::DeviceId), "----");
    EXPECT_EQ(frontend.field(Field::Socket), "18pin");
    EXPECT_EQ(frontend.programDump.size(), 256u * 50u);
    EXPECT_EQ(frontend.eepromDump.size(), 16u * 34u);
    EXPECT_EQ(session->image.configWord, 0x30FF);
    EXPECT_EQ(session->programmer.configWord, 0x30FF);
    EXPECT_EQ(session->configKeepMask, 0xF0FF);
    EXPECT_EQ(session->protectOffBits, 0x3080);
    EXPECT_EQ(session->programmer.progressTotal, 2048u + 128u + 8u);
    EXPECT_EQ(frontend.progress, 0);
    EXPECT_EQ(frontend.waitDepth, 0);
    EXPECT_EQ(frontend.maxWaitDepth, 1);
    EXPECT_EQ(session->programmer.writeUserId, 1);
}

TEST_F(SelectionTest, TheUserIdOptionReachesTheProgrammerAtStartUp) {
    catalogue = writeCatalogue("catalogue.txt", {line("ONE", "1024:14", "64")});
    sim = std::make_unique<SimulatedDriver>(SimConfig{});
    session = std::make_unique<Session>(frontend, sim.get());
    session->catalogPath = catalogue;
    session->deviceName = "ONE";
    session->userIdOff = 5;   // any non-zero value counts as set
    ASSERT_TRUE(session->initialise());
    EXPECT_EQ(session->programmer.writeUserId, 0);
}

TEST_F(SelectionTest, TheLastLineOfANameWins) {
    start({line("DUP", "1024:14", "64"), line("DUP", "2048:14", "128", "3FF:3000")}, "DUP");
    EXPECT_EQ(frontend.deviceList, (std::vector<std::string>{"DUP", "DUP"}));
    EXPECT_EQ(frontend.selection, 0);
    EXPECT_EQ(frontend.programCaption, "Program Memorys = 2048");
    EXPECT_TRUE(session->hasCalibrationWord);
    EXPECT_EQ(session->programmer.calibrationAddress, 0x3FFu);
    EXPECT_EQ(session->programmer.calibrationBitsMask, 0x3000);
}

TEST_F(SelectionTest, ARememberedNameNotInTheListAppliesNothing) {
    start({line("ONE", "1024:14", "64")}, "GONE");
    EXPECT_TRUE(initialised);
    EXPECT_EQ(frontend.selection, -1);
    EXPECT_EQ(frontend.programCaption, "Program Memorys");
    EXPECT_EQ(session->image.programWordCount, 2048u);
    EXPECT_EQ(session->deviceName, "GONE");
    EXPECT_TRUE(frontend.messages().empty());
}

TEST_F(SelectionTest, AMissingCatalogueAtStartUpEndsTheSession) {
    sim = std::make_unique<SimulatedDriver>(SimConfig{});
    session = std::make_unique<Session>(frontend, sim.get());
    session->catalogueDirs = {tempPath("nowhere"), tempPath("neither")};
    EXPECT_FALSE(session->initialise());
    EXPECT_EQ(frontend.messages(), std::vector<std::string>{texts::catalogueMissing});
    EXPECT_TRUE(frontend.with("list: ").empty());
    EXPECT_EQ(session->deviceName, "PIC16F628");
}

TEST_F(SelectionTest, TheCatalogueIsTheFirstFolderThatHoldsOne) {
    const std::string empty = tempPath("empty");
    std::filesystem::create_directory(empty);
    sim = std::make_unique<SimulatedDriver>(SimConfig{});
    session = std::make_unique<Session>(frontend, sim.get());
    session->catalogueDirs = {empty, KORVALIN_DATA_DIR, empty};
    session->deviceName = "PIC16F628A";
    ASSERT_TRUE(session->initialise());
    EXPECT_EQ(std::filesystem::path(session->catalogPath),
              std::filesystem::path(KORVALIN_DATA_DIR) / "PicDeviceList.txt");
    EXPECT_EQ(session->deviceIdMask, 0x3FE0);
    EXPECT_EQ(session->expectedDeviceId, 0x1060);
}

// Each failed later selection shows its message, changes no device value, and puts the list
// back on the device that stays in use.
struct FailedSelection {
    const char* name;
    std::function<void(const std::string& catalogue)> damage;
    std::string selected;
    const char* message;
};

class FailedSelectionTest : public SelectionTest,
                            public ::testing::WithParamInterface<FailedSelection> {};

TEST_P(FailedSelectionTest, NothingChanges) {
    const FailedSelection& c = GetParam();
    start({line("ONE", "1024:14", "64"), line("TWO", "2048:14", "128"),
           line("BAD", "1024:14", "64", "400:3000")},
          "ONE");
    session->image.programWords[3] = 0x1234;
    c.damage(catalogue);
    frontend.clear();
    frontend.selection = -7;   // the list shows whatever the user picked
    session->onDeviceListChange(c.selected);

    EXPECT_EQ(frontend.messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(session->deviceName, "ONE");
    EXPECT_EQ(session->image.programWordCount, 1024u);
    EXPECT_EQ(session->image.programWords[3], 0x1234);
    EXPECT_EQ(session->programmer.programWordCount, 1024u);
    EXPECT_TRUE(frontend.with("captions: ").empty());
    EXPECT_TRUE(frontend.with("programDump").empty());
    EXPECT_EQ(frontend.selection, 0);
    EXPECT_EQ(frontend.waitDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Later, FailedSelectionTest,
    ::testing::Values(
        FailedSelection{"CatalogueMissing",
                        [](const std::string& path) { std::filesystem::remove(path); }, "TWO",
                        texts::catalogueMissing},
        FailedSelection{"NameNoLongerInTheFile",
                        [](const std::string& path) {
                            std::ofstream(path, std::ios::binary | std::ios::trunc)
                                << line("ONE", "1024:14", "64") << "\r\n";
                        },
                        "TWO", texts::catalogueInvalid},
        FailedSelection{"InvalidLine", [](const std::string&) {}, "BAD",
                        texts::catalogueInvalid}),
    [](const ::testing::TestParamInfo<FailedSelection>& info) { return std::string(info.param.name); });

TEST_F(SelectionTest, ASelectionResetsProgressSocketModeAndBuffers) {
    start({line("ONE", "1024:14", "64"), line("TWO", "2048:14", "0")}, "ONE");
    session->onSocketFieldClick();
    EXPECT_EQ(frontend.field(Field::Socket), "ICSP");
    session->image.programWords[0] = 0;
    session->programmer.programWords[0] = 0;
    session->onDeviceListChange("TWO");
    EXPECT_EQ(frontend.field(Field::Socket), "18pin");
    EXPECT_TRUE(session->socketMode);
    EXPECT_EQ(session->image.programWords[0], 0x3FFF);
    EXPECT_EQ(session->programmer.programWords[0], 0x3FFF);
    EXPECT_EQ(frontend.eepromCaption, "EEPROM Memorys = 0");
    EXPECT_EQ(frontend.eepromDump, "");
    EXPECT_EQ(session->deviceName, "TWO");
}

TEST_F(SessionTest, NoSelectionWhileAChainRuns) {
    ASSERT_NO_FATAL_FAILURE(open("PIC16F628A", "PIC16F628A"));
    frontend.onStatus = [this](const std::string& s) {
        if (s == "Program / EEPROM Read") recorder->holdAt(1);
    };
    session->onReadButton();
    ASSERT_TRUE(recorder->waitUntilHeld());
    EXPECT_FALSE(session->selectDevice("PIC16F84A", false));
    session->onDeviceListChange("PIC16F84A");
    session->onSocketFieldClick();
    EXPECT_FALSE(session->openHexFile(shippedCataloguePath()));
    EXPECT_EQ(session->deviceName, "PIC16F628A");
    EXPECT_EQ(session->programmer.programWordCount, 2048u);
    EXPECT_TRUE(session->socketMode);
    recorder->release();
    ASSERT_TRUE(runChain());
}

}  // namespace
