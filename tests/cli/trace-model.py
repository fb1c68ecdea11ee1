#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks a `korvalin-cli --trace` recording of `program` against the scripts the programmer's
command tables call for, worked out here from the catalogue line and the HEX file alone.

usage: trace-model.py CATALOGUE DEVICE HEXFILE TRACE

The trace's R lines are the programmer's answers and are taken as given: the clock query's
answer picks the wait values, the device ID answer must pass the catalogue's check. Every W
line must be the next script of the model, and no script may be missing or extra. Nothing here
comes from the program under test, so a change of bytes on the wire shows up as a failure
instead of as a new snapshot. Exit 0 on a match, 1 with the first difference otherwise.

The model knows the chains of the standard schedule for entry sequences 0 to 2, program write
methods 0 and 1, EEPROM write methods 0 and 1 and configuration family 0; it refuses a device
that needs anything else rather than guess.
"""
import sys

# Script opcodes.
CONTROL, WAIT, COMMAND, LOAD, READ_FRAME = 0x80, 0x81, 0x82, 0x83, 0x84
# Control codes.
LED_ON, DCDC_ON, DCDC_OFF = 0x00, 0x02, 0x03
MCLR_VPP, MCLR_RESET = 0x04, 0x05
SOCKET_SMALL, SOCKET_LARGE, SOCKET_ICSP = 0x07, 0x08, 0x09
SUPPLY_ON, SUPPLY_OFF = 0x0A, 0x0B
IDENTITY_QUERY, CLOCK_QUERY = 0x80, 0x81
# The chip's serial programming commands.
LOAD_CONFIGURATION, LOAD_PROGRAM, LOAD_DATA = 0x00, 0x02, 0x03
READ_PROGRAM, READ_DATA, INCREMENT = 0x04, 0x05, 0x06
BEGIN_ERASE_PROGRAMMING, END_PROGRAMMING, BEGIN_PROGRAMMING_ONLY = 0x08, 0x17, 0x18
BULK_ERASE_PROGRAM, BULK_ERASE_DATA = 0x09, 0x0B
# Wait values (short, medium, long) by the programmer's clock: 16, or any other.
WAITS = {True: (0xE0BF, 0xC17F, 0x63BF), False: (0xF82F, 0xF05F, 0xB8EF)}
BLANK_ID_WORD = 0x3FFF


def control(code): return [CONTROL, code]
def wait(value): return [WAIT, 0x00, value & 0xFF, value >> 8]
def command(cmd): return [COMMAND, cmd]
def frame(word): return [(word << 1) & 0xFF, (word >> 7) & 0xFF]
def load(cmd, word): return [LOAD, cmd] + frame(word)
def read_frame(cmd): return [READ_FRAME, cmd]


ENTRY = {
    0: control(LED_ON) + control(DCDC_ON) + wait(0x0001) + control(SUPPLY_OFF) + control(MCLR_RESET)
       + control(SUPPLY_ON) + wait(0x00FF) + control(MCLR_VPP),
    1: control(LED_ON) + control(DCDC_ON) + wait(0x0001) + control(SUPPLY_OFF) + control(MCLR_RESET)
       + control(MCLR_VPP) + control(SUPPLY_ON),
    2: control(SUPPLY_OFF) + control(MCLR_RESET) + control(LED_ON) + control(DCDC_OFF) + wait(0x0001)
       + control(SUPPLY_ON) + control(MCLR_VPP),
}
EXIT = control(MCLR_RESET) + control(SUPPLY_OFF) + control(DCDC_OFF)
DEVICE_ID_PROBE = command(INCREMENT) + load(LOAD_CONFIGURATION, 0) + command(INCREMENT) * 6 + read_frame(READ_PROGRAM)
DEVICE_ID_STEP = command(INCREMENT) * 2 + read_frame(READ_PROGRAM) + command(INCREMENT)
CONFIG_READ_STEP = read_frame(READ_PROGRAM) + command(INCREMENT)
CONFIG_POSITION = load(LOAD_CONFIGURATION, 0x3FFF) + command(INCREMENT) * 7


class Device:
    def __init__(self, catalogue, name):
        for line in open(catalogue, encoding="utf-8"):
            if line.startswith(";"):
                continue
            cols = line.rstrip("\n").split("\t")
            if cols[0] != name:
                continue
            words, bits = (int(x) for x in cols[1].split(":"))
            self.words, self.blank = words, (1 << bits) - 1
            self.eeprom = int(cols[2])
            tags = []
            rest = cols[3]
            while "]" in rest:
                tag, rest = rest.split("]", 1)
                tags.append(tag + "]")
            self.protect_off = sum(1 << (13 - i) for i, t in enumerate(tags[:14])
                                   if t in ("[CP]", "[CPD]", "[*CP]", "[*CPD]"))
            self.pins = int(cols[4])
            (self.entry, self.program_method, self.eeprom_method, self.family,
             _reserved, _erase, _block) = (int(c) for c in cols[5:12])
            self.calibrated = cols[12] != ":"
            expected, mask = cols[13].split(":")
            self.expected_id, self.id_mask = int(expected, 16), int(mask, 16)
            if (self.entry not in ENTRY or self.program_method not in (0, 1)
                    or self.eeprom_method not in (0, 1) or self.family != 0 or self.calibrated):
                sys.exit(f"trace-model: {name} needs a chain this model does not know")
            return
        sys.exit(f"trace-model: no {name} in {catalogue}")


class Image:
    """The chip contents a HEX file asks for; what it leaves out stays blank."""

    def __init__(self, path, device):
        self.program = [device.blank] * device.words
        self.eeprom = [0xFF] * device.eeprom
        self.ids = [BLANK_ID_WORD] * 4
        self.config = device.blank
        base = 0
        for line in open(path, encoding="ascii"):
            line = line.strip()
            if not line.startswith(":"):
                continue
            raw = bytes.fromhex(line[1:])
            count, address, kind, data = raw[0], (raw[1] << 8) | raw[2], raw[3], raw[4:4 + raw[0]]
            if kind == 0x04:
                base = ((data[0] << 8) | data[1]) << 16
            if kind != 0x00:
                continue
            for i in range(0, count, 2):
                word = (base + address + i) // 2
                value = data[i] | (data[i + 1] << 8)
                if word < device.words:
                    self.program[word] = value
                elif 0x2000 <= word < 0x2004:
                    self.ids[word - 0x2000] = value
                elif word == 0x2007:
                    self.config = value
                elif 0x2100 <= word < 0x2100 + device.eeprom:
                    self.eeprom[word - 0x2100] = value & 0xFF

    def user_id_words(self):
        # The four locations keep only their low nibble: written back, they become these words.
        packed = sum((w & 0x0F) << (4 * i) for i, w in enumerate(self.ids))
        return [packed & 0x3F8F, (packed >> 4) & 0x0F8F, (packed >> 8) & 0x008F, packed >> 12]


class Trace:
    def __init__(self, path):
        self.pairs = []
        lines = [l.split() for l in open(path, encoding="ascii") if l.strip()]
        for i in range(0, len(lines), 2):
            w, r = lines[i], lines[i + 1] if i + 1 < len(lines) else ["R"]
            if w[0] != "W" or r[0] != "R":
                sys.exit(f"trace-model: line {i + 1}: W and R lines must alternate")
            self.pairs.append(([int(x, 16) for x in w[1:]], [int(x, 16) for x in r[2:]]))
        self.at = 0

    def expect(self, script, what):
        """The next exchange must write this script; returns the programmer's answer to it."""
        if self.at >= len(self.pairs):
            self.fail(f"exchange {self.at + 1} ({what}) is missing from the trace")
        written, answer = self.pairs[self.at]
        if written != script:
            self.fail(f"exchange {self.at + 1} ({what}):\n  expected W {fmt(script)}\n  trace    W {fmt(written)}")
        self.at += 1
        return answer

    def fail(self, message):
        print(f"trace-model: {message}")
        sys.exit(1)


