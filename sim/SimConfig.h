// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

// Where the simulated chip sits. Auto: the socket its package fits, ICSP for other packages.
enum class SimPosition { Auto, Socket8_18, Socket28_40, Icsp };

// Seeded, repeatable faults. A negative count means "never".
struct SimFaults {
    int64_t unplugAfter = -1;      // unplug after this many exchanges
    int64_t stallAfter = -1;       // from this exchange on, answers never come (read times out)
    int64_t shortAfter = -1;       // from this exchange on, answers are one byte short
    int64_t flipAfter = -1;        // from this exchange on, one seeded bit per answer is flipped
    int32_t noProgramAddress = -1; // program word address whose writes do not take
    double slowFactor = 1.0;       // > 1: the chip needs this much longer than its data sheet
    bool slowest = false;          // the chip takes its data-sheet maximum for every cycle
    uint32_t seed = 1;
};

struct SimConfig {
    std::string chip;              // device name of the chip table; "" = nothing in any position
    SimPosition position = SimPosition::Auto;
    std::string imageFile;         // keeps the chip's memories between runs when not empty
    int clock = 16;                // answer of the clock query
    uint32_t identity = 0x4B564E01;// answer of the identity query
    bool realTime = false;         // false: instant virtual time (tests); true: sleeps as modelled
    bool plugged = true;           // whether the programmer is plugged in at start
    int trayCount = 0;             // > 0: a tray of this many fresh chips, taken by nextTrayChip
    int trayFail = 0;              // the tray's chip (from 1) whose program memory will not take
    SimFaults faults;
};

// "CHIP|empty[,image=FILE][,clock=N][,unplug-after=N][,stall-after=N][,noprogram=ADDR]"
// plus short-after=N, flip-after=N, slow (a chip at its data-sheet maximum times), slow=F, seed=N,
// identity=HEX, realtime[=0|1], unplugged, position=auto|socket8|socket28|icsp, tray=N and
// tray-fail=K. CHIP is a device name, any case. ADDR is hexadecimal
// (an optional 0x). Returns false with a plain-English error for anything it does not understand,
// leaving config as it was.
bool parseSimSetup(const std::string& setup, SimConfig& config, std::string& error);
