// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

class MemoryImage;
class Programmer;

// Which areas of the chip matched the image in the last verify.
struct VerifyOutcome {
    bool programOk = true;
    bool eepromOk = true;
    bool configOk = true;
    bool ok() const { return programOk && eepromOk && configOk; }
};

// After a calibration read, before the write or erase it precedes: the chip's calibration word
// and calibration bits go into what will be written and into the image.
void mergeCalibrationForWrite(Programmer& programmer, MemoryImage& image);

// Before a verify compares: the image takes the chip's calibration word and the chip's
// calibration bits, because the write preserved exactly those; every other bit of the
// read-back configuration word is left as read, so a configuration word that failed to program
// still shows as a difference.
void mergeCalibrationForVerify(const Programmer& programmer, MemoryImage& image);

// The bits of configuration word 2 that the device implements, from the tags that follow the
// first fourteen; 0xFFFF when there are none.
uint16_t configWord2KeepMask(std::string_view configBitTags);

// The read-back buffers of the programmer against the image: every cell of program memory and
// EEPROM, the user ID when it is written, configuration word 1, and word 2 for family 2 on the
// bits of config2KeepMask. Unimplemented bits of word 2 read back as the silicon makes them,
// while files usually carry ones there: they cannot tell a good write from a bad one.
// unprotectBits are expected at 1 in word 1 whatever the image holds: the chip was written
// without its protection, which comes only after this verify.
VerifyOutcome compareWithImage(const Programmer& programmer, const MemoryImage& image,
                               uint16_t config2KeepMask = 0xFFFF, uint16_t unprotectBits = 0);
