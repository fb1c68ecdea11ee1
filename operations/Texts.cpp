// SPDX-License-Identifier: MIT
#include "operations/Texts.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::size_t kTextCount = static_cast<std::size_t>(TextId::Count);

// Rows in TextId order; the Japanese column is the program's own wording, byte for byte.
constexpr std::array<TextPair, kTextCount> kTexts{{
    {"KVNライターが未接続です", "The KVN programmer is not connected"},
    {"KVNライターとの通信に失敗しました。", "Communication with the KVN programmer failed."},
    {"デバイスIDが一致しません", "The device ID does not match"},
    {"デバイスが未実装です", "No device in the socket"},
    {"デバイス リストファイルが見つかりません。", "The device list file was not found."},
    {"デバイス リストの内容が正しくありません。", "The device list is not valid."},
    {"ファイルを開けませんでした。", "The file could not be opened."},
    {"ファイルを保存できませんでした。", "The file could not be saved."},
    {"OSC校正値を記録できませんでした。\nチップは消去していません。",
     "The OSC calibration value could not be recorded.\nThe chip was not erased."},
    {"HEXファイルが大きすぎます。", "The HEX file is too large."},
    {"USB の設定(&U)...", "&USB Setup..."},
    {"USB ID が未設定です。一覧から KVN ライターを選んでください。",
     "No USB ID is set. Choose the KVN programmer from the list."},
    {"KVN ライターになりうる USB 機器が見つかりません。",
     "No USB device that could be a KVN programmer was found."},
    {"接続中: ", "Connected: "},
    {"KVN ライターは他のプログラムが使用中です。",
     "The KVN programmer is in use by another program."},
    {"使用中", "In use"},
    {"設定済み", "Chosen"},
    {"可", "Yes"},
    {"不可", "No"},
    {"権限がありません。端末で実行してください: ", "No permission. Run in a terminal: "},
    {"応答なし", "No answer"},
    {"高速書き込み(&F)", "&Fast Programming"},
    {"このデバイスは高速書き込みに未対応です (標準で書き込みます)",
     "This device has no fast programming (it is written at normal speed)"},
    {"KVN のﾊﾞｰｼﾞｮﾝ情報(&A)...", "&About KVN..."},
    {"校正値を指定(&C)...", "Enter &Calibration..."},
    {"英語で表示 (English)(&E)", "&English"},
    {"表示言語は次回の起動から切り替わります", "The language changes at the next start"},
    {"なし", "none"},
    {"OSC校正値が工場出荷値ではありません (読出値 %04X BG%d)。\n"
     "記録にある最後の正常値: %s\nチップは消去していません。",
     "The OSC calibration value is not a factory value (read %04X BG%d).\n"
     "Last good value recorded: %s\nThe chip was not erased."},
    {"OSC校正値を書き戻せませんでした。\n校正値 %04X BG%d を書き込んでください。",
     "The OSC calibration value could not be written back.\n"
     "Write the calibration value %04X BG%d."},
    {"\nデバイスのデータがありません", "\nNo data for the device"},
    {"デバイス外のデータ: %u バイト", "Data outside the device: %u bytes"},
    {"チェックサム エラー: %u 件", "Checksum errors: %u"},
    {"途中で切れたレコード: %u 件", "Records cut short: %u"},
    {"レコードでない行: %u 行", "Lines that are no record: %u"},
    {"\n終了レコードがありません", "\nNo end record"},
    {"HEXファイルの内容に問題があります。", "The HEX file has problems."},
}};

constexpr std::array<const char*, kTextCount> column(Language language) {
    std::array<const char*, kTextCount> texts{};
    for (std::size_t i = 0; i < kTextCount; ++i)
        texts[i] = language == Language::English ? kTexts[i].en : kTexts[i].ja;
    return texts;
}

Language chosenLanguage = Language::Japanese;

