#pragma once

#include "device/Catalogue.h"
#include "programmer/LinkPoll.h"
#include "programmer/Programmer.h"
#include "programmer/UsbDriver.h"
#include "sim/SimulatedDriver.h"

#include <functional>
#include <memory>
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

// Passes everything through to another driver and lets a test watch each script written.
class TapDriver : public UsbDriver {
public:
    explicit TapDriver(UsbDriver& inner) : inner_(inner) {}
    std::function<void(const uint8_t* data, std::size_t length)> onWrite;

    int openProgrammer() override { return inner_.openProgrammer(); }
    UsbPipe* openPipe(int handle, int reserved, int index) override
    {
        UsbPipe* pipe = inner_.openPipe(handle, reserved, index);
        if (pipe == nullptr)
            return nullptr;
        pipes_.push_back(std::make_unique<Pipe>(*this, *pipe));
        return pipes_.back().get();
    }
    int isRemoved(int handle) override { return inner_.isRemoved(handle); }
    void closeProgrammer(int handle) override { inner_.closeProgrammer(handle); }

private:
    class Pipe : public UsbPipe {
    public:
        Pipe(TapDriver& owner, UsbPipe& inner) : owner_(owner), inner_(inner) {}
        int write(const uint8_t* data, std::size_t length, int timeoutMs) override
        {
            if (owner_.onWrite)
                owner_.onWrite(data, length);
            return inner_.write(data, length, timeoutMs);
        }
        int read(uint8_t* data, std::size_t length, int timeoutMs) override
        {
            return inner_.read(data, length, timeoutMs);
        }

    private:
        TapDriver& owner_;
        UsbPipe& inner_;
    };

    UsbDriver& inner_;
    std::vector<std::unique_ptr<Pipe>> pipes_;
};

// Keep mask of configuration word 2: from the 14 tags after the first 14.
inline uint16_t configKeepMask2(const std::string& tags)
{
    std::size_t at = 0;
    for (int i = 0; i < 14 && at != std::string::npos; ++i) {
        at = tags.find(']', at);
        if (at != std::string::npos)
            ++at;
    }
    if (at == std::string::npos || at >= tags.size())
        return 0x3FFF;
    return static_cast<uint16_t>(buildConfigMasks(tags.substr(at)).configKeepMask & 0x3FFF);
}

// One simulated programmer with a chip of a catalogue device in it, and a Programmer set up
// from that device's catalogue line the way a device selection does it.
struct SimRig {
    DeviceRecord record;
    SimulatedDriver sim;
    TapDriver tap{sim};
    Programmer p{&tap};
    LinkState link;

    SimRig(const std::string& device, SimConfig config = {})
        : record(findCatalogueDevice(cataloguePath(), device).record), sim(withChip(device, config))
    {
        configure();
    }

    static SimConfig withChip(const std::string& device, SimConfig config)
    {
        if (config.chip.empty())
            config.chip = device;
        return config;
    }

    void configure()
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

    // The chip's calibration word and bits into what will be written, as a calibration read
    // followed by a program does it.
    bool calibrationRead()
    {
        if (!record.hasCalibrationWord)
            return true;
        if (!p.readCalibration() || !p.readCalibrationBits())
            return false;
        p.programWords[p.calibrationAddress] = p.calibrationValue;
        p.configWord = static_cast<uint16_t>((p.configWord & p.blankWord & ~p.calibrationBitsMask) | p.savedCalibrationBits);
        return true;
    }

    bool programChain() { return calibrationRead() && p.programAll(); }

    bool eraseChain()
    {
        if (!record.hasCalibrationWord)
            return p.eraseChip();
        return p.readCalibration() && p.readCalibrationBits() && p.eraseChip() && p.writeCalibration() &&
               p.restoreCalibrationBits();
    }

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
