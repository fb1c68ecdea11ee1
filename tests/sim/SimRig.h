#pragma once

#include "SimScript.h"
#include "sim/SimChipTable.h"

#include <algorithm>
#include <string>

// A simulated programmer with one chip and an open link, driven by raw scripts.
struct SimRig {
    SimulatedDriver sim;
    Link link;
    const SimChipInfo* info;
    uint8_t socketCode;

    static SimConfig configFor(const std::string& device, SimConfig config) {
        config.chip = device;
        return config;
    }
    static uint8_t socketFor(const SimChipInfo* info) {
        if (!info) return 0x07;
        if (info->pins == 8 || info->pins == 18) return 0x07;
        if (info->pins == 28 || info->pins == 40) return 0x08;
        return 0x09;
    }

    explicit SimRig(const std::string& device, SimConfig config = {})
        : sim(configFor(device, config)), link(sim), info(findSimChip(device)), socketCode(socketFor(info)) {}

    std::vector<uint8_t> run(const Script& s, std::size_t length = 64) { return link.exchange(s, length); }

    void enter() { run(Script().control(socketCode).vppFirstEntry(), 10); }
    void enterVddFirst() { run(Script().control(socketCode).vddFirstEntry(), 10); }
    void leave() { run(Script().exit(), 10); }
    void reenter() {
        leave();
        enter();
    }
    void step(uint32_t count) {
        while (count) {
            const uint32_t k = std::min<uint32_t>(count, 32);
            Script s;
            for (uint32_t i = 0; i < k; ++i) s.cmd(0x06);
            run(s, 10);
            count -= k;
        }
    }
    void loadConfiguration(uint16_t data = 0x3FFF) { run(Script().load(0x00, data), 10); }
    uint16_t readProgram() { return frameWord(run(Script().read(0x04)), 0); }
    uint16_t readData() { return frameWord(run(Script().read(0x05)), 0) & 0xFF; }
    std::vector<uint8_t> rawRead(uint8_t cmd) { return run(Script().read(cmd)); }

    // One timed cycle on what the last load put in the latch: begin, wait, optional end command.
    void cycle(uint8_t begin, uint32_t waitUs, uint8_t end = 0) {
        Script s;
        s.cmd(begin).waitUs(waitUs);
        if (end) s.cmd(end);
        run(s, 10);
    }
    void writeProgram(uint16_t word, uint8_t begin = 0x08, uint32_t waitUs = 20000, uint8_t end = 0) {
        run(Script().load(0x02, word), 10);
        cycle(begin, waitUs, end);
    }
    void writeData(uint8_t byte, uint8_t begin = 0x08, uint32_t waitUs = 20000, uint8_t end = 0) {
        run(Script().load(0x03, byte), 10);
        cycle(begin, waitUs, end);
    }
    // The chip's own way to finish a programming-only cycle (0 when it times itself).
    uint8_t endCommand() const { return simFamilyTraits(info->family).endCommand; }
};
