// SPDX-License-Identifier: MIT
#include "sim/SimConfig.h"
#include "device/HexNumber.h"

#include "sim/SimChipTable.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool parseCount(const std::string& text, long long max, long long& value) {
    if (text.empty() || text.size() > 18) return false;
    long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > max) return false;
    value = v;
    return true;
}

bool parseHexValue(std::string text, uint64_t max, uint64_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    return parseHexNumber(text, max, value);
}

} // namespace

bool parseSimSetup(const std::string& setup, SimConfig& config, std::string& error) {
    const auto fields = split(setup, ',');
    SimConfig c;
    const std::string& chip = fields[0];
    if (chip.empty()) {
        error = "the simulator needs a chip name or \"empty\" first";
        return false;
    }
    if (chip == "empty") {
        c.chip.clear();
    } else if (const SimChipInfo* info = findSimChip(chip)) {
        c.chip = info->name;
    } else {
        error = "the simulator has no chip called \"" + chip + "\"";
        return false;
    }

    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::string& field = fields[i];
        const auto eq = field.find('=');
        const std::string key = field.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);
        const bool hasValue = eq != std::string::npos;
        auto bad = [&](const std::string& what) {
            error = "simulator option \"" + field + "\": " + what;
            return false;
        };
        long long n = 0;
        uint64_t h = 0;
        if (key == "image") {
            if (value.empty()) return bad("needs a file name");
            c.imageFile = value;
        } else if (key == "clock") {
            if (!parseCount(value, 255, n) || n == 0) return bad("must be a whole number from 1 to 255");
            c.clock = static_cast<int>(n);
        } else if (key == "unplug-after" || key == "stall-after" || key == "short-after" ||
                   key == "flip-after") {
            if (!parseCount(value, 1000000000000LL, n)) return bad("must be a whole number of exchanges");
            (key == "unplug-after" ? c.faults.unplugAfter
             : key == "stall-after" ? c.faults.stallAfter
             : key == "short-after" ? c.faults.shortAfter
                                    : c.faults.flipAfter) = n;
        } else if (key == "noprogram") {
            if (!parseHexValue(value, 0x1FFF, h)) return bad("must be a program address in hexadecimal, 0 to 1FFF");
            c.faults.noProgramAddress = static_cast<int32_t>(h);
        } else if (key == "slow" && !hasValue) {
            c.faults.slowest = true;
        } else if (key == "slow") {
            if (value.empty()) return bad("needs a factor");
            errno = 0;
            char* end = nullptr;
            const double f = std::strtod(value.c_str(), &end);
            if (errno || *end || !std::isfinite(f) || f < 0.01 || f > 1000) return bad("must be a factor from 0.01 to 1000");
            c.faults.slowFactor = f;
        } else if (key == "seed") {
            if (!parseCount(value, 0xFFFFFFFFLL, n)) return bad("must be a whole number");
            c.faults.seed = static_cast<uint32_t>(n);
        } else if (key == "identity") {
            if (!parseHexValue(value, 0xFFFFFFFFull, h)) return bad("must be a 32-bit hexadecimal value");
            c.identity = static_cast<uint32_t>(h);
        } else if (key == "realtime") {
            if (hasValue && value != "1" && value != "0") return bad("takes no value, or 0 or 1");
            c.realTime = !hasValue || value == "1";
        } else if (key == "unplugged") {
            if (hasValue) return bad("takes no value");
            c.plugged = false;
        } else if (key == "position") {
            if (value == "auto")
                c.position = SimPosition::Auto;
            else if (value == "socket8" || value == "socket18")
                c.position = SimPosition::Socket8_18;
            else if (value == "socket28" || value == "socket40")
                c.position = SimPosition::Socket28_40;
            else if (value == "icsp")
                c.position = SimPosition::Icsp;
            else
                return bad("must be auto, socket8, socket28 or icsp");
        } else if (key == "tray" || key == "tray-fail") {
            if (!parseCount(value, 1000000, n) || n == 0) return bad("must be a whole number from 1 to 1000000");
            (key == "tray" ? c.trayCount : c.trayFail) = static_cast<int>(n);
        } else {
            error = "unknown simulator option \"" + key + "\"";
            return false;
        }
    }
    // A tray of nothing, or a failing chip the tray never reaches, would test nothing.
    if (c.trayCount > 0 && c.chip.empty()) {
        error = "a simulator tray needs a chip name";
        return false;
    }
    if (c.trayFail > c.trayCount) {
        error = "simulator option tray-fail=" + std::to_string(c.trayFail) + " is not a chip of the tray";
        return false;
    }
    config = c;
    return true;
}
