// SPDX-License-Identifier: MIT
// Self-check of the device catalogue that ships with the program: every line must be a device the
// program can select and operate without reading or writing outside a buffer, and must agree
// with the published facts of its chip as far as those can be seen from the line.

#include "device/Catalogue.h"
#include "device/CatalogueCheck.h"
#include "tests/catalogue/ShippedFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace {

// The devices the simulator models and the remembered default (PIC16F628) belongs to.
const std::vector<std::string> requiredDevices = {
    "PIC16F84A",  "PIC16F627A", "PIC16F628A", "PIC16F648A", "PIC16F870", "PIC16F871",
    "PIC16F877",  "PIC16F873A", "PIC16F874A", "PIC16F876A", "PIC16F877A", "PIC16F88",
    "PIC16F819",  "PIC12F629",  "PIC12F675",  "PIC16F630",  "PIC16F676",  "PIC16F628",
};

struct ParsedLine {
    CatalogueLine line;
    DeviceRecord record;
};

std::vector<ParsedLine> parsedDeviceLines() {
    std::vector<ParsedLine> parsed;
    for (const CatalogueLine& line : readDeviceLines(catalogueFile()))
        parsed.push_back({line, parseCatalogueLine(line.text)});
    // A loop over no lines would pass whatever it checks.
    EXPECT_EQ(parsed.size(), requiredDevices.size());
    return parsed;
}

std::string where(const ParsedLine& p) {
    return "line " + std::to_string(p.line.lineNumber) + " (" + p.record.name + ")";
}

// Columns of a line, split at TABs; the text after the last TAB is the last element.
std::vector<std::string> columnsOf(const std::string& text) {
    std::vector<std::string> columns;
    std::string::size_type start = 0;
    for (std::string::size_type tab = text.find('\t'); tab != std::string::npos;
         tab = text.find('\t', start)) {
        columns.push_back(text.substr(start, tab - start));
        start = tab + 1;
    }
    columns.push_back(text.substr(start));
    return columns;
}

int bitCount(unsigned value) {
    int count = 0;
    for (; value != 0; value &= value - 1) ++count;
    return count;
}

TEST(ShippedCatalogue, ListsExactlyTheSupportedDevicesOnce) {
    const CatalogueNames names = readCatalogueNames(catalogueFile());
    ASSERT_TRUE(names.opened) << catalogueFile();
    std::multiset<std::string> listed(names.names.begin(), names.names.end());
    for (const std::string& required : requiredDevices) {
        SCOPED_TRACE(required);
        EXPECT_EQ(listed.count(required), 1u);
        const CatalogueLookup lookup = findCatalogueDevice(catalogueFile(), required);
        ASSERT_TRUE(lookup.found);
        EXPECT_EQ(lookup.record.name, required);
    }
    EXPECT_EQ(names.names.size(), requiredDevices.size())
        << "the simulator's chip table covers exactly these devices";

    // The list the window shows is the file's order of device lines.
    std::vector<std::string> fromLines;
    for (const CatalogueLine& line : readDeviceLines(catalogueFile()))
        fromLines.push_back(columnsOf(line.text).front());
    EXPECT_EQ(names.names, fromLines);
}

TEST(ShippedCatalogue, EveryLineIsWellFormedAndUsable) {
    // The check users run on a line of their own passes every shipped line without a warning.
    const CatalogueCheck check = checkCatalogueFile(catalogueFile());
    EXPECT_TRUE(check.opened);
    for (const CatalogueProblem& problem : check.problems)
        ADD_FAILURE() << formatCatalogueProblem(catalogueFile(), problem);

    // Beyond that check, what the shipped devices hold to though a line of the user's need not.
    for (const ParsedLine& p : parsedDeviceLines()) {
        SCOPED_TRACE(where(p));
        const DeviceRecord& r = p.record;
        const std::vector<std::string> columns = columnsOf(p.line.text);
        ASSERT_GE(columns.size(), 15u);

        // Hexadecimal columns in upper case, as every reader of this format understands them.
        for (int column : {12, 13})
            EXPECT_TRUE(std::none_of(columns[column].begin(), columns[column].end(),
                                     [](char c) { return std::islower(static_cast<unsigned char>(c)); }))
                << "column " << column + 1 << ": " << columns[column];

        EXPECT_EQ(r.blankWord, 0x3FFF);
        EXPECT_EQ(std::set<int>({8, 14, 18, 28, 40}).count(r.socketPins), 1u) << r.socketPins;

        // Selectors outside these values make a step send nothing: a silent no-op on a chip.
        EXPECT_TRUE(r.eepromByteCount <= 256 && r.eraseMethod >= 1 && r.blockWords >= 1 && r.blockWords <= 11)
            << "EEPROM " << r.eepromByteCount << ", erase " << r.eraseMethod << ", block " << r.blockWords;
    }
}

