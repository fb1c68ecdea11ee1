// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

class ClickableLabel;
namespace Ui { class UserIdDialog; }

struct UserIdValues {
    QString deviceName;
    uint16_t userId = 0xFFFF;   // four digits, location 0 in the low nibble
    int32_t userIdOff = 0;
};

// Edits the user ID one hexadecimal digit at a time: each click steps that digit alone
// through 0..F and back to 0, without carrying into its neighbour.
class UserIdDialog : public QDialog {
    Q_OBJECT
public:
    explicit UserIdDialog(const UserIdValues& values, QWidget* parent = nullptr);
    ~UserIdDialog() override;

    UserIdValues values() const { return values_; }

    void stepNibble(int digit);   // digit 0: bits 0-3 ... digit 3: bits 12-15
    void accept() override;

private:
    void alignDigitsWithAddresses();
    void showUserId();

    std::unique_ptr<Ui::UserIdDialog> ui_;
    std::array<ClickableLabel*, 4> digits_{};
    UserIdValues values_;
};
