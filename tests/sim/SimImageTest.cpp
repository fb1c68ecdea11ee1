// SPDX-License-Identifier: MIT
#include "SimRig.h"
#include "sim/SimImageFile.h"
#include "tests/device/TestFiles.h"

#include <filesystem>
#include <tuple>

namespace {

namespace fs = std::filesystem;

SimChipState loaded(const std::string& path) {
    SimChipState state;
    std::string text, error;
    EXPECT_TRUE(readWholeFile(path, text));
    EXPECT_TRUE(parseSimImage(text, state, error)) << error;
    return state;
}

auto fields(const SimChipState& s) {
    return std::make_tuple(s.present, s.device, s.programWords, s.eepromBytes, std::vector<uint16_t>(s.userIds, s.userIds + 4),
                           s.configWord, s.configWord2, s.deviceIdWord, s.factoryCalibrationWord, s.factoryCalibrationBits);
}

TEST(SimImage, FormatAndParseRoundTripAndRefuseBrokenText) {
    SimulatedDriver sim;
    sim.insertChip("PIC12F675");
    SimChipState s = sim.chipState();
    s.programWords[1023] = 0x3412;
    s.eepromBytes[127] = 0x42;
    s.userIds[3] = 0x000C;
    s.configWord = 0x3184;
    SimChipState back;
    std::string error;
    ASSERT_TRUE(parseSimImage(formatSimImage(s), back, error)) << error;
    EXPECT_EQ(fields(back), fields(s));
    // Edited on another system: CRLF line ends, the first line's too, and blank lines read the
    // same (a CR on the first line used to refuse the whole image).
    std::string crlf;
    for (const char c : formatSimImage(s)) crlf += c == '\n' ? std::string("\r\n\r\n") : std::string(1, c);
    SimChipState fromCrlf;
    ASSERT_TRUE(parseSimImage(crlf, fromCrlf, error)) << error;
    EXPECT_EQ(fields(fromCrlf), fields(s));

    const struct {
        const char* from; // "" appends
        const char* to;   // nullptr: the text ends where from begins
    } edits[] = {
        {"KorvalinSimChip 1", "Intel HEX"}, {"PIC12F675", "PIC99"},         {"program 03F0", "program 03F1"},
        {"", "program 0000 3FFF\n"},        {"config 3184", "config 4000"}, {"eeprom 0000 FF", "eeprom 0000 G1"},
        {"", "colour blue\n"},              {"", "eeprom 0080 00\n"},     {"userids", "userids 0000"},
        {"device", "program 0000 3FFF\ndevice"}, {"program 03F0", nullptr},
    };
    for (const auto& e : edits) {
        std::string text = formatSimImage(s);
        const std::size_t at = *e.from ? text.find(e.from) : text.size();
        ASSERT_NE(at, std::string::npos) << e.from;
        if (e.to)
            text.replace(at, std::string(e.from).size(), e.to);
        else
            text.resize(at);
        SimChipState out;
        error.clear();
        SCOPED_TRACE(std::string(e.from) + " -> " + (e.to ? e.to : "(cut)"));
        EXPECT_FALSE(parseSimImage(text, out, error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(out.present);
    }
}

// That the next run finds the chip as the last one left it is pinned end to end in tests/cli;
// through a symbolic link the image itself is read and written, and the link stays.
TEST(SimImage, AnImageIsKeptThroughALink) {
    TempFolder dir;
    SimConfig config;
    config.chip = "PIC16F628A";
    config.imageFile = dir.path("chip.txt");
    ASSERT_TRUE(SimulatedDriver(config).saveImage());
    const std::string link = dir.path("link.txt");
    fs::create_symlink(config.imageFile, link);
    config.imageFile = link;
    {
        SimulatedDriver sim(config);
        SimChipState s = sim.chipState();
        s.programWords[8] = 0x0888;
        ASSERT_TRUE(sim.setChipState(s));
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(loaded(dir.path("chip.txt")).programWords[8], 0x0888);
    EXPECT_EQ(SimulatedDriver(config).chipState().programWords[8], 0x0888);
}

// Files of another kind, of another chip or held by another run are pinned end to end
// (tests/cli, file errors); these are the refusals the command line cannot make.
TEST(SimImage, AForeignFileIsNeverOverwrittenAndNothingIsSavedWithoutAFileOrAChip) {
    TempFolder dir;
    SimConfig config;
    config.chip = "PIC16F84A";
    SimulatedDriver other;
    other.insertChip("PIC16F84A");
    const std::string ownChip = formatSimImage(other.chipState());
    const struct {
        const char* name;
        std::string content;
        fs::perms perms;
        const char* why;
    } cases[] = {
        {"readonly.txt", ownChip, fs::perms::owner_read, "read-only"},
        {"huge.txt", ownChip + std::string(maxSimImageBytes, '\n'), fs::perms::owner_all,
         "far larger than any chip image"},
    };
    for (const auto& c : cases) {
        config.imageFile = dir.path(c.name);
        writeText(config.imageFile, c.content);
        fs::permissions(config.imageFile, c.perms);
        {
            SimulatedDriver sim(config);
            EXPECT_FALSE(sim.saveImage()) << c.name;
            EXPECT_NE(sim.imageError().find(c.why), std::string::npos) << c.name << ": " << sim.imageError();
        }
        EXPECT_EQ(readText(config.imageFile), c.content) << c.name;
    }

    SimulatedDriver noFile;
    noFile.insertChip("PIC16F84A");
    EXPECT_FALSE(noFile.saveImage());
    config.chip.clear();
    config.imageFile = dir.path("empty.txt");
    EXPECT_FALSE(SimulatedDriver(config).saveImage());
    EXPECT_FALSE(fs::exists(config.imageFile));
}

} // namespace
