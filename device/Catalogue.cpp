// SPDX-License-Identifier: MIT
#include "device/Catalogue.h"

#include "device/LineReader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

namespace {

constexpr int32_t maxProgramWords = 8192;   // the word-address map puts the user ID at 0x2000
constexpr int32_t maxEepromBytes = 256;     // EEPROM byte n sits at word 0x2100 + n
constexpr int32_t maxBlockWords = 11;       // the most that one command script holds
constexpr int catalogueColumns = 14;
// A real line is about 150 characters, the whole shipped file a few kilobytes; far past these an
// input is no device list (/dev/zero, a wrong file), and reading on would only wait and fill memory.
constexpr std::size_t maxLineLength = 4096;
constexpr std::size_t maxCatalogueBytes = 1024 * 1024;
// Reads, verifies and dumps walk memory in groups of 16 cells; a size between groups would leave
// its tail never read and never checked.
constexpr int32_t sizeGranule = 16;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text before the next TAB, and the rest after it. Without a TAB the column is empty and the
// rest is left as it is, so every later column reads empty too.
std::string_view takeColumn(std::string_view& rest) {
    std::string_view::size_type tab = rest.find('\t');
    if (tab == std::string_view::npos) return {};
    std::string_view column = rest.substr(0, tab);
    rest.remove_prefix(tab + 1);
    return column;
}

// Without a ":" the left side is empty and the right side is the whole text.
std::pair<std::string_view, std::string_view> splitPair(std::string_view text) {
    std::string_view::size_type colon = text.find(':');
    if (colon == std::string_view::npos) return {std::string_view{}, text};
    return {text.substr(0, colon), text.substr(colon + 1)};
}

// Doubling plus one, B times, kept as 16 bits: every B of 16 or more ends at all ones, so the
// result is computed directly instead of looping up to two thousand million times.
uint16_t blankWordForBits(int32_t bits) {
    if (bits <= 0) return 0;
    if (bits >= 16) return 0xFFFF;
    return static_cast<uint16_t>((1u << bits) - 1u);
}

std::string hexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::unique_ptr<std::FILE, int (*)(std::FILE*)> openForReading(const std::string& path) {
    return {std::fopen(path.c_str(), "rb"), &std::fclose};
}

}  // namespace

int32_t parseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Saturates at the 32-bit limits like the C library's conversions do.
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()}
                                   : int64_t{std::numeric_limits<int32_t>::max()};
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;
            // keep consuming digits; the value stays at the limit
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

ConfigMasks buildConfigMasks(std::string_view configBitTags) {
    ConfigMasks masks;
    uint16_t unimplemented = 0;
    std::string_view work = configBitTags;
    for (int bit = 13; bit >= 0; --bit) {
        std::string_view tag;
        std::string_view::size_type close = work.find(']');
        if (close != std::string_view::npos) {
            tag = work.substr(0, close + 1);
            work.remove_prefix(close + 1);
        }
        const uint16_t mask = static_cast<uint16_t>(1u << bit);
        if (tag == "[CP]" || tag == "[CPD]" || tag == "[*CP]" || tag == "[*CPD]")
            masks.protectOffBits |= mask;
        else if (tag == "[]" || tag == "[x]")
            unimplemented |= mask;
    }
    masks.configKeepMask = static_cast<uint16_t>(0xFFFF - unimplemented);
    return masks;
}

