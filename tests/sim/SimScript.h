#pragma once

#include "sim/SimulatedDriver.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

// Builds raw programmer scripts for the tests, byte by byte, so that a wrong host script builder
// cannot hide a wrong simulator (and the other way round).
struct Script {
    std::vector<uint8_t> bytes;

    Script& control(uint8_t code) { return put({0x80, code}); }
    Script& wait(uint16_t value) {
        return put({0x81, 0x00, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)});
    }
    // A wait of about the given microseconds at clock 16 (one count per microsecond).
    Script& waitUs(uint32_t us) { return wait(static_cast<uint16_t>(65536 - us)); }
    Script& cmd(uint8_t c) { return put({0x82, c}); }
    Script& load(uint8_t c, uint16_t word) {
        const uint16_t frame = static_cast<uint16_t>((word & 0x3FFF) << 1);
        return put({0x83, c, static_cast<uint8_t>(frame & 0xFF), static_cast<uint8_t>(frame >> 8)});
    }
    Script& read(uint8_t c) { return put({0x84, c}); }
    Script& put(std::initializer_list<uint8_t> b) {
        bytes.insert(bytes.end(), b);
        return *this;
    }

    // Outputs.
    Script& vppFirstEntry() { return control(0x00).control(0x02).control(0x0B).control(0x05).control(0x04).control(0x0A); }
    Script& vddFirstEntry() {
        return control(0x00).control(0x02).control(0x0B).control(0x05).control(0x0A).wait(0x00FF).control(0x04);
    }
    Script& exit() { return control(0x05).control(0x0B).control(0x03); }
};

// Decodes the 14-bit word of frame k in an answer.
inline uint16_t frameWord(const std::vector<uint8_t>& answer, std::size_t k) {
    return static_cast<uint16_t>((((answer[2 * k + 1] << 8) | answer[2 * k]) >> 1) & 0x3FFF);
}

// One open programmer and its pipes, for raw exchanges.
struct Link {
    SimulatedDriver& sim;
    int handle;
    UsbPipe* out;
    UsbPipe* in;

    explicit Link(SimulatedDriver& s)
        : sim(s), handle(s.openProgrammer()), out(s.openPipe(handle, 0, 1)), in(s.openPipe(handle, 0, 0)) {}

    // One exchange; an empty answer when either transfer failed.
    std::vector<uint8_t> exchange(const Script& script, std::size_t answerLength = 64, int timeoutMs = 1000) {
        if (out->write(script.bytes.data(), script.bytes.size(), timeoutMs) !=
            static_cast<int>(script.bytes.size()))
            return {};
        std::vector<uint8_t> answer(answerLength + 8, 0xEE);
        const int n = in->read(answer.data(), answerLength, timeoutMs);
        if (n < 0) return {};
        answer.resize(static_cast<std::size_t>(n));
        return answer;
    }
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& raw, std::size_t answerLength = 64) {
        Script s;
        s.bytes = raw;
        return exchange(s, answerLength);
    }
};
