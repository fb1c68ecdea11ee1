#include "SimRig.h"
#include "sim/SimImageFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("korvalin-sim-" + std::to_string(::getpid()) + "-" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string file(const char* name) const { return (path / name).string(); }
};

SimChipState sample() {
    SimulatedDriver sim;
    sim.insertChip("PIC12F675");
    SimChipState s = sim.chipState();
    s.programWords[0] = 0x2805;
    s.programWords[1023] = 0x3412;
    s.eepromBytes[127] = 0x42;
    s.userIds[3] = 0x000C;
    s.configWord = 0x3184;
    return s;
}

TEST(SimImage, FormatAndParseRoundTrip) {
    const SimChipState s = sample();
    SimChipState back;
    std::string error;
    ASSERT_TRUE(parseSimImage(formatSimImage(s), back, error)) << error;
    EXPECT_TRUE(back.present);
    EXPECT_EQ(back.device, s.device);
    EXPECT_EQ(back.programWords, s.programWords);
    EXPECT_EQ(back.eepromBytes, s.eepromBytes);
    EXPECT_TRUE(std::equal(std::begin(back.userIds), std::end(back.userIds), std::begin(s.userIds)));
    EXPECT_EQ(back.configWord, s.configWord);
    EXPECT_EQ(back.configWord2, s.configWord2);
    EXPECT_EQ(back.deviceIdWord, s.deviceIdWord);
    EXPECT_EQ(back.factoryCalibrationWord, s.factoryCalibrationWord);
    EXPECT_EQ(back.factoryCalibrationBits, s.factoryCalibrationBits);
}

struct BadImage {
    const char* what;
    std::string (*edit)(std::string);
};

std::string replaceFirst(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

class BadImages : public testing::TestWithParam<BadImage> {};

TEST_P(BadImages, AreRefusedWithAReason) {
    const std::string text = GetParam().edit(formatSimImage(sample()));
    SimChipState out;
    std::string error;
    EXPECT_FALSE(parseSimImage(text, out, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(out.present);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, BadImages,
    testing::Values(
        BadImage{"header", [](std::string t) { return replaceFirst(t, "KorvalinSimChip 1", "Intel HEX"); }},
        BadImage{"device", [](std::string t) { return replaceFirst(t, "PIC12F675", "PIC99"); }},
        BadImage{"missing_words", [](std::string t) { return replaceFirst(t, "program 03F0", "program 03F1"); }},
        BadImage{"twice", [](std::string t) { return t + "program 0000 3FFF\n"; }},
        BadImage{"too_wide", [](std::string t) { return replaceFirst(t, "config 3184", "config 4000"); }},
        BadImage{"not_hex", [](std::string t) { return replaceFirst(t, "eeprom 0000 FF", "eeprom 0000 G1"); }},
        BadImage{"unknown_key", [](std::string t) { return t + "colour blue\n"; }},
        BadImage{"beyond", [](std::string t) { return t + "eeprom 0080 00\n"; }}),
    [](const auto& p) { return std::string(p.param.what); });

TEST(SimImage, AChipKeepsItsMemoriesBetweenRuns) {
    TempDir dir;
    SimConfig config;
    config.chip = "PIC16F628A";
    config.imageFile = dir.file("chip.txt");
    {
        SimRig rig("PIC16F628A", config);
        rig.enter();
        rig.step(7);
        rig.writeProgram(0x0777);
        rig.leave();
    }
    ASSERT_TRUE(fs::exists(config.imageFile));
    {
        SimRig rig("PIC16F628A", config);
        EXPECT_EQ(rig.sim.chipState().programWords[7], 0x0777);
        rig.enter();
        rig.step(7);
        EXPECT_EQ(rig.readProgram(), 0x0777);
    }
    // Another device in the socket starts fresh and takes the file over.
    config.chip = "PIC16F84A";
    {
        SimulatedDriver sim(config);
        EXPECT_EQ(sim.chipState().programWords[7], 0x3FFF);
    }
    SimChipState saved;
    std::string text, error;
    ASSERT_TRUE(readWholeFile(config.imageFile, text));
    ASSERT_TRUE(parseSimImage(text, saved, error)) << error;
    EXPECT_EQ(saved.device, "PIC16F84A");
    EXPECT_FALSE(fs::exists(config.imageFile + ".tmp" + std::to_string(::getpid())));
}

TEST(SimImage, SaveImageWritesNow) {
    TempDir dir;
    SimConfig config;
    config.chip = "PIC16F877A";
    config.imageFile = dir.file("now.txt");
    SimulatedDriver sim(config);
    SimChipState s = sim.chipState();
    s.eepromBytes[5] = 0x55;
    ASSERT_TRUE(sim.setChipState(s));
    ASSERT_TRUE(sim.saveImage());
    std::string text, error;
    ASSERT_TRUE(readWholeFile(config.imageFile, text));
    SimChipState back;
    ASSERT_TRUE(parseSimImage(text, back, error)) << error;
    EXPECT_EQ(back.eepromBytes[5], 0x55);
}

TEST(SimImage, AForeignFileIsNeverOverwritten) {
    TempDir dir;
    SimConfig config;
    config.chip = "PIC16F84A";
    config.imageFile = dir.file("program.hex");
    const std::string foreign = ":020000040000FA\n:00000001FF\n";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(config.imageFile, foreign, error)) << error;
    {
        SimulatedDriver sim(config);
        EXPECT_FALSE(sim.saveImage());
    }
    std::string text;
    ASSERT_TRUE(readWholeFile(config.imageFile, text));
    EXPECT_EQ(text, foreign);
}

TEST(SimImage, NothingToSaveWithoutAFileOrAChip) {
    SimulatedDriver noFile;
    noFile.insertChip("PIC16F84A");
    EXPECT_FALSE(noFile.saveImage());
    TempDir dir;
    SimConfig config;
    config.imageFile = dir.file("empty.txt");
    SimulatedDriver empty(config);
    EXPECT_FALSE(empty.saveImage());
    EXPECT_FALSE(fs::exists(config.imageFile));
}

} // namespace
