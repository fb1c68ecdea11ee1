// SPDX-License-Identifier: MIT
// korvalin_hex_compare CATALOGUE DEVICE A.hex B.hex: loads both files into the image of that
// catalogue device, as File Open would, and tells whether they hold the same chip contents.
// Exit 0 same, 1 different (the area that differs is printed), 2 cannot load.
#include "device/Catalogue.h"
#include "device/MemoryImage.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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

    // What differs, named as a person comparing the two chips would name it.
    auto same = [](const std::vector<uint16_t>& x, const std::vector<uint16_t>& y, uint32_t count) {
        return std::equal(x.begin(), x.begin() + count, y.begin());
    };
    const char* differs = !same(a.programWords, b.programWords, a.programWordCount) ? "program memory"
                          : !same(a.eepromBytes, b.eepromBytes, a.eepromByteCount) ? "EEPROM"
                          : a.userId != b.userId                                   ? "user ID"
                          : a.configWord != b.configWord                           ? "configuration word"
                          : a.family == 2 && a.configWord2 != b.configWord2        ? "configuration word 2"
                                                                                   : nullptr;
    if (differs) {
        std::printf("%s differs\n", differs);
        return 1;
    }
    std::printf("same contents\n");
    return 0;
}
