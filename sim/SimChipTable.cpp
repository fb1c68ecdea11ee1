// SPDX-License-Identifier: MIT
#include "sim/SimChipTable.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace {

// Sources: the Microchip programming specifications DS30262 (16F84A), DS30034 (16F62x),
// DS39025 (16F87x), DS41196 (16F62xA), DS39589 (16F87xA), DS39603 (16F818/819), DS39607 (16F87/88)
// and DS41191 (12F629/675, 16F630/676), as quoted by independent open-source programmers.
// Device IDs: the same documents; the 16F628 (no A) answers 0x07C0.
// Checked against a second source: the 16F87xA mask (bits 12, 5 and 4 unimplemented) and the
// 16F819 one (all 14 bits) agree with the configuration symbols in gputils' p16f877a.inc and
// p16f819.inc, none of which touches a bit outside them.
const std::vector<SimChipInfo> kChips = {
    // name          words  ee  pins  id      rev  family             cfgMask cfg2   protection                    cpd    latch vppFirst cal
    {"PIC16F84A",    1024,  64, 18, 0x0560, 0x04, SimFamily::F84A,  0x3FFF, 0,      SimProtection::TenCopies,    false, 1, false, false},
    {"PIC16F627A",   1024, 128, 18, 0x1040, 0x02, SimFamily::F62xA, 0x21FF, 0,      SimProtection::Bit13,        true,  1, true,  false},
    {"PIC16F628A",   2048, 128, 18, 0x1060, 0x02, SimFamily::F62xA, 0x21FF, 0,      SimProtection::Bit13,        true,  1, true,  false},
    {"PIC16F648A",   4096, 256, 18, 0x1100, 0x01, SimFamily::F62xA, 0x21FF, 0,      SimProtection::Bit13,        true,  1, true,  false},
    {"PIC16F870",    2048,  64, 28, 0x0D00, 0x05, SimFamily::F87x,  0x3BFF, 0,      SimProtection::PairsRange,   true,  1, false, false},
    {"PIC16F871",    2048,  64, 40, 0x0D20, 0x05, SimFamily::F87x,  0x3BFF, 0,      SimProtection::PairsRange,   true,  1, false, false},
    {"PIC16F877",    8192, 256, 40, 0x09A0, 0x06, SimFamily::F87x,  0x3BFF, 0,      SimProtection::PairsRange,   true,  1, false, false},
    {"PIC16F873A",   4096, 128, 28, 0x0E40, 0x03, SimFamily::F87xA, 0x2FCF, 0,      SimProtection::Bit13,        true,  8, false, false},
    {"PIC16F874A",   4096, 128, 40, 0x0E60, 0x03, SimFamily::F87xA, 0x2FCF, 0,      SimProtection::Bit13,        true,  8, false, false},
    {"PIC16F876A",   8192, 256, 28, 0x0E00, 0x03, SimFamily::F87xA, 0x2FCF, 0,      SimProtection::Bit13,        true,  8, false, false},
    {"PIC16F877A",   8192, 256, 40, 0x0E20, 0x03, SimFamily::F87xA, 0x2FCF, 0,      SimProtection::Bit13,        true,  8, false, false},
    {"PIC16F88",     4096, 256, 18, 0x0760, 0x08, SimFamily::F81x,  0x3FFF, 0x0003, SimProtection::Bit13,        true,  4, true,  false},
    {"PIC16F819",    2048, 256, 18, 0x04E0, 0x0B, SimFamily::F81x,  0x3FFF, 0,      SimProtection::Bit13,        true,  4, false, false},
    {"PIC12F629",    1024, 128,  8, 0x0F80, 0x06, SimFamily::F629,  0x31FF, 0,      SimProtection::Bit7,         true,  1, true,  true},
    {"PIC12F675",    1024, 128,  8, 0x0FC0, 0x06, SimFamily::F629,  0x31FF, 0,      SimProtection::Bit7,         true,  1, true,  true},
    {"PIC16F630",    1024, 128, 14, 0x10C0, 0x04, SimFamily::F629,  0x31FF, 0,      SimProtection::Bit7,         true,  1, true,  true},
    {"PIC16F676",    1024, 128, 14, 0x10E0, 0x04, SimFamily::F629,  0x31FF, 0,      SimProtection::Bit7,         true,  1, true,  true},
    {"PIC16F628",    2048, 128, 18, 0x07C0, 0x03, SimFamily::F628,  0x3DFF, 0,      SimProtection::PairsQuarter, true,  1, true,  false},
};

SimFamilyTraits makeTraits(std::initializer_list<int> commands) {
    SimFamilyTraits t{};
    for (int c : commands) t.knows[c] = true;
    return t;
}

