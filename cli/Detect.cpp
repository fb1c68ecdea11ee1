#include "cli/Detect.h"

#include "device/Catalogue.h"

#include <algorithm>

DetectResult devicesMatchingId(const std::string& cataloguePath, uint16_t deviceId) {
    DetectResult result;
    const CatalogueNames names = readCatalogueNames(cataloguePath);
    if (!names.opened) return result;
    result.opened = true;
    std::vector<std::string> seen;
    for (const std::string& name : names.names) {
        if (name.empty() || std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        const CatalogueLookup lookup = findCatalogueDevice(cataloguePath, name);
        if (!lookup.opened) {
            result.opened = false;
            result.matches.clear();
            return result;
        }
        const DeviceRecord& record = lookup.record;
        if (!lookup.found || !record.valid || record.deviceIdMask == 0) continue;
        if ((static_cast<int32_t>(deviceId) & record.deviceIdMask) == record.expectedDeviceId)
            result.matches.push_back(name);
    }
    return result;
}

std::vector<int32_t> catalogueEntrySequences(const std::string& cataloguePath) {
    std::vector<int32_t> sequences;
    const CatalogueNames names = readCatalogueNames(cataloguePath);
    std::vector<std::string> seen;
    for (const std::string& name : names.names) {
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        const CatalogueLookup lookup = findCatalogueDevice(cataloguePath, name);
        if (!lookup.found || !lookup.record.valid) continue;
        const int32_t sequence = lookup.record.entrySequence;
        if (std::find(sequences.begin(), sequences.end(), sequence) == sequences.end())
            sequences.push_back(sequence);
    }
    return sequences;
}
