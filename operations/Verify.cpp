// SPDX-License-Identifier: MIT
#include "operations/Verify.h"

#include "device/Catalogue.h"
#include "device/MemoryImage.h"
#include "programmer/Programmer.h"

#include <algorithm>

namespace {

// Cells compared: the device's count, but never past either buffer.
uint32_t comparableCells(uint32_t count, std::size_t a, std::size_t b) {
    return static_cast<uint32_t>(std::min<std::size_t>({count, a, b}));
}

// (blank - mask) is a subtraction by design: the calibration bits lie inside the blank word,
// so it clears exactly them.
uint16_t withCalibrationBits(uint16_t blankWord, uint16_t mask, uint16_t word, uint16_t bits) {
    return static_cast<uint16_t>((static_cast<uint16_t>(blankWord - mask) & word) | bits);
}

}  // namespace

void mergeCalibrationForWrite(Programmer& programmer, MemoryImage& image) {
    const uint32_t address = programmer.calibrationAddress;
    if (address < programmer.programWords.size()) {
        programmer.programWords[address] = programmer.calibrationValue;
        if (address < image.programWords.size())
            image.programWords[address] = programmer.programWords[address];
    }
    programmer.configWord = withCalibrationBits(programmer.blankWord, programmer.calibrationBitsMask,
                                                image.configWord, programmer.savedCalibrationBits);
    image.configWord = programmer.configWord;
}

void mergeCalibrationForVerify(const Programmer& programmer, MemoryImage& image) {
    const uint32_t address = programmer.calibrationAddress;
    if (address < programmer.programWords.size() && address < image.programWords.size())
        image.programWords[address] = programmer.programWords[address];
    const uint16_t chipBits =
        static_cast<uint16_t>(programmer.configWord & programmer.calibrationBitsMask);
    image.configWord = withCalibrationBits(programmer.blankWord, programmer.calibrationBitsMask,
                                           image.configWord, chipBits);
}

uint16_t configWord2KeepMask(std::string_view configBitTags) {
    std::string_view rest = configBitTags;
    for (int tag = 0; tag < 14; ++tag) {
        const std::string_view::size_type close = rest.find(']');
        if (close == std::string_view::npos) return 0xFFFF;
        rest.remove_prefix(close + 1);
    }
    return buildConfigMasks(rest).configKeepMask;
}

VerifyOutcome compareWithImage(const Programmer& programmer, const MemoryImage& image,
                               uint16_t config2KeepMask, uint16_t unprotectBits) {
    VerifyOutcome outcome;
    const uint32_t words = comparableCells(programmer.programWordCount,
                                           programmer.programWords.size(),
                                           image.programWords.size());
    // A buffer shorter than the device cannot have been verified in full.
    if (words < programmer.programWordCount) outcome.programOk = false;
    for (uint32_t i = 0; i < words && outcome.programOk; ++i)
        if (programmer.programWords[i] != image.programWords[i]) outcome.programOk = false;

    const uint32_t bytes = comparableCells(programmer.eepromByteCount,
                                           programmer.eepromBytes.size(),
                                           image.eepromBytes.size());
    if (bytes < programmer.eepromByteCount) outcome.eepromOk = false;
    for (uint32_t i = 0; i < bytes && outcome.eepromOk; ++i)
        if (programmer.eepromBytes[i] != image.eepromBytes[i]) outcome.eepromOk = false;

    if (programmer.writeUserId && programmer.userId != image.userId) outcome.configOk = false;
    if (programmer.configWord != (image.configWord | unprotectBits)) outcome.configOk = false;
    if (programmer.family == 2 &&
        (programmer.configWord2 & config2KeepMask) != (image.configWord2 & config2KeepMask))
        outcome.configOk = false;
    return outcome;
}
