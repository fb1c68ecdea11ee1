// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// One line of the terminal's progress bar: the label, a bar of width cells and the percentage,
// e.g. "Program / EEPROM Write [#########           ]  45%". percent is kept within 0..100.
// With elapsedSeconds (>= 0) the time taken follows, and from 1 % on the time still to go,
// e.g. "  45% 0:09, 0:11 left".
std::string progressBarText(const std::string& label, int percent, int width,
                            double elapsedSeconds = -1);

// "m:ss" (or "h:mm:ss" from an hour on); negative counts as 0.
std::string durationText(double seconds);
