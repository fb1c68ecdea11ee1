// SPDX-License-Identifier: MIT
#pragma once

#include "device/Catalogue.h"

#include <cstdint>
#include <string>
#include <vector>

struct DetectResult {
    bool opened = false;                 // false: the catalogue could not be read
    std::vector<std::string> matches;    // file order, each name once
};

// Every device of the catalogue whose line is usable, states a device ID, and accepts this one
// ((id AND mask) equals the expected ID). A line without a device ID, or with mask 0, would
// accept any chip and is left out. The last line of a name is the one that counts.
DetectResult devicesMatchingId(const CatalogueRecords& catalogue, uint16_t deviceId);

// The programming-mode entry sequences the catalogue's usable lines use, each once, in file
// order: detect tries them in turn, since a chip that wants VPP before its supply does not
// answer the other entry.
std::vector<int32_t> catalogueEntrySequences(const CatalogueRecords& catalogue);
