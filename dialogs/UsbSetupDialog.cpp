// SPDX-License-Identifier: MIT
#include "dialogs/UsbSetupDialog.h"

#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "operations/Texts.h"
#include "ui_UsbSetupDialog.h"

#include <QHeaderView>

namespace {
enum Column { Place, Id, Manufacturer, Product, Serial, Access, State, ColumnCount };

QString qs(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

UsbSetupDialog::UsbSetupDialog(const UsbSetupValues& values, UsbSetupActions actions, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::UsbSetupDialog>()), actions_(std::move(actions)) {
    ui_->setupUi(this);
    DialogUnits::layOut(this, proportionalDialogFont());
    ui_->candidateTable->horizontalHeader()->setStretchLastSection(true);
    connect(ui_->useButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->probeButton, &QPushButton::clicked, this, &UsbSetupDialog::onProbe);
    connect(ui_->refreshButton, &QPushButton::clicked, this, [this] {
        if (actions_.refresh) showValues(actions_.refresh());
    });
    connect(ui_->candidateTable, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = selectedRow();
        ui_->useButton->setEnabled(row >= 0);
        ui_->probeButton->setEnabled(row >= 0 && values_.candidates[row].accessible &&
                                     values_.candidates[row].path != values_.connectedPath);
    });
    showValues(values);
}

UsbSetupDialog::~UsbSetupDialog() = default;

int UsbSetupDialog::selectedRow() const {
    const QList<QTableWidgetItem*> items = ui_->candidateTable->selectedItems();
    if (items.isEmpty()) return -1;
    const int row = items.first()->row();
    return row < static_cast<int>(values_.candidates.size()) ? row : -1;
}

void UsbSetupDialog::showValues(const UsbSetupValues& values) {
    values_ = values;
    QTableWidget* table = ui_->candidateTable;
    table->clearContents();
    table->setRowCount(static_cast<int>(values_.candidates.size()));
    const bool configured = values_.vendorId != 0 || values_.productId != 0;
    std::string status;
    int current = -1;
    for (int row = 0; row < table->rowCount(); ++row) {
        const UsbCandidate& c = values_.candidates[row];
        const bool inUse = !values_.connectedPath.empty() && c.path == values_.connectedPath;
        const bool remembered = configured && c.vendorId == values_.vendorId && c.productId == values_.productId &&
                                (values_.serial.empty() || values_.serial == c.serial);
        const std::string cells[ColumnCount] = {
            c.path, usbIdText(c.vendorId, c.productId), c.manufacturer, c.product, c.serial,
            c.accessible ? texts::usbAccessYes : texts::usbAccessNo,
            inUse ? texts::usbInUse : (remembered ? texts::usbConfigured : "")};
        for (int column = 0; column < ColumnCount; ++column)
            table->setItem(row, column, new QTableWidgetItem(qs(cells[column])));
        if (inUse || (current < 0 && remembered)) current = row;
        if (!c.accessible && status.empty())
            status = std::string(texts::usbAccessHint) + "korvalin-cli udev-rule " +
                     usbIdText(c.vendorId, c.productId) + " | sudo " KORVALIN_INSTALL_DATADIR "/install-udev-rule";
    }
    if (!values_.listError.empty())
        status = values_.listError;
    else if (values_.candidates.empty())
        status = texts::usbNoCandidate;
    else if (!values_.connectedPath.empty())
        status = texts::usbConnectedTo + values_.connectedPath;
    else if (!configured)
        status = texts::usbNotConfigured;
    else if (values_.chosenBusy)
        status = texts::usbBusy;
    ui_->statusLabel->setText(qs(status));
    table->resizeColumnsToContents();
    if (current >= 0)
        table->selectRow(current);
    else
        table->clearSelection();
    ui_->useButton->setEnabled(selectedRow() >= 0);
}

void UsbSetupDialog::onProbe() {
    const int row = selectedRow();
    if (row < 0 || !actions_.probe) return;
    const UsbProbe probe = actions_.probe(values_.candidates[row]);
    QString answer = QString::fromUtf8(texts::usbProbeNoAnswer);
    if (probe.answered)
        answer = QStringLiteral("ID %1 / %2 MHz")
                     .arg(QString::number(static_cast<qulonglong>(probe.identity), 16)
                              .rightJustified(8, QLatin1Char('0'))
                              .toUpper())
                     .arg(probe.clock);
    ui_->candidateTable->item(row, State)->setText(answer);
    if (!probe.answered && !probe.why.empty()) ui_->statusLabel->setText(qs(probe.why));
}

void UsbSetupDialog::accept() {
    const int row = selectedRow();
    if (row < 0) return;
    chosen_ = values_.candidates[row];
    QDialog::accept();
}