SimFamilyTraits makeFamily(SimFamily family) {
    switch (family) {
    case SimFamily::F84A:
    case SimFamily::F628: {
        auto t = makeTraits({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x18});
        t.beginEraseFirst = true;
        t.armedBulkErase = true;
        t.setupErase = true;
        t.beginProgramUs = 8000;   // 4 ms erase + 4 ms program
        t.programOnlyUs = 4000;
        t.dataWriteUs = 8000;
        t.bulkEraseUs = 10000;
        t.beginProgramMaxUs = 8000;
        t.programOnlyMaxUs = 8000;
        t.dataWriteMaxUs = 8000;
        t.bulkEraseMaxUs = 10000;
        return t;
    }
    case SimFamily::F87x: {
        auto t = makeTraits({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x18});
        t.beginEraseFirst = true;
        t.armedBulkErase = true;
        t.setupErase = true;
        t.beginProgramUs = 8000;
        t.programOnlyUs = 4000;
        t.dataWriteUs = 8000;
        t.bulkEraseUs = 8000;
        t.beginProgramMaxUs = 8000;
        t.programOnlyMaxUs = 8000;
        t.dataWriteMaxUs = 8000;
        t.bulkEraseMaxUs = 8000;
        return t;
    }
    case SimFamily::F62xA: {
        auto t = makeTraits({0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0B});
        t.beginProgramUs = 4000;
        t.dataWriteUs = 6000;
        t.bulkEraseUs = 6000;
        t.beginProgramMaxUs = 4000;
        t.dataWriteMaxUs = 6000;
        t.bulkEraseMaxUs = 6000;
        return t;
    }
    case SimFamily::F87xA: {
        auto t = makeTraits({0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0B, 0x17, 0x18, 0x1F});
        t.multiWordConfigLoad = true;
        t.endCommand = 0x17;
        t.beginProgramUs = 8000;
        t.programOnlyUs = 2000;
        t.dataWriteUs = 4000;
        t.bulkEraseUs = 10000;
        t.chipEraseUs = 10000;
        t.beginProgramMaxUs = 8000;
        t.programOnlyMaxUs = 2000;
        t.dataWriteMaxUs = 8000;
        t.bulkEraseMaxUs = 10000;
        t.chipEraseMaxUs = 10000;
        return t;
    }
    case SimFamily::F81x: {
        auto t = makeTraits({0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0B, 0x17, 0x18, 0x1F});
        t.multiWordConfigLoad = true;
        t.endCommand = 0x17;
        t.beginProgramUs = 4000;
        t.programOnlyUs = 2000;
        t.dataWriteUs = 4000;
        t.bulkEraseUs = 10000;
        t.chipEraseUs = 10000;
        t.beginProgramMaxUs = 4000;
        t.programOnlyMaxUs = 2000;
        t.dataWriteMaxUs = 4000;
        t.bulkEraseMaxUs = 10000;
        t.chipEraseMaxUs = 10000;
        return t;
    }
    case SimFamily::F629: {
        auto t = makeTraits({0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x09, 0x0A, 0x0B, 0x18});
        // One source only: another open programmer ends 0x18 with 0x0A on the 12F615 and 16F88x
        // but programs this family with the self-timed 0x08 alone.
        t.endCommand = 0x0A;
        t.beginProgramUs = 3000;
        t.programOnlyUs = 2000;
        t.dataWriteUs = 6000;
        t.bulkEraseUs = 8000;
        t.beginProgramMaxUs = 3000;
        t.programOnlyMaxUs = 3000;
        t.dataWriteMaxUs = 6000;
        t.bulkEraseMaxUs = 8000;
        return t;
    }
    }
    return {};
}

bool sameName(const char* a, const std::string& b) {
    std::string s(a);
    return s.size() == b.size() &&
           std::equal(s.begin(), s.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

} // namespace

const std::vector<SimChipInfo>& simChipTable() { return kChips; }

const SimChipInfo* findSimChip(const std::string& name) {
    for (const auto& c : kChips)
        if (sameName(c.name, name)) return &c;
    return nullptr;
}

const SimFamilyTraits& simFamilyTraits(SimFamily family) {
    static const SimFamilyTraits traits[] = {
        makeFamily(SimFamily::F84A),  makeFamily(SimFamily::F628), makeFamily(SimFamily::F87x),
        makeFamily(SimFamily::F62xA), makeFamily(SimFamily::F87xA), makeFamily(SimFamily::F81x),
        makeFamily(SimFamily::F629),
    };
    return traits[static_cast<int>(family)];
}
