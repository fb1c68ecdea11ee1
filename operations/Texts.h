#pragma once

#include "Frontend.h"
#include "Operation.h"

#include "device/MemoryImage.h"

#include <cstdint>
#include <string>
#include <vector>

// The system's own texts, shown exactly as they stand here.
namespace texts {
inline constexpr const char* notConnected = "KVNライターが未接続です";
inline constexpr const char* transferFailed = "KVNライターとの通信に失敗しました。";
inline constexpr const char* deviceIdMismatch = "デバイスIDが一致しません";
inline constexpr const char* socketEmpty = "デバイスが未実装です";
inline constexpr const char* catalogueMissing = "デバイス リストファイルが見つかりません。";
inline constexpr const char* catalogueInvalid = "デバイス リストの内容が正しくありません。";
inline constexpr const char* fileOpenFailed = "ファイルを開けませんでした。";
inline constexpr const char* fileSaveFailed = "ファイルを保存できませんでした。";
inline constexpr const char* verifyOk = "Program Verify - OK";
inline constexpr const char* verifyNg = "Program Verify - NG";
inline constexpr const char* calibrationJournalFailed =
    "OSC校正値を記録できませんでした。\nチップは消去していません。";
inline constexpr const char* hexFileTooLarge = "HEXファイルが大きすぎます。";
inline constexpr const char* catalogueFileName = "PicDeviceList.txt";
// The window's USB setup.
inline constexpr const char* usbSetupMenu = "USB の設定(&U)...";
inline constexpr const char* usbNotConfigured = "USB ID が未設定です。一覧から KVN ライターを選んでください。";
inline constexpr const char* usbNoCandidate = "KVN ライターになりうる USB 機器が見つかりません。";
inline constexpr const char* usbConnectedTo = "接続中: ";
inline constexpr const char* usbBusy = "KVN ライターは他のプログラムが使用中です。";
inline constexpr const char* usbInUse = "使用中";
inline constexpr const char* usbConfigured = "設定済み";
inline constexpr const char* usbAccessYes = "可";
inline constexpr const char* usbAccessNo = "不可";
inline constexpr const char* usbAccessHint = "権限がありません。端末で実行してください: ";
inline constexpr const char* usbProbeNoAnswer = "応答なし";
inline constexpr const char* fastScheduleMenu = "高速書き込み(&F)";
inline constexpr const char* fastScheduleUnavailable = "このデバイスは高速書き込みに未対応です (標準で書き込みます)";
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
