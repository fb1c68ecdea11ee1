// SPDX-License-Identifier: MIT
// The Intel HEX side of MemoryImage, in the PIC convention: byte address = 2 x word address, each
// word low byte first, EEPROM at word 0x2100, user ID and configuration words at 0x2000.

#include "device/HexNumber.h"
#include "device/MemoryImage.h"

#include <algorithm>

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

// A field cut out of the line at its offset; the part beyond the line's end simply is not there.
uint32_t field(std::string_view line, std::size_t offset, std::size_t width) {
    if (offset >= line.size()) return 0;
    return parseHexDigits(line.substr(offset, width));
}

// Every pair after the colon is a hex byte and all of them, checksum included, sum to 0.
bool checksumHolds(std::string_view record) {
    uint32_t sum = 0;
    for (std::size_t at = 1; at + 1 < record.size(); at += 2) {
        const std::string_view pair = record.substr(at, 2);
        if (pair.find_first_not_of("0123456789ABCDEFabcdef") != std::string_view::npos) return false;
        sum += parseHexDigits(pair);
    }
    return (sum & 0xFF) == 0;
}

void appendHex(std::string& out, uint32_t value, int width) {
    int digits = 1;
    for (uint32_t rest = value >> 4; rest != 0; rest >>= 4) ++digits;
    digits = std::max(digits, width);
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out.push_back(hexDigits[(value >> shift) & 0xF]);
}

void appendRecord(std::string& out, uint32_t byteCount, uint32_t address, uint32_t recordType,
                  const uint16_t* words) {
    uint32_t sum = byteCount + (address >> 8) + address + recordType;
    out.push_back(':');
    appendHex(out, byteCount, 2);
    appendHex(out, address, 4);
    appendHex(out, recordType, 2);
    for (uint32_t k = 0; k < byteCount / 2; ++k) {
        const uint32_t low = words[k] & 0xFFu;
        const uint32_t high = static_cast<uint32_t>(words[k] >> 8);
        appendHex(out, low, 2);
        appendHex(out, high, 2);
        sum += low + high;
    }
    appendHex(out, (0x100 - (sum & 0xFF)) & 0xFF, 2);
    out += "\r\n";
}

// Groups of 8 cells, all 8 blank ones left out. A region that does not end on a whole group
// ends with a shorter record rather than reading past its last cell.
void appendRegion(std::string& out, const uint16_t* cells, std::size_t count, uint32_t baseWord,
                  uint16_t skip) {
    for (std::size_t first = 0; first < count; first += 8) {
        const std::size_t inGroup = std::min<std::size_t>(8, count - first);
        const uint16_t* group = cells + first;
        if (std::all_of(group, group + inGroup, [skip](uint16_t cell) { return cell == skip; }))
            continue;
        appendRecord(out, static_cast<uint32_t>(2 * inGroup),
                     static_cast<uint32_t>(2 * (baseWord + first)), 0x00, group);
    }
}

}  // namespace

void MemoryImage::parseHexLine(std::string_view line) {
    HexLoadReport ignored;
    parseHexLine(line, ignored);
}

