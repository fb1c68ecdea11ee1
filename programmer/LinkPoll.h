// SPDX-License-Identifier: MIT
#pragma once

#include <string>

class Programmer;

// Front-end side of the connection: what the status line and the operations need to know.
struct LinkState {
    bool connected = false;
    bool firstTick = true;
    bool removalPending = false;   // the programmer has gone but a worker still runs: close later
};

// The 10 ms connection poll. Opens the programmer and its pipes when one appears (then runs the
// identity and clock queries), closes them when it goes away, but never under a running worker
// (programmer.busy): the close and any re-attach wait until the worker has ended.
// Returns the status text to show ("Korvalin Connect" / "Korvalin Non Connect"), or "" when the
// status line is to stay as it is.
std::string pollConnection(Programmer& programmer, LinkState& link);
