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

    for (uint32_t i = 0; i < a.programWordCount; ++i)
        if (a.programWords[i] != b.programWords[i]) {
            std::printf("program word %04X: %04X against %04X\n", i, a.programWords[i],
                        b.programWords[i]);
            return 1;
        }
    for (uint32_t i = 0; i < a.eepromByteCount; ++i)
        if (a.eepromBytes[i] != b.eepromBytes[i]) {
            std::printf("EEPROM byte %04X: %02X against %02X\n", i, a.eepromBytes[i],
                        b.eepromBytes[i]);
            return 1;
        }
    if (a.userId != b.userId) {
        std::printf("user ID: %04X against %04X\n", a.userId, b.userId);
        return 1;
    }
    if (a.configWord != b.configWord) {
        std::printf("configuration word: %04X against %04X\n", a.configWord, b.configWord);
        return 1;
    }
    if (a.family == 2 && a.configWord2 != b.configWord2) {
        std::printf("configuration word 2: %04X against %04X\n", a.configWord2, b.configWord2);
        return 1;
    }
    std::printf("same contents\n");
    return 0;
}
