// SPDX-License-Identifier: MIT
#include "programmer/FastSchedule.h"

#include "programmer/Programmer.h"

#include <algorithm>
#include <cctype>

namespace {

struct ScheduleRow {
    const char* device;
    FastSchedule times;
};

// Longest times of the public Microchip programming specifications (and, for the data EEPROM,
// the data sheets' erase/write cycle), never the typical ones. A figure marked (?) was found in
// one source only; each rounds up to the whole 100 µs. Devices missing here keep the standard
// schedule. Second sources looked at: usbpicprog's firmware (bulk_erase.c, write_data.c,
// prog.h) and two other open programmers; what each says is noted under the figure.
//   16F84A      DS30262, section 2.3 / table 5-1: Begin Erase/Programming erases and programs
//               one word, 8 ms at most (4 + 4); bulk erase 10 ms; data EEPROM as program words.
//   16F628      DS30034, section 3.2 / table 5-1: as the 16F84A (?). Not confirmed: usbpicprog
//               waits 20 ms ("Tera + Tprog") after its bulk erase of this family.
//   16F87x      DS39025, section 2.3 / table 5-1: erase/program cycle 8 ms; bulk erase 8 ms,
//               confirmed: usbpicprog's bulk erase of program and of data memory waits 8 ms.
//   16F62xA     DS41196, section 3.2 / table 5-1: program cycle 2.5 ms to 4 ms; data EEPROM 6 ms;
//               each bulk erase 6 ms. A programmer written from DS41196E calls 2.5, 6 and 6 ms
//               minimums and waits 3, 10 and 10 ms: the 6 ms figures are not confirmed as maxima,
//               so the data EEPROM and the bulk erases wait that programmer's 10 ms.
//   16F87xA     DS39589, section 2.3 / table 5-1: a row by Begin Programming Only to End
//               Programming 1 ms to 2 ms; Begin Erase/Programming (data EEPROM) up to 8 ms;
//               chip erase 8 ms to 10 ms.
//   16F819/88   DS39603 and DS39607, section 2.3 / table 5-1: a four-word row 1 ms to 2 ms; a
//               data byte by Begin Programming Only 2 ms to 4 ms (?); chip erase 8 ms to 10 ms.
//               usbpicprog writes these data bytes the same way (0x18 ... 0x17) but waits its
//               one 8 ms for every PIC16 data byte: the 4 ms is not confirmed.
//   12F629/675, 16F630/676
//               DS41191, section 3.2 / table 5-1: program cycle 2.5 ms to 3 ms; data EEPROM
//               6 ms; each bulk erase 6 ms to 8 ms.
//                              word   row    eeprom  bulk   chip
constexpr FastSchedule k84A    {8000,  0,     8000,  10000, 0};
constexpr FastSchedule k87x    {8000,  0,     8000,  8000,  0};
constexpr FastSchedule k62xA   {4000,  0,     10000, 10000, 0};
constexpr FastSchedule k87xA   {8000,  2000,  8000,  10000, 10000};
constexpr FastSchedule k81x    {4000,  2000,  4000,  10000, 10000};
constexpr FastSchedule k629    {3000,  0,     6000,  8000,  0};

constexpr ScheduleRow kSchedules[] = {
    {"PIC16F84A", k84A},   {"PIC16F628", k84A},
    {"PIC16F870", k87x},   {"PIC16F871", k87x},   {"PIC16F877", k87x},
    {"PIC16F627A", k62xA}, {"PIC16F628A", k62xA}, {"PIC16F648A", k62xA},
    {"PIC16F873A", k87xA}, {"PIC16F874A", k87xA}, {"PIC16F876A", k87xA}, {"PIC16F877A", k87xA},
    {"PIC16F819", k81x},   {"PIC16F88", k81x},
    {"PIC12F629", k629},   {"PIC12F675", k629},   {"PIC16F630", k629},   {"PIC16F676", k629},
};

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// Bytes one unit of k items costs in a script.
std::size_t unitBytes(std::span<const uint16_t> unit, const FastWriteForm& form)
{
    if (form.skipBlank && std::all_of(unit.begin(), unit.end(), [&](uint16_t w) { return w == form.blank; }))
        return 2 * unit.size();
    return 6 * unit.size() - 2 + (form.programOnly ? 10 : 8);
}

void appendUnit(Script& script, std::span<const uint16_t> unit, const FastWriteForm& form)
{
    if (form.skipBlank && std::all_of(unit.begin(), unit.end(), [&](uint16_t w) { return w == form.blank; })) {
        for (std::size_t i = 0; i < unit.size(); ++i)
            script.command(kIncrementAddress);
        return;
    }
    for (std::size_t i = 0; i < unit.size(); ++i) {
        script.load(form.loadCommand, unit[i]);
        if (i + 1 < unit.size())
            script.command(kIncrementAddress);
    }
    if (form.programOnly) {
        script.command(kBeginProgrammingOnly);
        script.wait(form.wait);
        script.command(kEndProgramming);
    } else {
        script.command(kBeginEraseProgramming);
        script.wait(form.wait);
    }
    script.command(kIncrementAddress);
}

} // namespace

