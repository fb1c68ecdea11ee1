// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>

// A sunken, centred value field that reports clicks, as the window's and editors' value cells
// do. A disabled field reports nothing.
class ClickableLabel : public QLabel {
    Q_OBJECT
public:
    explicit ClickableLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};
