// SPDX-License-Identifier: MIT
#include "sim/SimChip.h"

#include <algorithm>

namespace {

uint64_t splitmix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t nameHash(const char* name) {
    uint32_t h = 2166136261u;
    for (const char* p = name; *p; ++p) h = (h ^ static_cast<uint8_t>(*p)) * 16777619u;
    return h;
}

constexpr uint16_t kCalibrationBitsMask = 0x3000;

} // namespace

SimChip::SimChip(const SimChipInfo& info, uint32_t seed)
    : info_(&info), traits_(&simFamilyTraits(info.family)),
      rng_((static_cast<uint64_t>(seed) << 32) ^ nameHash(info.name)) {
    program.assign(info.programWords, 0x3FFF);
    eeprom.assign(info.eepromBytes, 0xFF);
    config = 0x3FFF & info.configMask;
    config2 = 0x3FFF & info.config2Mask;
    deviceIdWord = info.deviceId | info.revision;
    if (info.hasCalibration) {
        // A RETLW with a part-specific constant, as the factory leaves it; BG bits 10.
        uint64_t s = seed ^ nameHash(info.name);
        factoryCalibrationWord = static_cast<uint16_t>(0x3480 | (splitmix(s) & 0x3F));
        factoryCalibrationBits = 0x2000;
        program.back() = factoryCalibrationWord;
        config = static_cast<uint16_t>((config & ~kCalibrationBitsMask) | factoryCalibrationBits);
    }
    resetVolatile();
}

void SimChip::resetVolatile() {
    pc_ = 0;
    std::fill(std::begin(latches_), std::end(latches_), 0x3FFF);
    loadedLatches_ = 0;
    dataLatch_ = 0xFF;
    lastLoad_ = LastLoad::None;
    armProgramErase_ = armDataErase_ = false;
    setupStage_ = 0;
}

void SimChip::setPins(bool vdd, bool vpp, double now) {
    if (vdd == vdd_ && vpp == vpp_) return;
    const bool vddRose = vdd && !vdd_;
    if (!vdd) {
        finishCycle(now);
        mode_ = Mode::Off;
        resetVolatile();
    } else if (!vpp) {
        finishCycle(now);
        mode_ = Mode::Running;
    } else if (mode_ != Mode::Programming) {
        // VPP present while powered: VPP came first (or together), or VDD came first.
        const bool vddFirst = !vddRose;
        if (vddFirst && info_->vppFirst && now - vddSince_ > kVppAfterVddWindowUs) {
            mode_ = Mode::EntryRefused;
        } else {
            mode_ = Mode::Programming;
            resetVolatile();
        }
    }
    if (vddRose) vddSince_ = now;
    vdd_ = vdd;
    vpp_ = vpp;
}

uint32_t SimChip::protectedFrom() const {
    const uint32_t words = info_->programWords;
    const uint16_t c = config & info_->configMask;
    switch (info_->protection) {
    case SimProtection::TenCopies:
        return (c & 0x3FF0) == 0x3FF0 ? words : 0;
    case SimProtection::Bit13:
        return (c & 0x2000) ? words : 0;
    case SimProtection::Bit7:
        return (c & 0x0080) ? words : 0;
    case SimProtection::PairsRange: {
        const int cp = ((c >> 12) & 3) & ((c >> 4) & 3);
        return cp == 3 ? words : cp == 2 ? words - 256 : cp == 1 ? words / 2 : 0;
    }
    case SimProtection::PairsQuarter: {
        const int cp = ((c >> 12) & 3) & ((c >> 10) & 3);
        return cp == 3 ? words : cp == 2 ? words / 2 : cp == 1 ? words / 4 : 0;
    }
    }
    return words;
}

bool SimChip::dataProtected() const {
    return info_->hasDataProtection && !(config & 0x0100);
}

