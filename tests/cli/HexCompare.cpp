// SPDX-License-Identifier: MIT
// korvalin_hex_compare CATALOGUE DEVICE A.hex B.hex: loads both files into the image of that
// catalogue device, as File Open would, and tells whether they hold the same chip contents.
// Exit 0 same, 1 different (the first difference is printed), 2 cannot load.
#include "device/Catalogue.h"
#include "device/MemoryImage.h"

#include <cstdio>
#include <string>

namespace {

bool load(const DeviceRecord& record, const char* path, MemoryImage& image) {
    image.resize(static_cast<uint32_t>(record.programWordCount), record.blankWord,
                 static_cast<uint32_t>(record.eepromByteCount));
    image.setFamily(record.family);
    if (!image.loadHex(path)) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    image.configWord = static_cast<uint16_t>(image.configWord & record.configKeepMask);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s CATALOGUE DEVICE A.hex B.hex\n", argv[0]);
        return 2;
    }
    const CatalogueLookup lookup = findCatalogueDevice(argv[1], argv[2]);
    if (!lookup.found || !lookup.record.valid) {
        std::fprintf(stderr, "no usable line for %s in %s\n", argv[2], argv[1]);
        return 2;
    }
    MemoryImage a;
    MemoryImage b;
    if (!load(lookup.record, argv[3], a) || !load(lookup.record, argv[4], b)) return 2;

    // The first difference, named as a person comparing the two chips would name it.
    auto differ = [](const char* what, uint32_t count, const auto& first, const auto& second, const char* format) {
        for (uint32_t i = 0; i < count; ++i)
            if (first[i] != second[i]) {
                std::printf(format, what, i, first[i], second[i]);
                return true;
            }
        return false;
    };
    const uint16_t wordsA[] = {a.userId, a.configWord, a.family == 2 ? a.configWord2 : uint16_t(0)};
    const uint16_t wordsB[] = {b.userId, b.configWord, b.family == 2 ? b.configWord2 : uint16_t(0)};
    if (differ("program word", a.programWordCount, a.programWords, b.programWords, "%s %04X: %04X against %04X\n") ||
        differ("EEPROM byte", a.eepromByteCount, a.eepromBytes, b.eepromBytes, "%s %04X: %02X against %02X\n") ||
        differ("user ID, configuration word and word 2", 3, wordsA, wordsB, "%s, word %u: %04X against %04X\n"))
        return 1;
    std::printf("same contents\n");
    return 0;
}
