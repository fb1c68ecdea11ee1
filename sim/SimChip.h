// SPDX-License-Identifier: MIT
#pragma once

#include "sim/SimChipTable.h"

#include <cstdint>
#include <optional>
#include <vector>

// One simulated PIC16 mid-range chip: its non-volatile memories and its ICSP state machine.
//
// Rules this model follows (the tests hold it to them):
// - Power: the chip is powered while VDD is on. It enters programming mode when VPP is on while
//   it is powered, with the address counter at 0 and empty write latches. A chip that must see
//   VPP first (vppFirst) accepts VPP only while VDD was off or came up less than
//   kVppAfterVddWindowUs before; later its own program is already running and entry is refused
//   until VDD or VPP is taken away. Dropping VDD or VPP leaves programming mode.
// - Address counter: Load Configuration jumps to 0x2000; Increment Address counts up. In program
//   space it wraps from 0x1FFF to 0; words beyond the chip's size alias onto it (address modulo
//   size), as on the real parts. In configuration space it wraps from 0x3FFF to 0x2000; nothing
//   but Load Configuration leads there and only leaving programming mode leads back. Data memory
//   uses the low bits of the same counter.
// - Write latches: Load Data for Program Memory fills latch (address mod latchWords). A cycle on
//   program memory writes the whole latch row, after which multi-word latches are ones again.
//   In configuration space only the latches loaded since the last cycle are written. On chips
//   with multi-word latches Load Configuration only moves the counter and clears the latches; on
//   the others its data word becomes the latch.
// - Cycles: a Begin command starts a cycle whose effect is applied when the next command that
//   the chip decodes arrives (or power goes). If less than the time the chip needs (its usual
//   time, or its data-sheet maximum when slowest; times slowFactor) has passed, the cycle was cut short and some of the bits it should have changed
//   keep their old value. Commands the family does not know are ignored altogether.
// - Program-only cycles can only clear bits. Erase-then-program cycles replace the word, except
//   that a code-protected chip cannot erase its configuration word or user IDs that way. Data
//   EEPROM bytes erase themselves before every write.
// - Code protection: protected program memory reads 0 and ignores writes; with CPD on, data
//   memory does the same. Configuration, user IDs and device ID stay readable. Only an erase
//   that includes the configuration word lifts protection: bulk erase of program memory issued
//   in configuration space, chip erase, or the setup sequence with 0x08 at 0x2007.
// - Unimplemented configuration bits read 0.
class SimChip {
public:
    static constexpr double kVppAfterVddWindowUs = 250.0;

    SimChip(const SimChipInfo& info, uint32_t seed);

    const SimChipInfo& info() const { return *info_; }

    // Non-volatile contents, open to tests and the image file.
    std::vector<uint16_t> program;
    std::vector<uint8_t> eeprom;
    uint16_t userIds[4] = {0x3FFF, 0x3FFF, 0x3FFF, 0x3FFF};
    uint16_t config = 0x3FFF;     // as stored: unimplemented bits already 0
    uint16_t config2 = 0x3FFF;
    uint16_t deviceIdWord = 0x3FFF;
    uint16_t factoryCalibrationWord = 0;
    uint16_t factoryCalibrationBits = 0;

    // Faults.
    int32_t noProgramAddress = -1;
    bool refusesProgramming = false;   // no program-memory write takes
    double slowFactor = 1.0;
    bool slowest = false;         // every cycle takes its data-sheet maximum (before slowFactor)

    // Pins as the chip sees them, at virtual time now (microseconds).
    void setPins(bool vdd, bool vpp, double now);
    bool inProgrammingMode() const { return mode_ == Mode::Programming; }
    bool entryRefused() const { return mode_ == Mode::EntryRefused; }
    uint16_t address() const { return pc_; }

    // One ICSP command, with a data frame word clocked in (load) or out (read).
    void command(uint8_t cmd, double now);
    void load(uint8_t cmd, uint16_t data, double now);
    std::optional<uint16_t> read(uint8_t cmd, double now); // nullopt: the chip did not drive
    // Applies a cycle whose time has fully passed (for snapshots between exchanges).
    void settle(double now);

    // Protection as the current configuration word sets it.
    uint32_t protectedFrom() const; // first protected program address; size when none
    bool dataProtected() const;

    uint16_t readProgramSpace(uint16_t address) const;

private:
    enum class Mode { Off, Running, Programming, EntryRefused };
    enum class Space { Program, Config, Data };
    enum class LastLoad { None, Program, Data };
    struct PendingWrite {
        Space space;
        uint16_t address;
        uint16_t value;
    };

    void resetVolatile();
    void finishCycle(double now);
    double cycleTime(double usual, double maximum) const { return slowest ? maximum : usual; }
    void startCycle(double need, std::vector<PendingWrite> writes, double now);
    void beginWrite(bool eraseFirst, double need, double now);
    void bulkEraseProgram(double now);
    void bulkEraseData(double now);
    void setupErase(double now);
    void chipErase(double now);
    void addProgramErase(std::vector<PendingWrite>& writes) const;
    void addDataErase(std::vector<PendingWrite>& writes) const;
    void addConfigErase(std::vector<PendingWrite>& writes) const;
    uint16_t current(const PendingWrite& w) const;
    void store(const PendingWrite& w, uint16_t value);
    uint16_t keepSomeOldBits(uint16_t changing, uint16_t address);
    void increment();
    bool anyProtection() const { return protectedFrom() < info_->programWords || dataProtected(); }

    const SimChipInfo* info_;
    const SimFamilyTraits* traits_;
    uint64_t rng_;

    Mode mode_ = Mode::Off;
    bool vdd_ = false;
    bool vpp_ = false;
    double vddSince_ = 0;

    uint16_t pc_ = 0;
    uint16_t latches_[8];
    uint8_t loadedLatches_ = 0;
    uint8_t dataLatch_ = 0xFF;
    LastLoad lastLoad_ = LastLoad::None;
    bool armProgramErase_ = false;
    bool armDataErase_ = false;
    int setupStage_ = 0;

    bool cycleActive_ = false;
    double cycleStart_ = 0;
    double cycleNeed_ = 0;
    std::vector<PendingWrite> cycleWrites_;
};