uint16_t SimChip::readProgramSpace(uint16_t address) const {
    if (address < 0x2000) {
        const uint32_t a = address & (info_->programWords - 1);
        return a >= protectedFrom() ? 0 : program[a];
    }
    if (address <= 0x2003) return userIds[address - 0x2000];
    if (address == kSimDeviceIdAddress) return deviceIdWord;
    if (address == kSimConfigAddress) return config & info_->configMask;
    if (address == kSimConfig2Address && info_->config2Mask) return config2 & info_->config2Mask;
    return 0x3FFF;
}

void SimChip::increment() {
    if (pc_ < 0x2000)
        pc_ = (pc_ + 1) & 0x1FFF;
    else
        pc_ = pc_ == 0x3FFF ? 0x2000 : pc_ + 1;
}

void SimChip::command(uint8_t cmd, double now) {
    cmd &= 0x3F;
    if (mode_ != Mode::Programming || !traits_->knows[cmd]) return;
    if (cmd == 0x00 || cmd == 0x02 || cmd == 0x03) {
        // The chip waits for a data frame that the programmer leaves low.
        load(cmd, 0, now);
        return;
    }
    finishCycle(now);
    const int setup = setupStage_;
    const bool armProgram = armProgramErase_;
    const bool armData = armDataErase_;
    setupStage_ = 0;
    armProgramErase_ = armDataErase_ = false;

    switch (cmd) {
    case 0x01:
        setupStage_ = 1;
        break;
    case 0x07:
        setupStage_ = setup == 1 ? 2 : 0;
        break;
    case 0x06:
        increment();
        break;
    case 0x08:
        if (armProgram)
            bulkEraseProgram(now);
        else if (armData)
            bulkEraseData(now);
        else if (traits_->setupErase && setup == 2)
            setupErase(now);
        else
            beginWrite(traits_->beginEraseFirst, cycleTime(traits_->beginProgramUs, traits_->beginProgramMaxUs), now);
        break;
    case 0x18:
        beginWrite(false, cycleTime(traits_->programOnlyUs, traits_->programOnlyMaxUs), now);
        break;
    case 0x09:
        if (traits_->armedBulkErase)
            armProgramErase_ = true;
        else
            bulkEraseProgram(now);
        break;
    case 0x0B:
        if (traits_->armedBulkErase)
            armDataErase_ = true;
        else
            bulkEraseData(now);
        break;
    case 0x1F:
        chipErase(now);
        break;
    default:
        // End Programming (0x17 or 0x0A) ends the running cycle, which finishCycle did; a read
        // sent as a plain command clocks its frame out to nobody.
        break;
    }
}

void SimChip::load(uint8_t cmd, uint16_t data, double now) {
    cmd &= 0x3F;
    if (mode_ != Mode::Programming || !traits_->knows[cmd]) return;
    if (cmd != 0x00 && cmd != 0x02 && cmd != 0x03) {
        // Not a load: the chip runs the command and does not clock the data frame in.
        if (cmd == 0x04 || cmd == 0x05)
            (void)read(cmd, now);
        else
            command(cmd, now);
        return;
    }
    finishCycle(now);
    setupStage_ = 0;
    armProgramErase_ = armDataErase_ = false;
    data &= 0x3FFF;
    if (cmd == 0x00) {
        pc_ = 0x2000;
        std::fill(std::begin(latches_), std::end(latches_), 0x3FFF);
        loadedLatches_ = 0;
        if (!traits_->multiWordConfigLoad) {
            latches_[0] = data;
            loadedLatches_ = 1;
        }
        lastLoad_ = LastLoad::Program;
    } else if (cmd == 0x02) {
        const uint32_t index = pc_ & (info_->latchWords - 1);
        latches_[index] = data;
        loadedLatches_ |= static_cast<uint8_t>(1u << index);
        lastLoad_ = LastLoad::Program;
    } else {
        dataLatch_ = static_cast<uint8_t>(data & 0xFF);
        lastLoad_ = LastLoad::Data;
    }
}

