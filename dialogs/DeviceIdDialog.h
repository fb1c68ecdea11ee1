// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>

namespace Ui { class DeviceIdDialog; }

struct DeviceIdValues {
    QString deviceName;
    int32_t skipDeviceIdCheck = 0;
};

// The one option of the device ID field: whether operations skip the device ID comparison.
class DeviceIdDialog : public QDialog {
    Q_OBJECT
public:
    explicit DeviceIdDialog(const DeviceIdValues& values, QWidget* parent = nullptr);
    ~DeviceIdDialog() override;

    DeviceIdValues values() const { return values_; }
    void accept() override;

private:
    std::unique_ptr<Ui::DeviceIdDialog> ui_;
    DeviceIdValues values_;
};
