// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// What a HEX load met besides the image it built: the reader stays lenient, and the caller
// decides what to make of a file that is not what it seems.
struct HexLoadReport {
    uint32_t dataRecords = 0;
    uint32_t bytesInDevice = 0;    // data bytes that landed in one of the device's memories
    uint32_t bytesOutside = 0;     // data bytes at addresses the device does not have
    uint32_t checksumErrors = 0;   // whole records whose bytes do not sum to 0, or are not hex
    uint32_t strayLines = 0;       // lines with text that are not records
    uint32_t cutRecords = 0;       // records shorter than their byte count says
    bool endRecordSeen = false;
    bool tooLarge = false;         // reading stopped at the size bound; the image is partial

    bool operator==(const HexLoadReport&) const = default;
};

// The program's copy of one chip's memories: what the user means to write, or what was last read.
// Members are plain and read/written directly by their collaborators; only resize() changes sizes.
class MemoryImage {
public:
    MemoryImage();
    virtual ~MemoryImage() = default;

    int32_t family = 0;            // catalogue column 9; 2 = the device has configuration word 2
    uint32_t addressOffset = 0;    // set by extended-address records during a load
    uint32_t configBase = 0x2000;  // word address of the configuration area in HEX files
    uint32_t eepromBase = 0x2100;  // word address of EEPROM byte 0 in HEX files
    uint32_t programBase = 0;      // word address of program word 0 in HEX files
    uint16_t blankWord = 0x3FFF;
    uint16_t configWord = 0x3FFF;
    uint16_t configWord2 = 0x3FFF;
    uint16_t userId = 0xFFFF;      // location 0x2000 + i in bits 4i+3..4i
    std::vector<uint16_t> eepromBytes;   // one byte per cell, low 8 bits; empty when the device has none
    std::vector<uint16_t> programWords;
    uint32_t eepromByteCount = 0;
    uint32_t programWordCount = 0;

    void resize(uint32_t programWords, uint16_t blankWord, uint32_t eepromBytes);
    void clear();
    void setFamily(int32_t family);

    // Returns false (and leaves the image untouched) when the file cannot be opened; false also
    // on a read error part-way, with the records before it applied.
    // A file larger than maxHexFileBytes is not read to its end (report.tooLarge, false).
    bool loadHex(const std::string& path);
    bool loadHex(const std::string& path, HexLoadReport& report);
    // The same from a stream already open (standard input), read once to its end or the bound.
    bool loadHex(std::FILE* file, HexLoadReport& report);
    void parseHexLine(std::string_view line);
    void parseHexLine(std::string_view line, HexLoadReport& report);
    // The largest real file (8192 words and 256 EEPROM bytes) is about 60 KB.
    static constexpr std::size_t maxHexFileBytes = 4 * 1024 * 1024;

    // Atomic: writes a temporary file beside the target and renames it over the target only
    // when every write succeeded. Returns false and leaves any existing file intact otherwise.
    // Refuses (false) a path that is not a regular file, such as a device node.
    bool saveHex(const std::string& path, bool includeEeprom, uint16_t skipWord) const;

    // The whole file saveHex writes, CR LF line ends included. Groups of 8 cells that all equal
    // skipWord (program memory) or 0x00FF (EEPROM) are left out.
    std::string hexText(bool includeEeprom, uint16_t skipWord) const;

    // One record line, CR LF included; writes byteCount / 2 words.
    static std::string formatHexRecord(uint32_t byteCount, uint32_t address, uint32_t recordType,
                                       const uint16_t* words);
    static std::string formatHexField(uint32_t value, int width);
};