std::optional<uint16_t> SimChip::read(uint8_t cmd, double now) {
    cmd &= 0x3F;
    if (mode_ != Mode::Programming || !traits_->knows[cmd]) return std::nullopt;
    if (cmd != 0x04 && cmd != 0x05) {
        // Only the two read commands drive the data line.
        if (cmd == 0x00 || cmd == 0x02 || cmd == 0x03)
            load(cmd, 0x3FFF, now); // the line floats high while the programmer listens
        else
            command(cmd, now);
        return std::nullopt;
    }
    finishCycle(now);
    setupStage_ = 0;
    armProgramErase_ = armDataErase_ = false;
    if (cmd == 0x04) return readProgramSpace(pc_);
    if (info_->eepromBytes == 0) return std::nullopt;
    if (dataProtected()) return 0;
    return eeprom[pc_ & (info_->eepromBytes - 1)];
}

void SimChip::settle(double now) {
    if (cycleActive_ && now - cycleStart_ >= cycleNeed_ * slowFactor) finishCycle(now);
}

void SimChip::startCycle(double need, std::vector<PendingWrite> writes, double now) {
    cycleActive_ = true;
    cycleStart_ = now;
    cycleNeed_ = need;
    cycleWrites_ = std::move(writes);
}

void SimChip::beginWrite(bool eraseFirst, double need, double now) {
    std::vector<PendingWrite> writes;
    if (lastLoad_ == LastLoad::Data) {
        if (info_->eepromBytes && !dataProtected())
            writes.push_back({Space::Data, static_cast<uint16_t>(pc_ & (info_->eepromBytes - 1)),
                              dataLatch_});
        startCycle(cycleTime(traits_->dataWriteUs, traits_->dataWriteMaxUs), std::move(writes), now);
        return;
    }
    const uint32_t n = info_->latchWords;
    if (pc_ < 0x2000) {
        const uint32_t words = info_->programWords;
        const uint32_t row = (pc_ & (words - 1)) & ~(n - 1);
        const uint32_t limit = protectedFrom();
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t a = row + i;
            if (a >= limit) continue;
            const uint16_t old = program[a];
            uint16_t value = eraseFirst ? latches_[i] : static_cast<uint16_t>(old & latches_[i]);
            if (refusesProgramming || static_cast<int32_t>(a) == noProgramAddress) value = eraseFirst ? 0x3FFF : old;
            writes.push_back({Space::Program, static_cast<uint16_t>(a), value});
        }
    } else {
        const bool locked = anyProtection();
        auto addConfig = [&](uint16_t address, uint16_t latch) {
            const bool writable = (address >= 0x2000 && address <= 0x2003) ||
                                  address == kSimConfigAddress ||
                                  (address == kSimConfig2Address && info_->config2Mask);
            if (!writable) return;
            PendingWrite w{Space::Config, address, 0};
            const uint16_t old = current(w);
            w.value = (eraseFirst && !locked) ? latch : static_cast<uint16_t>(old & latch);
            writes.push_back(w);
        };
        if (n == 1) {
            addConfig(pc_, latches_[0]);
        } else {
            const uint16_t row = pc_ & ~static_cast<uint16_t>(n - 1);
            for (uint32_t i = 0; i < n; ++i)
                if (loadedLatches_ & (1u << i)) addConfig(static_cast<uint16_t>(row + i), latches_[i]);
        }
    }
    if (n > 1) {
        std::fill(std::begin(latches_), std::end(latches_), 0x3FFF);
        loadedLatches_ = 0;
    }
    startCycle(need, std::move(writes), now);
}

void SimChip::addProgramErase(std::vector<PendingWrite>& writes) const {
    for (uint32_t a = 0; a < info_->programWords; ++a)
        writes.push_back({Space::Program, static_cast<uint16_t>(a), 0x3FFF});
}

void SimChip::addDataErase(std::vector<PendingWrite>& writes) const {
    for (uint32_t a = 0; a < info_->eepromBytes; ++a)
        writes.push_back({Space::Data, static_cast<uint16_t>(a), 0xFF});
}