TEST(ShippedCatalogue, DeviceIdsFitTheirMasksAndTellTheChipsApart) {
    std::vector<const DeviceRecord*> earlier;
    const std::vector<ParsedLine> lines = parsedDeviceLines();
    for (const ParsedLine& p : lines) {
        SCOPED_TRACE(where(p));
        const DeviceRecord& r = p.record;
        // Only revision bits are masked off: five of them, or four on the newer chips.
        EXPECT_TRUE(r.deviceIdMask == 0x3FE0 || r.deviceIdMask == 0x3FF0)
            << std::hex << r.deviceIdMask;
        // An ID bit outside the mask could never match: the check would always fail.
        EXPECT_EQ(r.expectedDeviceId & ~r.deviceIdMask, 0) << std::hex << r.expectedDeviceId;
        EXPECT_NE(r.expectedDeviceId, 0);

        // Two devices whose IDs coincide under both masks would each pass the other's check.
        for (const DeviceRecord* other : earlier) {
            const int32_t common = r.deviceIdMask & other->deviceIdMask;
            EXPECT_NE(other->expectedDeviceId & common, r.expectedDeviceId & common)
                << "same device ID as " << other->name;
        }
        earlier.push_back(&r);
    }
}

TEST(ShippedCatalogue, ConfigurationTagsNameEveryBit) {
    for (const ParsedLine& p : parsedDeviceLines()) {
        SCOPED_TRACE(where(p));
        const DeviceRecord& r = p.record;
        const std::vector<std::string> tags = splitTags(r.configBitTags);

        ASSERT_EQ(tags.size(), r.family == 2 ? 28u : 14u) << r.configBitTags;
        for (const std::string& tag : tags) {
            EXPECT_TRUE(tag.size() >= 3 && tag.front() == '[' && tag.back() == ']' &&
                        std::all_of(tag.begin() + 1, tag.end() - 1,
                                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
                << tag;
        }

        // Every device here can protect its program memory; protectOffBits must find those bits
        // or "Protect off" would leave a chip locked. Data protection has one bit at most (the
        // PIC16F84A has no separate one) and only where there is an EEPROM.
        const std::vector<std::string> word1(tags.begin(), tags.begin() + 14);
        const auto count = [&word1](const char* tag) {
            return std::count(word1.begin(), word1.end(), std::string(tag));
        };
        EXPECT_GE(count("[CP]"), 1);
        EXPECT_LE(count("[CPD]"), r.eepromByteCount > 0 ? 1 : 0);
        EXPECT_EQ(bitCount(r.protectOffBits), count("[CP]") + count("[CPD]"));
        EXPECT_EQ(bitCount(0xFFFFu - r.configKeepMask), count("[x]"));
    }
}

TEST(ShippedCatalogue, CalibrationValuesLieInsideTheChip) {
    int withCalibration = 0;
    for (const ParsedLine& p : parsedDeviceLines()) {
        SCOPED_TRACE(where(p));
        const DeviceRecord& r = p.record;
        if (!r.hasCalibrationWord) {
            EXPECT_EQ(r.calibrationAddress, 0u);
            EXPECT_EQ(r.calibrationBitsMask, 0);
            continue;
        }
        ++withCalibration;
        EXPECT_LT(r.calibrationAddress, static_cast<uint32_t>(r.programWordCount));
        EXPECT_NE(r.calibrationBitsMask, 0);
        // Calibration bits are implemented bits of configuration word 1 and never protection
        // bits: restoring them must not unprotect or protect the chip.
        EXPECT_EQ(r.calibrationBitsMask & ~(r.configKeepMask & 0x3FFF), 0);
        EXPECT_EQ(r.calibrationBitsMask & r.protectOffBits, 0);
    }
    EXPECT_EQ(withCalibration, 4) << "PIC12F629/675 and PIC16F630/676 carry OSCCAL and BG bits";
}

// The blank-chip checksums published in the programming specifications: program memory all
// 0x3FFF plus the configuration word under its implemented bits. They pin down which bits the
// [x] tags must mark. The 16F819 figure stands on one quoted source; it agrees with gputils'
// p16f819.inc, whose configuration symbols use all 14 bits: 2048 x 0x3FFF + 0x3FFF.
TEST(ShippedCatalogue, UnimplementedBitsAgreeWithPublishedBlankChecksums) {
    const struct {
        const char* name;
        uint16_t checksum;
    } published[] = {
        {"PIC16F84A", 0x3BFF}, {"PIC16F870", 0x33FF}, {"PIC16F873A", 0x1FCF},
        {"PIC16F877A", 0x0FCF}, {"PIC16F819", 0x37FF},
    };
    for (const auto& expected : published) {
        SCOPED_TRACE(expected.name);
        const CatalogueLookup lookup = findCatalogueDevice(catalogueFile(), expected.name);
        ASSERT_TRUE(lookup.found);
        const DeviceRecord& r = lookup.record;
        const uint32_t sum = static_cast<uint32_t>(r.programWordCount) * r.blankWord +
                             (r.configKeepMask & r.blankWord);
        EXPECT_EQ(sum & 0xFFFF, expected.checksum) << std::hex << (sum & 0xFFFF);
    }
}

}  // namespace
