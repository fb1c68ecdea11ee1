// SPDX-License-Identifier: MIT
#include "device/MemoryImage.h"

#include "device/AtomicFile.h"
#include "device/LineReader.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {
// A record's fields end at offset 9 + 2 * 255 + 2 (the byte count has two digits); anything
// further along a line is never looked at, so it need not be kept.
constexpr std::size_t longestUsefulLine = 1024;
}

MemoryImage::MemoryImage() {
    resize(2048, 0x3FFF, 128);
}

void MemoryImage::resize(uint32_t wordCount, uint16_t blank, uint32_t eepromCount) {
    programWordCount = wordCount;
    blankWord = blank;
    eepromByteCount = eepromCount;
    programWords.assign(wordCount, 0);
    eepromBytes.assign(eepromCount, 0);
    programWords.shrink_to_fit();
    eepromBytes.shrink_to_fit();
    clear();
}

void MemoryImage::clear() {
    std::fill(programWords.begin(), programWords.end(), blankWord);
    std::fill(eepromBytes.begin(), eepromBytes.end(), uint16_t{0x00FF});
    userId = 0xFFFF;
    configWord = blankWord;
    configWord2 = blankWord;
}

void MemoryImage::setFamily(int32_t familyCode) {
    family = familyCode;
}

bool MemoryImage::loadHex(const std::string& path) {
    HexLoadReport ignored;
    return loadHex(path, ignored);
}

bool MemoryImage::loadHex(const std::string& path, HexLoadReport& report) {
    report = HexLoadReport{};
    // Opened before the image is cleared: a file that cannot be read must not wipe what the
    // user has.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
    if (!file) return false;
    struct stat info{};
    if (::fstat(::fileno(file.get()), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    return loadHex(file.get(), report);
}

bool MemoryImage::loadHex(std::FILE* file, HexLoadReport& report) {
    report = HexLoadReport{};
    clear();
    addressOffset = 0;
    LineReader reader(file, longestUsefulLine, maxHexFileBytes);
    std::string line;
    while (reader.next(line)) parseHexLine(line, report);
    report.tooLarge = reader.exceeded();
    return !reader.failed() && !reader.exceeded();
}

bool MemoryImage::saveHex(const std::string& path, bool includeEeprom, uint16_t skipWord) const {
    return writeFileAtomically(path, hexText(includeEeprom, skipWord));
}
