// SPDX-License-Identifier: MIT
#include "sim/SimImageFile.h"

#include "sim/SimChipTable.h"

#include "device/HexNumber.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kMagic = "KorvalinSimChip";

std::string hex(unsigned value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
    return buffer;
}

bool parseHex(const std::string& token, unsigned limit, unsigned& value) {
    uint64_t v = 0;
    if (!parseHexNumber(token, limit, v)) return false;
    value = static_cast<unsigned>(v);
    return true;
}

} // namespace

std::string formatSimImage(const SimChipState& s) {
    std::ostringstream out;
    out << kMagic << " 1\n";
    out << "device " << s.device << "\n";
    out << "deviceid " << hex(s.deviceIdWord, 4) << "\n";
    out << "config " << hex(s.configWord, 4) << "\n";
    out << "config2 " << hex(s.configWord2, 4) << "\n";
    out << "userids";
    for (uint16_t id : s.userIds) out << ' ' << hex(id, 4);
    out << "\n";
    out << "factory " << hex(s.factoryCalibrationWord, 4) << ' '
        << hex(s.factoryCalibrationBits, 4) << "\n";
    for (std::size_t a = 0; a < s.programWords.size(); a += 16) {
        out << "program " << hex(static_cast<unsigned>(a), 4);
        for (std::size_t i = a; i < a + 16 && i < s.programWords.size(); ++i)
            out << ' ' << hex(s.programWords[i], 4);
        out << "\n";
    }
    for (std::size_t a = 0; a < s.eepromBytes.size(); a += 16) {
        out << "eeprom " << hex(static_cast<unsigned>(a), 4);
        for (std::size_t i = a; i < a + 16 && i < s.eepromBytes.size(); ++i)
            out << ' ' << hex(s.eepromBytes[i], 2);
        out << "\n";
    }
    return out.str();
}

bool parseSimImage(const std::string& text, SimChipState& state, std::string& error) {
    std::istringstream in(text);
    std::string line;
    // An image edited on another system may end its lines in CR LF, the first one included.
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!in || line != std::string(kMagic) + " 1") {
        error = "not a simulated chip image";
        return false;
    }
    SimChipState s;
    const SimChipInfo* info = nullptr;
    std::vector<bool> seenProgram, seenEeprom;
    int lineNumber = 1;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        std::vector<std::string> values;
        for (std::string v; fields >> v;) values.push_back(v);
        unsigned v = 0;
        if (key == "device") {
            if (values.size() != 1 || !(info = findSimChip(values[0]))) return fail("unknown device");
            s.device = info->name;
            s.programWords.assign(info->programWords, 0x3FFF);
            s.eepromBytes.assign(info->eepromBytes, 0xFF);
            seenProgram.assign(info->programWords, false);
            seenEeprom.assign(info->eepromBytes, false);
        } else if (key == "deviceid" || key == "config" || key == "config2") {
            if (values.size() != 1 || !parseHex(values[0], 0x3FFF, v)) return fail("bad " + key);
            (key == "deviceid" ? s.deviceIdWord : key == "config" ? s.configWord : s.configWord2) =
                static_cast<uint16_t>(v);
        } else if (key == "userids") {
            if (values.size() != 4) return fail("four user IDs expected");
            for (int i = 0; i < 4; ++i) {
                if (!parseHex(values[i], 0x3FFF, v)) return fail("bad user ID");
                s.userIds[i] = static_cast<uint16_t>(v);
            }
        } else if (key == "factory") {
            unsigned w = 0;
            if (values.size() != 2 || !parseHex(values[0], 0x3FFF, w) || !parseHex(values[1], 0x3FFF, v))
                return fail("bad factory calibration");
            s.factoryCalibrationWord = static_cast<uint16_t>(w);
            s.factoryCalibrationBits = static_cast<uint16_t>(v);
        } else if (key == "program" || key == "eeprom") {
            if (!info) return fail("memory before device");
            const bool isProgram = key == "program";
            auto& seen = isProgram ? seenProgram : seenEeprom;
            unsigned address = 0;
            if (values.size() < 2 || !parseHex(values[0], 0xFFFF, address)) return fail("bad address");
            for (std::size_t i = 1; i < values.size(); ++i, ++address) {
                if (address >= seen.size()) return fail("address beyond the chip");
                if (seen[address]) return fail("address given twice");
                if (!parseHex(values[i], isProgram ? 0x3FFF : 0xFF, v)) return fail("bad value");
                seen[address] = true;
                if (isProgram)
                    s.programWords[address] = static_cast<uint16_t>(v);
                else
                    s.eepromBytes[address] = static_cast<uint8_t>(v);
            }
        } else {
            return fail("unknown key " + key);
        }
    }
    if (!info) {
        error = "no device line";
        return false;
    }
    for (bool b : seenProgram)
        if (!b) return fail("program memory incomplete");
    for (bool b : seenEeprom)
        if (!b) return fail("EEPROM incomplete");
    s.present = true;
    state = std::move(s);
    return true;
}

bool readWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string content;
    char block[64 * 1024];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        content.append(block, static_cast<std::size_t>(in.gcount()));
        if (content.size() > maxSimImageBytes) return false;
    }
    if (in.bad()) return false;
    text = std::move(content);
    return true;
}
