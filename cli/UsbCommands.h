// SPDX-License-Identifier: MIT
#pragma once

#include "cli/CliOptions.h"
#include "cli/ExitCode.h"

#include <cstdint>
#include <string>

class QSettings;
class TerminalFrontend;

// The commands that find, choose and permit the real programmer; none of them needs the
// catalogue or a chip. store is the window's settings store.
ExitCode usbList(const CliOptions& options, TerminalFrontend& frontend, QSettings& store);
ExitCode usbUse(const CliOptions& options, TerminalFrontend& frontend, QSettings& store);
ExitCode udevRule(const CliOptions& options, TerminalFrontend& frontend, QSettings& store);

// The rule that lets the user at the desktop open the programmer; with a group, also every
// member of that group (benches reached over SSH, services).
std::string udevRuleText(uint16_t vendorId, uint16_t productId, const std::string& group);