void SimChip::addConfigErase(std::vector<PendingWrite>& writes) const {
    for (uint16_t a = 0x2000; a <= 0x2003; ++a) writes.push_back({Space::Config, a, 0x3FFF});
    writes.push_back({Space::Config, kSimConfigAddress, 0x3FFF});
    if (info_->config2Mask) writes.push_back({Space::Config, kSimConfig2Address, 0x3FFF});
}

void SimChip::bulkEraseProgram(double now) {
    std::vector<PendingWrite> writes;
    if (pc_ >= 0x2000) {
        // With the counter in configuration space the configuration word and user IDs go too,
        // and protected data with them, so that no protected byte outlives its protection.
        if (dataProtected()) addDataErase(writes);
        addProgramErase(writes);
        addConfigErase(writes);
    } else if (protectedFrom() == info_->programWords) {
        addProgramErase(writes);
    }
    startCycle(cycleTime(traits_->bulkEraseUs, traits_->bulkEraseMaxUs), std::move(writes), now);
}

void SimChip::bulkEraseData(double now) {
    std::vector<PendingWrite> writes;
    addDataErase(writes);
    startCycle(cycleTime(traits_->bulkEraseUs, traits_->bulkEraseMaxUs), std::move(writes), now);
}

void SimChip::setupErase(double now) {
    std::vector<PendingWrite> writes;
    if (lastLoad_ == LastLoad::Data) {
        addDataErase(writes);
    } else if (pc_ == kSimConfigAddress) {
        // The way out of code protection; data memory goes only when something was protected.
        if (anyProtection()) addDataErase(writes);
        addProgramErase(writes);
        addConfigErase(writes);
    } else if (pc_ < 0x2000 && protectedFrom() == info_->programWords) {
        addProgramErase(writes);
    }
    startCycle(cycleTime(traits_->bulkEraseUs, traits_->bulkEraseMaxUs), std::move(writes), now);
}

void SimChip::chipErase(double now) {
    std::vector<PendingWrite> writes;
    addProgramErase(writes);
    addDataErase(writes);
    addConfigErase(writes);
    startCycle(cycleTime(traits_->chipEraseUs, traits_->chipEraseMaxUs), std::move(writes), now);
}

uint16_t SimChip::current(const PendingWrite& w) const {
    switch (w.space) {
    case Space::Program:
        return program[w.address];
    case Space::Data:
        return eeprom[w.address];
    case Space::Config:
        if (w.address <= 0x2003) return userIds[w.address - 0x2000];
        if (w.address == kSimConfigAddress) return config;
        return config2;
    }
    return 0x3FFF;
}

void SimChip::store(const PendingWrite& w, uint16_t value) {
    switch (w.space) {
    case Space::Program:
        program[w.address] = value & 0x3FFF;
        break;
    case Space::Data:
        eeprom[w.address] = static_cast<uint8_t>(value);
        break;
    case Space::Config:
        if (w.address <= 0x2003)
            userIds[w.address - 0x2000] = value & 0x3FFF;
        else if (w.address == kSimConfigAddress)
            config = value & info_->configMask;
        else
            config2 = value & info_->config2Mask;
        break;
    }
}

uint16_t SimChip::keepSomeOldBits(uint16_t changing, uint16_t address) {
    uint64_t state = rng_ ^ (static_cast<uint64_t>(address) << 17);
    rng_ = splitmix(state);
    uint16_t keep = static_cast<uint16_t>(changing & rng_);
    if (keep == 0) keep = static_cast<uint16_t>(changing & static_cast<uint16_t>(~changing + 1u));
    return keep;
}

void SimChip::finishCycle(double now) {
    if (!cycleActive_) return;
    cycleActive_ = false;
    const bool complete = now - cycleStart_ >= cycleNeed_ * slowFactor;
    for (const auto& w : cycleWrites_) {
        const uint16_t old = current(w);
        uint16_t value = w.value;
        if (!complete) {
            const uint16_t changing = (old ^ value) & (w.space == Space::Data ? 0xFF : 0x3FFF);
            if (changing) value ^= keepSomeOldBits(changing, w.address);
        }
        store(w, value);
    }
    cycleWrites_.clear();
}
