// SPDX-License-Identifier: MIT
#pragma once

#include "device/Catalogue.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "sim/SimulatedDriver.h"

#include <random>
#include <string>
#include <vector>

inline std::string cataloguePath()
{
    return std::string(KORVALIN_DATA_DIR) + "/PicDeviceList.txt";
}

inline std::vector<std::string> catalogueDeviceNames()
{
    std::vector<std::string> out;
    for (const std::string& name : readCatalogueNames(cataloguePath()).names)
        if (!name.empty())
            out.push_back(name);
    return out;
}

// Keep mask of configuration word 2: from the 14 tags after the first 14.
inline uint16_t configKeepMask2(const std::string& tags)
{
    std::size_t at = 0;
    for (int i = 0; i < 14 && at != std::string::npos; ++i)
        if ((at = tags.find(']', at)) != std::string::npos)
            ++at;
    if (at == std::string::npos || at >= tags.size())
        return 0x3FFF;
    return static_cast<uint16_t>(buildConfigMasks(tags.substr(at)).configKeepMask & 0x3FFF);
}

// A simulated programmer with a chip of a catalogue device in it, and a Programmer set up from
// that device's catalogue line the way a device selection does it.
struct SimRig {
    DeviceRecord record;
    SimulatedDriver sim;
    Programmer p{&sim};
    LinkState link;

    explicit SimRig(const std::string& device, SimConfig config = {})
        : record(findCatalogueDevice(cataloguePath(), device).record), sim((config.chip = device, config))
    {
        p.setGeometry(static_cast<uint32_t>(record.programWordCount), record.blankWord,
                      static_cast<uint32_t>(record.eepromByteCount));
        p.setMethods(record.entrySequence, record.programMethod, record.eepromMethod, record.family,
                     record.reservedValue, record.blockWords, record.eraseMethod);
        p.calibrationAddress = record.calibrationAddress;
        p.calibrationBitsMask = record.calibrationBitsMask;
    }

    // Attach as the first tick does, then choose the device's socket (or ICSP).
    bool connect() { return pollConnection(p, link) == "Korvalin Connect" && p.selectSocket(record.socketPins); }

    uint16_t configMask1() const { return static_cast<uint16_t>(record.configKeepMask & record.blankWord); }
    uint16_t configMask2() const { return configKeepMask2(record.configBitTags); }

    // A seeded random image: every program word, EEPROM byte and user ID location, and the
    // configuration's low option bits, with code protection off.
    void fillRandom(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (uint32_t i = 0; i < p.programWordCount; ++i)
            p.programWords[i] = static_cast<uint16_t>(rng() & p.blankWord);
        for (uint32_t i = 0; i < p.eepromByteCount; ++i)
            p.eepromBytes[i] = static_cast<uint16_t>(rng() & 0xFF);
        p.userId = static_cast<uint16_t>(rng());
        p.configWord = static_cast<uint16_t>(configMask1() & ~(rng() & 0x000F));
        p.configWord2 = static_cast<uint16_t>(configMask2() & ~(rng() & 0x0003));
        p.writeUserId = 1;
    }
};
