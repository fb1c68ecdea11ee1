#include "operations/Texts.h"

#include <cstdio>

namespace {

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
    char last[32] = "なし";
    if (lastWord >= 0) std::snprintf(last, sizeof last, "%04X BG%d", lastWord & 0xFFFF, lastBits);
    std::snprintf(text, sizeof text,
                  "OSC校正値が工場出荷値ではありません (読出値 %04X BG%d)。\n"
                  "記録にある最後の正常値: %s\nチップは消去していません。",
                  word, bits, last);
    return text;
}

std::string calibrationRestoreText(uint16_t word, int bits) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "OSC校正値を書き戻せませんでした。\n校正値 %04X BG%d を書き込んでください。", word,
                  bits);
    return text;
}

std::string hexLoadWarning(const HexLoadReport& report) {
    std::string text;
    char line[96];
    auto add = [&](const char* format, uint32_t count) {
        if (count == 0) return;
        std::snprintf(line, sizeof line, format, static_cast<unsigned>(count));
        text += "\n";
        text += line;
    };
    if (report.bytesInDevice == 0) text += "\nデバイスのデータがありません";
    add("デバイス外のデータ: %u バイト", report.bytesOutside);
    add("チェックサム エラー: %u 件", report.checksumErrors);
    add("途中で切れたレコード: %u 件", report.cutRecords);
    add("レコードでない行: %u 行", report.strayLines);
    if (!report.endRecordSeen) text += "\n終了レコードがありません";
    if (text.empty()) return text;
    return "HEXファイルの内容に問題があります。" + text;
}
