// SPDX-License-Identifier: MIT
#pragma once

// Waits for the exclusive lock on an open file; a signal that interrupts the wait (the CLI's
// Ctrl-C handler does not restart calls) only starts it again. False when the lock fails.
bool lockExclusive(int fd);