def fmt(data): return " ".join(f"{b:02X}" for b in data)


def decode(answer): return ((answer[1] << 7) + (answer[0] >> 1)) & 0x3FFF


def program_chain(device, image, trace):
    trace.expect(control(IDENTITY_QUERY), "identity query")
    clock = trace.expect(control(CLOCK_QUERY), "clock query")[0]
    short, medium, long_ = WAITS[clock == 16]
    socket = SOCKET_SMALL if device.pins in (8, 18) else SOCKET_LARGE if device.pins in (28, 40) else SOCKET_ICSP

    def phase(scripts):
        trace.expect(ENTRY[device.entry], "entry")
        for script, what in scripts:
            trace.expect(script, what)
        trace.expect(EXIT, "exit")

    def device_id_check():
        trace.expect(control(socket), "socket")
        trace.expect(ENTRY[device.entry], "entry")
        chip_id = decode(trace.expect(DEVICE_ID_PROBE, "device ID probe"))
        trace.expect(EXIT, "exit")
        if chip_id & device.id_mask != device.expected_id:
            trace.fail(f"the trace's chip answers device ID {chip_id:04X}, which the catalogue refuses")

    def write_word(word, what):
        return [(load(LOAD_PROGRAM, word) + command(BEGIN_ERASE_PROGRAMMING) + wait(short) + read_frame(READ_PROGRAM), what),
                (command(INCREMENT), "increment")]

    def family0_config_write(word):
        return load(LOAD_PROGRAM, word) + command(BEGIN_ERASE_PROGRAMMING) + wait(long_)

    # Program, always with code protection off, so that the verify can read what was written.
    device_id_check()
    scripts = []
    if device.program_method == 1:
        scripts.append((command(BULK_ERASE_PROGRAM) + wait(medium), "bulk erase program"))
        if device.eeprom:
            scripts.append((command(BULK_ERASE_DATA) + wait(medium), "bulk erase data"))
    for address, word in enumerate(image.program):
        scripts += write_word(word, f"program word {address:04X}")
    phase(scripts)
    if device.eeprom:
        if device.eeprom_method == 0:
            cycle = command(BEGIN_ERASE_PROGRAMMING) + wait(long_) + command(INCREMENT)
        else:
            cycle = command(BEGIN_PROGRAMMING_ONLY) + wait(medium) + command(END_PROGRAMMING) + command(INCREMENT)
        phase([(load(LOAD_DATA, byte) + cycle, f"EEPROM byte {i:02X}") for i, byte in enumerate(image.eeprom)])
    scripts = [(load(LOAD_CONFIGURATION, 0), "load configuration")]
    for i, word in enumerate(image.user_id_words()):
        scripts += write_word(word, f"user ID {i}")
    scripts.append((DEVICE_ID_STEP, "device ID step"))
    scripts.append((family0_config_write(image.config | device.protect_off), "configuration word"))
    phase(scripts)

    # Verify reads everything back.
    device_id_check()
    phase([((read_frame(READ_PROGRAM) + command(INCREMENT)) * 16, f"program block {i}")
          for i in range(device.words // 16)])
    if device.eeprom:
        phase([((read_frame(READ_DATA) + command(INCREMENT)) * 16, f"EEPROM block {i}")
               for i in range(device.eeprom // 16)])
    phase([(load(LOAD_CONFIGURATION, 0) + (read_frame(READ_PROGRAM) + command(INCREMENT)) * 4, "user IDs"),
           (DEVICE_ID_STEP, "device ID step"), (CONFIG_READ_STEP, "configuration word")])

    # Only a protected image: the protected word, written last and read back.
    if image.config | device.protect_off != image.config:
        device_id_check()
        phase([(CONFIG_POSITION, "configuration position"), (family0_config_write(image.config), "protected word")])
        phase([(CONFIG_POSITION, "configuration position"), (CONFIG_READ_STEP, "protected word read back")])

    if trace.at != len(trace.pairs):
        trace.fail(f"the trace goes on after the last expected exchange ({trace.at}): W {fmt(trace.pairs[trace.at][0])}")


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    device = Device(sys.argv[1], sys.argv[2])
    program_chain(device, Image(sys.argv[3], device), Trace(sys.argv[4]))


main()
