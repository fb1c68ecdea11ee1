// SPDX-License-Identifier: MIT
// korvalin-hexconvert [--no-sync] IN OUT: reads IN into the largest device's image and writes it
// to OUT; --no-sync leaves out the flush to the disk that a normal save does.
// korvalin-hexconvert --generate OUT: writes a full image of that device (seeded, repeatable).

#include "bench/device/LargestImage.h"
#include "device/AtomicFile.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--generate") == 0) {
        if (largestImage().saveHex(argv[2], true, 0x3FFF)) return 0;
        std::fprintf(stderr, "korvalin-hexconvert: cannot write %s\n", argv[2]);
        return 1;
    }
    const bool flush = !(argc == 4 && std::strcmp(argv[1], "--no-sync") == 0);
    if (!flush) ++argv, --argc;
    if (argc != 3) {
        std::fprintf(stderr, "usage: korvalin-hexconvert [--no-sync] IN OUT | --generate OUT\n");
        return 2;
    }
    MemoryImage image;
    image.resize(8192, 0x3FFF, 256);
    image.setFamily(2);
    if (!image.loadHex(argv[1])) {
        std::fprintf(stderr, "korvalin-hexconvert: cannot read %s\n", argv[1]);
        return 1;
    }
    const bool saved = flush ? image.saveHex(argv[2], true, 0x3FFF)
                             : writeFileAtomically(argv[2], image.hexText(true, 0x3FFF), false);
    if (!saved) {
        std::fprintf(stderr, "korvalin-hexconvert: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
