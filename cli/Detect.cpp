// SPDX-License-Identifier: MIT
#include "cli/Detect.h"

#include <algorithm>

DetectResult devicesMatchingId(const CatalogueRecords& catalogue, uint16_t deviceId) {
    DetectResult result;
    if (!catalogue.opened) return result;
    result.opened = true;
    for (const DeviceRecord& record : catalogue.records) {
        if (!record.valid || record.deviceIdMask == 0) continue;
        if ((static_cast<int32_t>(deviceId) & record.deviceIdMask) == record.expectedDeviceId)
            result.matches.push_back(record.name);
    }
    return result;
}

std::vector<int32_t> catalogueEntrySequences(const CatalogueRecords& catalogue) {
    std::vector<int32_t> sequences;
    for (const DeviceRecord& record : catalogue.records) {
        if (!record.valid) continue;
        if (std::find(sequences.begin(), sequences.end(), record.entrySequence) == sequences.end())
            sequences.push_back(record.entrySequence);
    }
    return sequences;
}
