// SPDX-License-Identifier: MIT
#pragma once

// Shows the wait cursor for as long as it lives; nests.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