// Eight cells per line, two lines per block of 16; a buffer shorter than count only shows
// the blocks it really holds.
std::string dumpText(const std::vector<uint16_t>& cells, uint32_t count, const char* cellFormat,
                     std::size_t cellWidth) {
    const std::size_t available = cells.size() < count ? cells.size() : count;
    const std::size_t blocks = available / 16;
    std::string text;
    text.reserve(blocks * 2 * (8 + 8 * (cellWidth + 1) + 2));
    char field[16];
    for (std::size_t line = 0; line < blocks * 2; ++line) {
        const std::size_t first = line * 8;
        std::snprintf(field, sizeof field, "%05X : ", static_cast<unsigned>(first));
        text += field;
        for (std::size_t i = first; i < first + 8; ++i) {
            std::snprintf(field, sizeof field, cellFormat, static_cast<unsigned>(cells[i]));
            text += field;
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace

// Constant-initialised, so that texts read during other files' static initialisation are
// already the Japanese ones.
constinit std::array<const char*, kTextCount> texts::activeColumn = column(Language::Japanese);

const TextPair& textPair(TextId id) {
    return kTexts[static_cast<std::size_t>(id)];
}

const char* text(TextId id, Language language) {
    const TextPair& pair = textPair(id);
    return language == Language::English ? pair.en : pair.ja;
}

const char* text(TextId id) {
    return text(id, chosenLanguage);
}

void setLanguage(Language language) {
    chosenLanguage = language;
    texts::activeColumn = column(language);
}

Language currentLanguage() {
    return chosenLanguage;
}

std::string operationStatusText(Operation operation) {
    switch (operation) {
    case Operation::Program: return "Program / EEPROM Write";
    case Operation::Read: return "Program / EEPROM Read";
    case Operation::Verify: return "Program / EEPROM Verify";
    case Operation::CalibrationRead: return "OSC Calibration Data Read";
    case Operation::CalibrationWrite: return "OSC Calibration Data Write";
    case Operation::Erase: return "Program / EEPROM Erase";
    case Operation::ProtectWrite: return "Code Protect Write";
    case Operation::None: break;
    }
    return "";
}

std::string programDumpText(const std::vector<uint16_t>& cells, uint32_t count) {
    return dumpText(cells, count, "%04X ", 4);
}

std::string eepromDumpText(const std::vector<uint16_t>& cells, uint32_t count) {
    return dumpText(cells, count, "%02X ", 2);
}

std::string wordText(uint16_t word) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(word));
    return text;
}

std::string deviceIdText(uint16_t deviceId) {
    return deviceId == 0xFFFF ? "----" : wordText(deviceId);
}

std::string socketText(bool socketMode, int32_t socketPins) {
    if (!socketMode) return "ICSP";
    switch (socketPins) {
    case 8: return "8pin";
    case 18: return "18pin";
    case 28: return "28pin";
    case 40: return "40pin";
    default: return "ICSP";
    }
}

std::string programCaption(uint32_t words) {
    return "Program Memorys = " + std::to_string(words);
}

std::string eepromCaption(uint32_t bytes) {
    return "EEPROM Memorys = " + std::to_string(bytes);
}

const char* verifyLineText(bool ok) {
    return ok ? "OK" : "NG";
}

int progressPercent(uint32_t done, uint32_t total) {
    if (total == 0) return 0;
    // 64 bits: done * 100 must not wrap for any 32-bit done.
    const uint64_t percent = uint64_t{done} * 100 / total;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

uint16_t applyConfigRule(uint16_t word, uint16_t configKeepMask, uint16_t protectOffBits,
                         bool protectOff) {
    uint16_t result = static_cast<uint16_t>(word & configKeepMask);
    if (protectOff) result = static_cast<uint16_t>(result | protectOffBits);
    return result;
}

ControlStates controlStatesFor(const ControlStates& previous, bool enable, bool programIsCancel) {
    ControlStates states;
    states.okCancelEnabled = enable;
    states.programIsCancel = programIsCancel;
    states.programEnabled = programIsCancel ? previous.programEnabled : enable;
    states.othersEnabled = enable;
    return states;
}

std::string calibrationNotFactoryText(uint16_t word, int bits, int32_t lastWord, int lastBits) {
    char text[256];
    char last[32];
    std::snprintf(last, sizeof last, "%s", ::text(TextId::CalibrationNoneRecorded));
    if (lastWord >= 0) std::snprintf(last, sizeof last, "%04X BG%d", lastWord & 0xFFFF, lastBits);
    std::snprintf(text, sizeof text, ::text(TextId::CalibrationNotFactoryFormat), word, bits, last);
    return text;
}

std::string calibrationRestoreText(uint16_t word, int bits) {
    char text[160];
    std::snprintf(text, sizeof text, ::text(TextId::CalibrationRestoreFormat), word, bits);
    return text;
}

std::string hexLoadWarning(const HexLoadReport& report) {
    std::string text;
    char line[96];
    auto add = [&](TextId format, uint32_t count) {
        if (count == 0) return;
        std::snprintf(line, sizeof line, ::text(format), static_cast<unsigned>(count));
        text += "\n";
        text += line;
    };
    if (report.bytesInDevice == 0) text += ::text(TextId::HexNoDeviceData);
    add(TextId::HexBytesOutsideFormat, report.bytesOutside);
    add(TextId::HexChecksumErrorsFormat, report.checksumErrors);
    add(TextId::HexCutRecordsFormat, report.cutRecords);
    add(TextId::HexStrayLinesFormat, report.strayLines);
    if (!report.endRecordSeen) text += ::text(TextId::HexNoEndRecord);
    if (text.empty()) return text;
    return ::text(TextId::HexProblemsHeading) + text;
}
