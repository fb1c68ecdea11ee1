#pragma once

#include "Frontend.h"
#include "Operation.h"

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
inline constexpr const char* catalogueFileName = "PicDeviceList.txt";
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

// Configuration word 1 as it enters the image from a file or the editor.
uint16_t applyConfigRule(uint16_t word, uint16_t configKeepMask, uint16_t protectOffBits,
                         bool protectOff);

// The controls after setControlsEnabled(enable): while the Program button reads "Cancel" it keeps
// the enabled state it had, so the user can still cancel.
ControlStates controlStatesFor(const ControlStates& previous, bool enable, bool programIsCancel);
