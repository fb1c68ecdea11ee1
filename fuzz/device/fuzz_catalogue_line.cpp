// SPDX-License-Identifier: MIT
// Arbitrary catalogue lines; a line accepted as valid must size an image that saves and reads
// back without touching anything outside it.

#include "device/Catalogue.h"
#include "device/MemoryImage.h"
#include "fuzz/device/RoundTrip.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    DeviceRecord record = parseCatalogueLine(line);
    if (record.valid != record.invalidReason.empty()) __builtin_trap();
    if (!record.valid) return 0;
    if (record.programWordCount < 0 || record.programWordCount > 8192 || record.eepromByteCount < 0 ||
        record.eepromByteCount > 256 ||
        (record.hasCalibrationWord && record.calibrationAddress >= uint32_t(record.programWordCount)) ||
        (record.programMethod == 2 && (record.blockWords < 1 || record.blockWords > 11)))
        __builtin_trap();

    MemoryImage image;
    image.resize(uint32_t(record.programWordCount), record.blankWord, uint32_t(record.eepromByteCount));
    image.setFamily(record.family);
    // Something in every cell, derived from the input so that each run differs.
    uint32_t seed = uint32_t(size) * 2654435761u;
    for (auto& word : image.programWords) word = uint16_t((seed = seed * 1103515245u + 12345u) >> 16) & image.blankWord;
    for (auto& cell : image.eepromBytes) cell = uint16_t((seed = seed * 1103515245u + 12345u) >> 24);
    image.userId = uint16_t(seed);
    image.configWord = uint16_t(seed >> 7) & image.blankWord;
    image.configWord2 = uint16_t(seed >> 3);
    if (record.hasCalibrationWord) image.programWords[record.calibrationAddress] = image.blankWord;
    checkRoundTrip(image);
    return 0;
}