void MemoryImage::parseHexLine(std::string_view line, HexLoadReport& report) {
    if (line.empty() || line.front() != ':') {
        if (line.find_first_not_of(" \t\r\f\v") != std::string_view::npos) ++report.strayLines;
        return;
    }
    const uint32_t byteCount = field(line, 1, 2);
    const uint32_t address = field(line, 3, 4);
    const uint32_t recordType = field(line, 7, 2);

    // The facts below are only counted; the image is built as leniently as ever.
    const std::size_t recordLength = 11 + 2 * std::size_t{byteCount};
    if (line.size() < recordLength) {
        ++report.cutRecords;
    } else if (!checksumHolds(line.substr(0, recordLength))) {
        ++report.checksumErrors;
    }
    if (recordType == 0x01) report.endRecordSeen = true;
    if (recordType == 0x00) ++report.dataRecords;

    switch (recordType) {
    case 0x02:
        addressOffset = field(line, 9, 4) * 16;
        return;
    case 0x04:
        addressOffset = field(line, 9, 4) * 65536;
        return;
    case 0x00:
        break;
    default:
        return;   // the end record too: records after it still count
    }

    // With an odd byte count the last word has only its low byte in the record; its high byte
    // is taken as 0.
    const uint32_t wordCount = byteCount / 2 + byteCount % 2;
    const uint64_t firstWord = (uint64_t{addressOffset} + address) / 2;
    // Sizes are taken from the arrays as well as the counts: the counts are public members.
    const uint64_t programEnd = std::min<uint64_t>(programWordCount, programWords.size());
    const uint64_t eepromEnd = std::min<uint64_t>(eepromByteCount, eepromBytes.size());

    for (uint32_t k = 0; k < wordCount; ++k) {
        const std::size_t at = 9 + 4 * std::size_t{k};
        const uint32_t low = field(line, at, 2);
        const uint32_t high = (2 * k + 1 < byteCount) ? field(line, at + 2, 2) : 0;
        const uint16_t value = static_cast<uint16_t>(low + 256 * high);
        const uint64_t word = firstWord + k;
        const uint32_t bytes = (2 * k + 1 < byteCount) ? 2 : 1;
        const bool inConfigArea = word >= configBase && word - configBase <= 8;
        if ((word >= programBase && word - programBase < programEnd) ||
            (word >= eepromBase && word - eepromBase < eepromEnd) || inConfigArea)
            report.bytesInDevice += bytes;
        else
            report.bytesOutside += bytes;

        if (word >= programBase && word - programBase < programEnd) {
            programWords[word - programBase] = value;
        } else if (word >= eepromBase && word - eepromBase < eepromEnd) {
            eepromBytes[word - eepromBase] = value;
        } else if (word >= configBase && word - configBase <= 8) {
            const uint64_t offset = word - configBase;
            if (offset <= 3) {
                const int shift = static_cast<int>(4 * offset);
                userId = static_cast<uint16_t>((userId & ~(0xFu << shift)) | ((value & 0xFu) << shift));
            } else if (offset == 7) {
                configWord = value & blankWord;
            } else if (offset == 8) {
                configWord2 = value;
            }
            // 0x2004 to 0x2006 are ignored; 0x2006 is the chip's own device ID.
        }
    }
}

std::string MemoryImage::hexText(bool includeEeprom, uint16_t skipWord) const {
    std::string out;
    // 8 words per 45-character record, plus the fixed records.
    out.reserve((programWords.size() + eepromBytes.size()) / 8 * 45 + 128);
    out += ":020000040000FA\r\n";
    appendRegion(out, programWords.data(), std::min<std::size_t>(programWordCount, programWords.size()),
                 programBase, skipWord);
    if (includeEeprom)
        appendRegion(out, eepromBytes.data(), std::min<std::size_t>(eepromByteCount, eepromBytes.size()),
                     eepromBase, 0x00FF);
    const uint16_t config[8] = {
        static_cast<uint16_t>(userId & 0xF),         static_cast<uint16_t>((userId >> 4) & 0xF),
        static_cast<uint16_t>((userId >> 8) & 0xF),  static_cast<uint16_t>((userId >> 12) & 0xF),
        0, 0, 0, configWord};
    appendRecord(out, 16, 2 * configBase, 0x00, config);
    if (family == 2) appendRecord(out, 2, 2 * configBase + 16, 0x00, &configWord2);
    out += ":00000001FF\r\n";
    return out;
}

std::string MemoryImage::formatHexRecord(uint32_t byteCount, uint32_t address, uint32_t recordType,
                                         const uint16_t* words) {
    std::string out;
    appendRecord(out, byteCount, address, recordType, words);
    return out;
}

std::string MemoryImage::formatHexField(uint32_t value, int width) {
    std::string out;
    appendHex(out, value, width);
    return out;
}
