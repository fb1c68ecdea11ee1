// SPDX-License-Identifier: MIT
#pragma once

#include "Frontend.h"
#include "Operation.h"

#include "device/MemoryImage.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The system's own texts. Japanese is the default and stands exactly as the program has always
// shown it; English is its second column.
enum class Language { Japanese, English };

enum class TextId {
    NotConnected,
    TransferFailed,
    DeviceIdMismatch,
    SocketEmpty,
    CatalogueMissing,
    CatalogueInvalid,
    FileOpenFailed,
    FileSaveFailed,
    CalibrationJournalFailed,
    HexFileTooLarge,
    UsbSetupMenu,
    UsbNotConfigured,
    UsbNoCandidate,
    UsbConnectedTo,
    UsbBusy,
    UsbInUse,
    UsbConfigured,
    UsbAccessYes,
    UsbAccessNo,
    UsbAccessHint,
    UsbProbeNoAnswer,
    FastScheduleMenu,
    FastScheduleUnavailable,
    AboutMenu,
    CalibrationChooseButton,
    LanguageMenu,
    LanguageAppliesAtNextStart,
    // Formats and pieces of the formatters below.
    CalibrationNoneRecorded,
    CalibrationNotFactoryFormat,
    CalibrationRestoreFormat,
    HexNoDeviceData,
    HexBytesOutsideFormat,
    HexChecksumErrorsFormat,
    HexCutRecordsFormat,
    HexStrayLinesFormat,
    HexNoEndRecord,
    HexProblemsHeading,
    Count
};

struct TextPair {
    const char* ja;
    const char* en;
};

// The whole table, one row per TextId.
const TextPair& textPair(TextId id);
const char* text(TextId id, Language language);
// In the language the front end chose at start.
const char* text(TextId id);

// Chosen once by the front end before it shows anything; Japanese until then. Not for changing
// while texts are on screen: the window asks for a restart instead.
void setLanguage(Language language);
Language currentLanguage();

namespace texts {
// The chosen language's column, kept in step by setLanguage(). The names below read like the
// constant texts they always were, so callers and their tests need no change.
extern std::array<const char*, static_cast<std::size_t>(TextId::Count)> activeColumn;
#define KORVALIN_TEXT(name, id) \
    inline const char* const& name = activeColumn[static_cast<std::size_t>(TextId::id)]
KORVALIN_TEXT(notConnected, NotConnected);
KORVALIN_TEXT(transferFailed, TransferFailed);
KORVALIN_TEXT(deviceIdMismatch, DeviceIdMismatch);
KORVALIN_TEXT(socketEmpty, SocketEmpty);
KORVALIN_TEXT(catalogueMissing, CatalogueMissing);
KORVALIN_TEXT(catalogueInvalid, CatalogueInvalid);
KORVALIN_TEXT(fileOpenFailed, FileOpenFailed);
KORVALIN_TEXT(fileSaveFailed, FileSaveFailed);
KORVALIN_TEXT(calibrationJournalFailed, CalibrationJournalFailed);
KORVALIN_TEXT(hexFileTooLarge, HexFileTooLarge);
// The window's USB setup.
KORVALIN_TEXT(usbSetupMenu, UsbSetupMenu);
KORVALIN_TEXT(usbNotConfigured, UsbNotConfigured);
KORVALIN_TEXT(usbNoCandidate, UsbNoCandidate);
KORVALIN_TEXT(usbConnectedTo, UsbConnectedTo);
KORVALIN_TEXT(usbBusy, UsbBusy);
KORVALIN_TEXT(usbInUse, UsbInUse);
KORVALIN_TEXT(usbConfigured, UsbConfigured);
KORVALIN_TEXT(usbAccessYes, UsbAccessYes);
KORVALIN_TEXT(usbAccessNo, UsbAccessNo);
KORVALIN_TEXT(usbAccessHint, UsbAccessHint);
KORVALIN_TEXT(usbProbeNoAnswer, UsbProbeNoAnswer);
KORVALIN_TEXT(fastScheduleMenu, FastScheduleMenu);
KORVALIN_TEXT(fastScheduleUnavailable, FastScheduleUnavailable);
KORVALIN_TEXT(aboutMenu, AboutMenu);
KORVALIN_TEXT(calibrationChooseButton, CalibrationChooseButton);
KORVALIN_TEXT(languageMenu, LanguageMenu);
KORVALIN_TEXT(languageAppliesAtNextStart, LanguageAppliesAtNextStart);
#undef KORVALIN_TEXT
// The same in every language.
inline constexpr const char* verifyOk = "Program Verify - OK";
inline constexpr const char* verifyNg = "Program Verify - NG";
inline constexpr const char* catalogueFileName = "PicDeviceList.txt";
}  // namespace texts

// The status line while an operation runs; "" for None.
std::string operationStatusText(Operation operation);

// One dump line per 8 cells, whole blocks of 16 cells only, never past the end of cells.
// Program words as four hex digits, EEPROM cells as two; addresses count cells.
std::string programDumpText(const std::vector<uint16_t>& cells, uint32_t count);
std::string eepromDumpText(const std::vector<uint16_t>& cells, uint32_t count);

std::string wordText(uint16_t word);          // "%04X"
std::string deviceIdText(uint16_t deviceId);  // "----" for 0xFFFF (no ID)
std::string socketText(bool socketMode, int32_t socketPins);
std::string programCaption(uint32_t words);   // "Program Memorys = %d"
std::string eepromCaption(uint32_t bytes);    // "EEPROM Memorys = %d"
const char* verifyLineText(bool ok);          // "OK" / "NG"

// done * 100 / total, truncated, kept within the bar's 0..100; a total of 0 reads 0.
int progressPercent(uint32_t done, uint32_t total);

// A calibration read that is no factory word: what was read and the last good word known for
// the device (lastWord < 0: none recorded).
std::string calibrationNotFactoryText(uint16_t word, int bits, int32_t lastWord, int lastBits);
// The chip was left without its calibration: the word and bits to write back.
std::string calibrationRestoreText(uint16_t word, int bits);

// Configuration word 1 as it enters the image from a file or the editor.
uint16_t applyConfigRule(uint16_t word, uint16_t configKeepMask, uint16_t protectOffBits,
                         bool protectOff);

// The controls after setControlsEnabled(enable): while the Program button reads "Cancel" it keeps
// the enabled state it had, so the user can still cancel.
ControlStates controlStatesFor(const ControlStates& previous, bool enable, bool programIsCancel);

// The warning after File Open for a file that is not what it seems, one fact a line; "" for a
// file with nothing to say about.
std::string hexLoadWarning(const HexLoadReport& report);
