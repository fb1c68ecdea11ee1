// SPDX-License-Identifier: MIT
#pragma once

enum class Operation {
    None = 0,
    Program = 1,
    Read = 2,
    Verify = 3,
    CalibrationRead = 4,
    CalibrationWrite = 5,
    Erase = 6,
    // The protected configuration word of a Program chain, written after its verify.
    ProtectWrite = 7,
};