std::optional<FastSchedule> fastScheduleFor(std::string_view device)
{
    for (const ScheduleRow& row : kSchedules)
        if (sameName(row.device, device))
            return row.times;
    return std::nullopt;
}

uint16_t waitForMicroseconds(uint32_t us, int32_t clock)
{
    const uint64_t c = clock > 0 ? static_cast<uint64_t>(clock) : 4;
    const uint64_t counts = std::clamp<uint64_t>((uint64_t{us} * c + 15) / 16, 1, 65535);
    return static_cast<uint16_t>(65536 - counts);
}

FastPack packFastWrites(std::span<const uint16_t> items, const FastWriteForm& form)
{
    FastPack pack;
    pack.script.answerLength = 10;
    const std::size_t row = std::max<uint32_t>(form.rowWords, 1);
    std::size_t used = 0;
    while (pack.taken < items.size()) {
        const auto unit = items.subspan(pack.taken, std::min(row, items.size() - pack.taken));
        const std::size_t cost = unitBytes(unit, form);
        if (used + cost > kScriptCapacity)
            break;
        appendUnit(pack.script, unit, form);
        used += cost;
        pack.taken += static_cast<uint32_t>(unit.size());
    }
    return pack;
}

bool dataFollowsProgram(uint32_t programWords, uint32_t eepromBytes)
{
    // OpenProg reads data memory the same way, by stepping the one counter on to 0x2100.
    // The counter wraps from 0x1FFF to 0 in program space.
    const bool powerOfTwo = eepromBytes != 0 && (eepromBytes & (eepromBytes - 1)) == 0;
    return powerOfTwo && programWords % 0x2000 % eepromBytes == 0;
}

Script fastEraseScript(uint8_t command, uint16_t wait)
{
    Script script;
    script.command(command);
    script.wait(wait);
    // The standard erase scripts ask for these lengths; the firmware is used to them.
    script.answerLength = command == kChipErase ? 10 : 65;
    return script;
}

double programFloorMs(const Programmer& p, const FastSchedule& times)
{
    const bool erased = p.programMethod != 0;
    const bool rows = p.programMethod == 2;
    const std::size_t row = rows ? static_cast<std::size_t>(std::max(p.blockWords, 1)) : 1;
    const std::size_t words = std::min<std::size_t>(p.programWordCount, p.programWords.size());
    double us = 0;
    uint64_t sentBytes = 0;
    for (std::size_t at = 0; at < words; at += row) {
        const std::size_t n = std::min(row, words - at);
        const bool blank = std::all_of(p.programWords.begin() + at, p.programWords.begin() + at + n,
                                       [&](uint16_t w) { return (w & p.blankWord) == p.blankWord; });
        if (erased && blank)
            continue;
        us += rows ? times.rowUs : times.wordUs;
        sentBytes += 4 * n;
    }
    const std::size_t bytes = std::min<std::size_t>(p.eepromByteCount, p.eepromBytes.size());
    for (std::size_t i = 0; i < bytes; ++i) {
        if (erased && (p.eepromBytes[i] & 0xFF) == 0xFF)
            continue;
        us += times.eepromUs;
        sentBytes += 4;
    }
    if (rows)
        us += times.chipEraseUs;
    else if (erased)
        us += times.bulkEraseUs * (p.eepromByteCount != 0 ? 2 : 1);
    const auto trips = [](uint64_t n) { return static_cast<double>((n + kScriptCapacity - 1) / kScriptCapacity); };
    // A read costs a 4-byte command pair per word in the script, whatever the answer holds.
    const double roundTrips = trips(sentBytes) + trips(4 * uint64_t{p.programWordCount}) + trips(4 * uint64_t{p.eepromByteCount});
    return us / 1000.0 + roundTrips;
}
