// SPDX-License-Identifier: MIT
#include "SimRig.h"
#include "sim/SimImageFile.h"
#include "tests/device/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
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
        {"", "colour blue\n"},              {"", "eeprom 0080 00\n"},
        {"device PIC12F675", "device PIC12F675 PIC12F629"}, {"userids", "userids 0000"},
        {"userids 3FFF", "userids ZZZZ"},   {"factory ", "factory 0000 "}, {"program 03F0 ", "program 03F0 4000 "},
        {"eeprom 0070", "eeprom 0070\neeprom"}, {"device", "program 0000 3FFF\ndevice"},
        {"device", nullptr},                {"program 03F0", nullptr},     {"eeprom 0070", nullptr},
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

// That the next run finds the chip as the last one left it is pinned end to end in tests/cli.
TEST(SimImage, AnImageIsSavedAtOnceOnRequestAndThroughALink) {
    TempFolder dir;
    SimConfig config;
    config.imageFile = dir.path("chip.txt");
    {
        SimRig rig("PIC16F628A", config);
        rig.enter();
        rig.step(7);
        rig.write(0x02, 0x0777);
        rig.leave();
        ASSERT_TRUE(rig.sim.saveImage());
        EXPECT_EQ(loaded(config.imageFile).programWords[7], 0x0777);
    }
    // Through a symbolic link the image itself is read and written, and the link stays.
    const std::string link = dir.path("link.txt");
    fs::create_symlink(config.imageFile, link);
    config.imageFile = link;
    {
        SimRig rig("PIC16F628A", config);
        EXPECT_EQ(rig.sim.chipState().programWords[7], 0x0777);
        SimChipState s = rig.sim.chipState();
        s.programWords[8] = 0x0888;
        ASSERT_TRUE(rig.sim.setChipState(s));
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(loaded(dir.path("chip.txt")).programWords[8], 0x0888);
}

TEST(SimImage, AForeignFileIsNeverOverwrittenAndNothingIsSavedWithoutAFileOrAChip) {
    TempFolder dir;
    SimConfig config;
    config.chip = "PIC16F84A";
    SimulatedDriver other;
    other.insertChip("PIC16F628A");
    const std::string otherChip = formatSimImage(other.chipState());
    other.insertChip("PIC16F84A");
    const std::string ownChip = formatSimImage(other.chipState());
    const struct {
        const char* name;
        std::string content;
        fs::perms perms;
        bool heldByAnother;
        const char* why;
    } cases[] = {
        {"program.hex", ":020000040000FA\n:00000001FF\n", fs::perms::owner_all, false, "else than a chip image"},
        {"628a.txt", otherChip, fs::perms::owner_all, false, "holds a PIC16F628A, not the PIC16F84A"},
        {"readonly.txt", ownChip, fs::perms::owner_read, false, "read-only"},
        {"busy.txt", ownChip, fs::perms::owner_all, true, "another process is using it"},
        {"huge.txt", ownChip + std::string(maxSimImageBytes, '\n'), fs::perms::owner_all, false,
         "far larger than any chip image"},
    };
    for (const auto& c : cases) {
        config.imageFile = dir.path(c.name);
        writeText(config.imageFile, c.content);
        fs::permissions(config.imageFile, c.perms);
        std::optional<SimulatedDriver> holder;
        if (c.heldByAnother) holder.emplace(config);
        {
            SimulatedDriver sim(config);
            EXPECT_FALSE(sim.saveImage()) << c.name;
            EXPECT_NE(sim.imageError().find(c.why), std::string::npos) << c.name << ": " << sim.imageError();
        }
        holder.reset();
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
