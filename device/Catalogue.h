// SPDX-License-Identifier: MIT
#pragma once

#include "DeviceRecord.h"
#include "device/HexNumber.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Leading blanks, an optional sign, decimal digits up to the first other character; none gives 0.
int32_t parseDecimal(std::string_view text);

struct ConfigMasks {
    uint16_t protectOffBits = 0;
    uint16_t configKeepMask = 0xFFFF;
};
ConfigMasks buildConfigMasks(std::string_view configBitTags);

// One catalogue line (without its line end) into a record. Never fails; see DeviceRecord::valid.
DeviceRecord parseCatalogueLine(std::string_view line);

// opened is false when the file cannot be opened or cannot be read to its end; tooLarge tells
// that the end was too far away to be a device list.
struct CatalogueNames {
    bool opened = false;
    bool tooLarge = false;
    std::vector<std::string> names;   // file order; comment lines skipped; empty lines give ""
};
CatalogueNames readCatalogueNames(const std::string& path);

struct CatalogueLookup {
    bool opened = false;
    bool tooLarge = false;
    bool found = false;
    DeviceRecord record;              // the last line of that name
};
CatalogueLookup findCatalogueDevice(const std::string& path, const std::string& name);

// Every named device of the file, read in one pass: the last line of a name is its record, in
// the order the names first appear. For look-ups over the whole catalogue (detect).
struct CatalogueRecords {
    bool opened = false;
    bool tooLarge = false;
    std::vector<DeviceRecord> records;
};
CatalogueRecords readCatalogueRecords(const std::string& path);
