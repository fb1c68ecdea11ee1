#pragma once

#include <cstdint>

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

// The read-back buffers of the programmer against the image: every cell of program memory and
// EEPROM, the user ID when it is written, configuration word 1, and word 2 for family 2.
VerifyOutcome compareWithImage(const Programmer& programmer, const MemoryImage& image);