DeviceRecord parseCatalogueLine(std::string_view line) {
    DeviceRecord record;
    // A line cut short (an editor that strips the last TAB, a truncated copy) would read its
    // missing columns as 0: a device-ID check with mask 0 passes for any chip.
    const auto tabs = std::count(line.begin(), line.end(), '\t');
    std::string_view rest = line;

    record.name = std::string(takeColumn(rest));

    auto [words, bits] = splitPair(takeColumn(rest));
    record.programWordCount = parseDecimal(words);
    record.wordBits = parseDecimal(bits);
    record.blankWord = blankWordForBits(record.wordBits);

    record.eepromByteCount = parseDecimal(takeColumn(rest));

    record.configBitTags = std::string(takeColumn(rest));
    ConfigMasks masks = buildConfigMasks(record.configBitTags);
    record.configKeepMask = masks.configKeepMask;
    record.protectOffBits = masks.protectOffBits;

    record.socketPins = parseDecimal(takeColumn(rest));
    record.entrySequence = parseDecimal(takeColumn(rest));
    record.programMethod = parseDecimal(takeColumn(rest));
    record.eepromMethod = parseDecimal(takeColumn(rest));
    record.family = parseDecimal(takeColumn(rest));
    record.reservedValue = parseDecimal(takeColumn(rest));
    record.eraseMethod = parseDecimal(takeColumn(rest));
    record.blockWords = parseDecimal(takeColumn(rest));

    std::string_view calibration = takeColumn(rest);
    if (calibration == ":") {
        record.hasCalibrationWord = false;
        record.calibrationAddress = 0;
        record.calibrationBitsMask = 0;
    } else {
        auto [address, mask] = splitPair(calibration);
        record.hasCalibrationWord = true;
        record.calibrationAddress = parseHexDigits(address);
        record.calibrationBitsMask = static_cast<uint16_t>(parseHexDigits(mask));
    }

    std::string_view deviceId = takeColumn(rest);
    if (!deviceId.empty() && deviceId.front() == '-') {
        record.expectedDeviceId = 0x3FFF;
        record.deviceIdMask = 0;
    } else {
        auto [id, mask] = splitPair(deviceId);
        record.expectedDeviceId = static_cast<int32_t>(parseHexDigits(id));
        record.deviceIdMask = static_cast<int32_t>(parseHexDigits(mask));
    }

    // Sizes bound every buffer the image and the programmer allocate and walk; the calibration
    // address indexes program memory; the block size bounds one command script.
    auto refuse = [&record](std::string reason) {
        if (record.valid) {
            record.valid = false;
            record.invalidReason = std::move(reason);
        }
    };
    if (line.size() > maxLineLength)
        refuse("the line is longer than " + std::to_string(maxLineLength) + " characters");
    if (tabs < catalogueColumns)
        refuse("the line has " + std::to_string(tabs) + " of its " +
               std::to_string(catalogueColumns) + " TAB-ended columns");
    if (record.programWordCount < 0 || record.programWordCount > maxProgramWords)
        refuse("program memory of " + std::to_string(record.programWordCount) +
               " words is outside 0 to " + std::to_string(maxProgramWords));
    if (record.eepromByteCount < 0 || record.eepromByteCount > maxEepromBytes)
        refuse("EEPROM of " + std::to_string(record.eepromByteCount) +
               " bytes is outside 0 to " + std::to_string(maxEepromBytes));
    if (record.programWordCount % sizeGranule != 0)
        refuse("program memory of " + std::to_string(record.programWordCount) +
               " words is not a multiple of " + std::to_string(sizeGranule));
    if (record.eepromByteCount % sizeGranule != 0)
        refuse("EEPROM of " + std::to_string(record.eepromByteCount) +
               " bytes is not a multiple of " + std::to_string(sizeGranule));
    if (record.hasCalibrationWord &&
        (record.programWordCount <= 0 ||
         record.calibrationAddress >= static_cast<uint32_t>(record.programWordCount)))
        refuse("calibration word address " + hexText(record.calibrationAddress) +
               " is not inside program memory of " + std::to_string(record.programWordCount) +
               " words");
    if (record.programMethod == 2 &&
        (record.blockWords < 1 || record.blockWords > maxBlockWords))
        refuse("block size " + std::to_string(record.blockWords) +
               " is outside 1 to " + std::to_string(maxBlockWords) +
               " for block-wise programming");
    return record;
}

namespace {

// Hands every device line and its name to visit. False when the file cannot be opened, or cannot
// be read to its end: a half list would hide devices without a word. A line is kept to one
// character past the longest allowed, so that an over-long line is still seen as one.
template <typename Visit>
bool forEachDeviceLine(const std::string& path, bool& tooLarge, Visit visit) {
    tooLarge = false;
    auto file = openForReading(path);
    if (!file) return false;
    LineReader reader(file.get(), maxLineLength + 1, maxCatalogueBytes);
    std::string line;
    while (reader.next(line)) {
        if (!line.empty() && line.front() == ';') continue;
        std::string_view rest = line;
        visit(line, takeColumn(rest));
    }
    tooLarge = reader.exceeded();
    return !reader.failed() && !tooLarge;
}

}  // namespace

CatalogueNames readCatalogueNames(const std::string& path) {
    CatalogueNames result;
    bool tooLarge = false;
    result.opened = forEachDeviceLine(path, tooLarge, [&](const std::string&, std::string_view name) {
        result.names.emplace_back(name);
    });
    if (!result.opened) return CatalogueNames{false, tooLarge, {}};
    return result;
}

CatalogueLookup findCatalogueDevice(const std::string& path, const std::string& name) {
    CatalogueLookup result;
    bool tooLarge = false;
    result.opened = forEachDeviceLine(path, tooLarge, [&](const std::string& line, std::string_view lineName) {
        if (lineName != name) return;
        // Later lines of the same name replace earlier ones.
        result.record = parseCatalogueLine(line);
        result.found = true;
    });
    if (!result.opened) return CatalogueLookup{false, tooLarge, false, {}};
    return result;
}

CatalogueRecords readCatalogueRecords(const std::string& path) {
    CatalogueRecords result;
    bool tooLarge = false;
    result.opened = forEachDeviceLine(path, tooLarge, [&](const std::string& line, std::string_view name) {
        if (name.empty()) return;
        auto same = std::find_if(result.records.begin(), result.records.end(),
                                 [name](const DeviceRecord& r) { return r.name == name; });
        if (same != result.records.end()) *same = parseCatalogueLine(line);
        else result.records.push_back(parseCatalogueLine(line));
    });
    if (!result.opened) return CatalogueRecords{false, tooLarge, {}};
    return result;
}
