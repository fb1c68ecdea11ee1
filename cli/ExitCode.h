// SPDX-License-Identifier: MIT
#pragma once

// What korvalin-cli reports to the shell; the help text and the README list the same values.
enum class ExitCode {
    Success = 0,
    VerifyFailed = 1,       // verify found a difference, or blank-check found data
    Usage = 2,
    NotConnected = 3,
    DeviceMismatch = 4,     // wrong device ID, or no chip in the position
    FileError = 5,
    TransferFailure = 6,
    CatalogueError = 7,     // catalogue missing or its line for the device unusable
    CalibrationRefused = 8, // calibration word missing or not a factory value; nothing erased
    Interrupted = 130,      // Ctrl-C (128 + SIGINT)
};

inline int exitStatus(ExitCode code) { return static_cast<int>(code); }
