// SPDX-License-Identifier: MIT
#include "sim/SimFirmware.h"

#include <algorithm>

namespace {

constexpr std::size_t kMaxScript = 64;

void appendFrame(std::vector<uint8_t>& answer, std::optional<uint16_t> word) {
    if (!word) {
        // Nobody drives the data line: the pull-up reads as ones.
        answer.push_back(0xFF);
        answer.push_back(0xFF);
        return;
    }
    const uint16_t frame = static_cast<uint16_t>((*word & 0x3FFF) << 1);
    answer.push_back(static_cast<uint8_t>(frame & 0xFF));
    answer.push_back(static_cast<uint8_t>(frame >> 8));
}

} // namespace

SimFirmware::SimFirmware(int clockValue, uint32_t identityValue)
    : clock(clockValue > 0 ? clockValue : 16), identity(identityValue) {}

void SimFirmware::applyPins(SimChip* chip, SimPosition chipPosition) {
    if (!chip) return;
    const bool reached = chipPosition == outputs.socket;
    const bool vdd = reached && outputs.power5v;
    // The DC-DC converter makes the programming voltage; without it MCLR "at VPP" is not.
    const bool vpp = reached && outputs.mclr == SimMclr::Vpp && outputs.dcdc;
    chip->setPins(vdd, vpp, now);
}

void SimFirmware::powerOff(SimChip* chip, SimPosition chipPosition) {
    outputs = SimOutputs{};
    applyPins(chip, chipPosition);
}

SimFirmware::Result SimFirmware::run(const uint8_t* script, std::size_t length, SimChip* chip,
                                     SimPosition chipPosition) {
    Result result;
    const double start = now;
    const double count = microsecondsPerCount();
    if (length == 0 || length > kMaxScript) result.malformed = true;
    const std::size_t n = std::min(length, kMaxScript);
    auto reached = [&] { return chip && chipPosition == outputs.socket; };

    std::size_t i = 0;
    while (i < n) {
        const uint8_t op = script[i];
        const std::size_t size = (op == 0x81 || op == 0x83) ? 4 : 2;
        if (op < 0x80 || op > 0x84) {
            result.malformed = true;
            break;
        }
        if (i + size > n) {
            result.malformed = true;
            break;
        }
        const uint8_t arg = script[i + 1];
        switch (op) {
        case 0x80:
            now += count;
            switch (arg) {
            case 0x00: outputs.led = true; break;
            case 0x01: outputs.led = false; break;
            case 0x02: outputs.dcdc = true; break;
            case 0x03: outputs.dcdc = false; break;
            case 0x04: outputs.mclr = SimMclr::Vpp; break;
            case 0x05: outputs.mclr = SimMclr::Reset; break;
            case 0x06: outputs.mclr = SimMclr::Normal; break;
            case 0x07: outputs.socket = SimPosition::Socket8_18; break;
            case 0x08: outputs.socket = SimPosition::Socket28_40; break;
            case 0x09: outputs.socket = SimPosition::Icsp; break;
            case 0x0A: outputs.power5v = true; break;
            case 0x0B: outputs.power5v = false; break;
            case 0x80:
                for (int shift = 24; shift >= 0; shift -= 8)
                    result.answer.push_back(static_cast<uint8_t>(identity >> shift));
                break;
            case 0x81:
                result.answer.push_back(static_cast<uint8_t>(clock));
                break;
            default:
                result.malformed = true;
                break;
            }
            applyPins(chip, chipPosition);
            break;
        case 0x81: {
            if (arg != 0x00) result.malformed = true;
            const uint32_t value = script[i + 2] | (script[i + 3] << 8);
            now += (65536.0 - value) * count;
            break;
        }
        case 0x82:
            if (arg > 0x3F) {
                result.malformed = true;
                break;
            }
            now += 6 * count;
            if (reached()) chip->command(arg, now);
            break;
        case 0x83: {
            if (arg > 0x3F) {
                result.malformed = true;
                break;
            }
            const uint16_t frame = static_cast<uint16_t>(script[i + 2] | (script[i + 3] << 8));
            now += 24 * count;
            if (reached()) chip->load(arg, static_cast<uint16_t>((frame >> 1) & 0x3FFF), now);
            break;
        }
        case 0x84: {
            if (arg > 0x3F) {
                result.malformed = true;
                appendFrame(result.answer, std::nullopt);
                break;
            }
            now += 6 * count;
            std::optional<uint16_t> word;
            if (reached()) word = chip->read(arg, now);
            now += 18 * count;
            appendFrame(result.answer, word);
            break;
        }
        }
        i += size;
    }
    result.microseconds = now - start;
    return result;
}
