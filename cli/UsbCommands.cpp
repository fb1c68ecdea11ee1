// SPDX-License-Identifier: MIT
#include "cli/UsbCommands.h"

#include "cli/TerminalFrontend.h"
#include "programmer/UsbId.h"
#include "settings/DriverFactory.h"

#ifdef KORVALIN_HAVE_USB
#include "programmer/usb/LibusbDriver.h"
#include "programmer/usb/UsbProbe.h"
#endif

#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string hex4Lower(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// The programmer this user has chosen, as the link would look for it: KORVALIN_USB_ID over
// the store. False when nothing (usable) is set.
bool configuredId(QSettings& store, uint16_t& vendorId, uint16_t& productId, std::string& serial) {
    const StoredUsbChoice stored = readUsbChoice(store);
    serial = stored.serial;
    const char* fromEnvironment = std::getenv("KORVALIN_USB_ID");
    if (fromEnvironment && *fromEnvironment) return parseUsbId(fromEnvironment, vendorId, productId);
    return parseUsbIdPart(stored.vendorId, vendorId) && parseUsbIdPart(stored.productId, productId);
}

}  // namespace

std::string udevRuleText(uint16_t vendorId, uint16_t productId, const std::string& group) {
    const std::string match = "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" +
                              hex4Lower(vendorId) + "\", ATTR{idProduct}==\"" + hex4Lower(productId) + "\"";
    std::string rule = "# Korvalin programmer " + hex4Lower(vendorId) + ":" + hex4Lower(productId) +
                       ": the user at the desktop may open it\n" + match + ", TAG+=\"uaccess\"\n";
    if (!group.empty())
        rule += "# and every member of group " + group + " (SSH sessions, services)\n" + match +
                ", GROUP=\"" + group + "\", MODE=\"0660\"\n";
    return rule;
}

ExitCode udevRule(const CliOptions& options, TerminalFrontend& frontend, QSettings& store) {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;
    if (!options.usbId.empty()) {
        if (!parseUsbId(options.usbId, vendorId, productId)) {
            frontend.printError("udev-rule: \"" + options.usbId + "\" is no USB ID vvvv:pppp (four hex digits each)");
            return ExitCode::Usage;
        }
    } else if (!configuredId(store, vendorId, productId, serial)) {
        frontend.printError("udev-rule: no USB ID is set for the programmer; give one (udev-rule vvvv:pppp), "
                            "or find it with usb-list and choose it with usb-use");
        return ExitCode::Usage;
    }
    std::fputs(udevRuleText(vendorId, productId, options.group).c_str(), stdout);
    return ExitCode::Success;
}

ExitCode usbUse(const CliOptions& options, TerminalFrontend& frontend, QSettings& store) {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    if (!parseUsbId(options.usbId, vendorId, productId)) {
        frontend.printError("usb-use: \"" + options.usbId + "\" is no USB ID vvvv:pppp (four hex digits each)");
        return ExitCode::Usage;
    }
    if (!writeUsbChoice(store, vendorId, productId, options.serial)) {
        frontend.printError("usb-use: the settings cannot be written to " + store.fileName().toStdString());
        return ExitCode::FileError;
    }
    frontend.printLine("Programmer " + usbIdText(vendorId, productId) +
                       (options.serial.empty() ? std::string() : " serial " + options.serial) +
                       " remembered in " + store.fileName().toStdString());
    return ExitCode::Success;
}

ExitCode usbList(const CliOptions& options, TerminalFrontend& frontend, QSettings& store) {
#ifdef KORVALIN_HAVE_USB
    std::vector<UsbCandidate> candidates;
    std::string error;
    if (!listUsbCandidates(candidates, error, options.verbosity >= 2)) {
        frontend.printError(error);
        return ExitCode::NotConnected;
    }
    if (candidates.empty()) {
        frontend.printError("no USB device that can be the programmer is plugged in (one with a vendor-specific "
                            "interface 0 and 64-byte bulk endpoints 0x01 and 0x81)");
        return ExitCode::NotConnected;
    }
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string serial;
    const bool configured = configuredId(store, vendorId, productId, serial);
    const char* fromEnvironment = std::getenv("KORVALIN_USB");
    const std::string pick = !options.usb.empty() ? options.usb : (fromEnvironment ? fromEnvironment : "");
    for (const UsbCandidate& c : candidates) {
        const bool sameId = configured && c.vendorId == vendorId && c.productId == productId;
        const std::string& wanted = pick.empty() ? serial : pick;
        const bool chosen = sameId && (wanted.empty() || wanted == c.serial || wanted == c.path);
        auto quoted = [](const std::string& text) { return text.empty() ? std::string("-") : "\"" + text + "\""; };
        frontend.printLine(c.path + "  " + usbIdText(c.vendorId, c.productId) + "  manufacturer " +
                           quoted(c.manufacturer) + "  product " + quoted(c.product) + "  serial " +
                           quoted(c.serial) + (chosen ? "  (configured)" : ""));
        if (!c.accessible) {
            frontend.printLine("    this user may not open it; to allow it: korvalin-cli udev-rule " +
                               usbIdText(c.vendorId, c.productId) + " | sudo " KORVALIN_INSTALL_DATADIR
                               "/install-udev-rule");
            continue;
        }
        frontend.printLine("    this user may open it");
        if (!options.probe) continue;
        const UsbProbe probe = probeUsbCandidate(c);
        if (!probe.answered) {
            frontend.printLine("    probe: " + probe.why);
            continue;
        }
        char line[96];
        std::snprintf(line, sizeof line, "    probe: identity %08llX, clock %d MHz",
                      static_cast<unsigned long long>(probe.identity), static_cast<int>(probe.clock));
        frontend.printLine(line);
    }
    return ExitCode::Success;
#else
    (void)options;
    (void)store;
    frontend.printError("this build has no USB support");
    return ExitCode::NotConnected;
#endif
}
