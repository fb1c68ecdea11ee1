#pragma once

#include <string>

// One line of the terminal's progress bar: the label, a bar of width cells and the percentage,
// e.g. "Program / EEPROM Write [#########           ]  45%". percent is kept within 0..100.
std::string progressBarText(const std::string& label, int percent, int width);
