// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class ClickableLabel;
class QLabel;
namespace Ui { class ConfigWordDialog; }

// What the configuration word editor is opened with and hands back after OK.
struct ConfigWordValues {
    QString deviceName;
    uint16_t configWord = 0x3FFF;
    uint16_t configWord2 = 0x3FFF;
    QString configBitTags;     // word 1's 14 tags, then word 2's
    int32_t protectOff = 0;
    int32_t family = 0;        // 0: no second page
};

// Edits the configuration word bit by bit on a copy. Nothing outside changes: the caller reads
// values() after an accepted run and applies the device's masks itself.
class ConfigWordDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConfigWordDialog(const ConfigWordValues& values, QWidget* parent = nullptr);
    ~ConfigWordDialog() override;

    ConfigWordValues values() const { return values_; }
    int page() const { return page_; }
    uint16_t workingWord() const { return workingWord_; }

    void toggleBit(int bit);
    void nextPage();
    void done(int result) override;

private:
    void showBitTags(const QString& tags);
    void showBits(uint16_t word);
    void showHex();

    std::unique_ptr<Ui::ConfigWordDialog> ui_;
    std::array<ClickableLabel*, 14> cells_{};
    std::array<QLabel*, 14> names_{};
    ConfigWordValues values_;
    QString configBitTags2_;
    uint16_t workingWord_ = 0;
    int page_ = 1;
};
