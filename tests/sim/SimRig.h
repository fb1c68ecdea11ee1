// SPDX-License-Identifier: MIT
#pragma once

#include "sim/SimChipTable.h"
#include "sim/SimulatedDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Builds raw programmer scripts byte by byte, so that a wrong host script builder cannot hide a
// wrong simulator (and the other way round).
struct Script {
    std::vector<uint8_t> bytes;

    Script& put(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }
    Script& control(uint8_t code) { return put({0x80, code}); }
    Script& wait(uint16_t value) { return put({0x81, 0x00, uint8_t(value & 0xFF), uint8_t(value >> 8)}); }
    Script& waitUs(uint32_t us) { return wait(uint16_t(65536 - us)); } // at clock 16
    Script& cmd(uint8_t c) { return put({0x82, c}); }
    Script& load(uint8_t c, uint16_t word) {
        const uint16_t frame = uint16_t((word & 0x3FFF) << 1);
        return put({0x83, c, uint8_t(frame & 0xFF), uint8_t(frame >> 8)});
    }
    Script& read(uint8_t c) { return put({0x84, c}); }
    Script& vppFirstEntry() { return control(0x00).control(0x02).control(0x0B).control(0x05).control(0x04).control(0x0A); }
    Script& exit() { return control(0x05).control(0x0B).control(0x03); }
};

// The two bytes of frame k in an answer, low byte first; a failed or short exchange fails the
// test and reads as no bits at all.
inline uint16_t frameBytes(const std::vector<uint8_t>& answer, std::size_t k) {
    if (answer.size() < 2 * k + 2) {
        ADD_FAILURE() << "an answer of " << answer.size() << " bytes has no frame " << k;
        return 0;
    }
    return uint16_t(answer[2 * k + 1] << 8 | answer[2 * k]);
}

// The 14-bit word of frame k in an answer.
inline uint16_t frameWord(const std::vector<uint8_t>& answer, std::size_t k) {
    return uint16_t((frameBytes(answer, k) >> 1) & 0x3FFF);
}

// One open programmer and its pipes, for raw exchanges.
struct Link {
    int handle;
    UsbPipe* out;
    UsbPipe* in;

    explicit Link(SimulatedDriver& s) : handle(s.openProgrammer()), out(s.openPipe(handle, 0, 1)), in(s.openPipe(handle, 0, 0)) {}

    // One exchange; an empty answer when either transfer failed.
    std::vector<uint8_t> exchange(const Script& script, std::size_t answerLength = 64, int timeoutMs = 1000) {
        if (out->write(script.bytes.data(), script.bytes.size(), timeoutMs) != int(script.bytes.size())) return {};
        std::vector<uint8_t> answer(answerLength + 8, 0xEE);
        const int n = in->read(answer.data(), answerLength, timeoutMs);
        if (n < 0) return {};
        answer.resize(std::size_t(n));
        return answer;
    }
};

// A simulated programmer with one chip and an open link, driven by raw scripts.
struct SimRig {
    SimulatedDriver sim;
    Link link{sim};
    const SimChipInfo* info;
    uint8_t socketCode;

    explicit SimRig(const std::string& device, SimConfig config = {})
        : sim((config.chip = device, config)), info(findSimChip(device)),
          socketCode(!info || info->pins == 8 || info->pins == 18 ? 0x07 : info->pins == 28 || info->pins == 40 ? 0x08 : 0x09) {}

    // A failed exchange fails the test: an unpowered chip still answers, with ones.
    std::vector<uint8_t> run(const Script& s, std::size_t length = 64) {
        std::vector<uint8_t> answer = link.exchange(s, length);
        if (answer.empty()) ADD_FAILURE() << "an exchange with the simulated programmer failed";
        return answer;
    }
    void enter() { run(Script().control(socketCode).vppFirstEntry(), 10); }
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
    // The two answer bytes of a program read as they came: 0xFFFF when nothing answered.
    uint16_t rawRead() { return frameBytes(run(Script().read(0x04)), 0); }
    // A load, then one timed cycle: begin, wait, optional end command.
    void write(uint8_t loadCmd, uint16_t value, uint8_t begin = 0x08, uint32_t waitUs = 20000, uint8_t end = 0) {
        Script s;
        s.load(loadCmd, value).cmd(begin).waitUs(waitUs);
        if (end) s.cmd(end);
        run(s, 10);
    }
};
