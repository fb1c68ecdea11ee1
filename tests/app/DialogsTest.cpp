// SPDX-License-Identifier: MIT
#include "dialogs/BitTags.h"
#include "dialogs/ClickableLabel.h"
#include "dialogs/ConfigWordDialog.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#ifdef KORVALIN_HAVE_USB
#include "dialogs/UsbSetupDialog.h"
#include <QTableWidget>
#endif

#include <QCheckBox>
#include <QFontMetrics>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kTags88 = QStringLiteral("[CP][x][x][x][x][CPD][LVP][BOREN][MCLRE][FOSC2][PWRTEn][WDTE][FOSC1][FOSC0]"
                                       "[x][x][x][x][x][x][x][x][x][x][x][x][IESO][FCMEN]");

QString labelText(QDialog& dialog, const QString& name) {
    return dialog.findChild<QLabel*>(name)->text();
}
// "left": a click; "right": a click of the other button; "away": let go outside the field.
void clickCell(QDialog& dialog, const QString& name, const QString& how = QStringLiteral("left")) {
    auto* cell = dialog.findChild<ClickableLabel*>(name);
    QVERIFY2(cell, qPrintable(name));
    if (how == QLatin1String("away")) {
        QTest::mousePress(cell, Qt::LeftButton);
        QTest::mouseRelease(cell, Qt::LeftButton, {}, QPoint(cell->width() + 5, 1));
    } else {
        QTest::mouseClick(cell, how == QLatin1String("right") ? Qt::RightButton : Qt::LeftButton);
    }
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void bitTags_data() {
        QTest::addColumn<QString>("tags");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("rest");
        QTest::newRow("three of five") << "[A][B][C][D][E]" << 3 << QStringList{"[A]", "[B]", "[C]"} << "[D][E]";
        QTest::newRow("fewer than asked") << "[A][]" << 4 << QStringList{"[A]", "[]", "", ""} << "";
        QTest::newRow("text between tags joins the next") << "[A] x[B]" << 2 << QStringList{"[A]", " x[B]"} << "";
        QTest::newRow("no closing bracket") << "[open" << 2 << QStringList{"", ""} << "[open";
        // A full-width bracket is a different character: it must not end a tag.
        QTest::newRow("full-width bracket inside") << QStringLiteral("[保護］全体][ﾌﾟﾛﾃｸﾄ]") << 2
            << QStringList{QStringLiteral("[保護］全体]"), QStringLiteral("[ﾌﾟﾛﾃｸﾄ]")} << "";
    }

    void bitTags() {
        QFETCH(QString, tags);
        QFETCH(int, count);
        QFETCH(QStringList, taken);
        QFETCH(QString, rest);
        QCOMPARE(takeBitTags(tags, count), taken);
        QCOMPARE(tags, rest);
    }

    void dialogUnitsFollowTheFont() {
        const QFont font = proportionalDialogFont();
        const DialogUnits units(font);
        const QFontMetrics metrics(font);
        // 52 letters are 4 x 52 horizontal units; one line of text is 8 vertical units.
        const int alphabet = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        QCOMPARE(units.toPixels(QRect(208, 8, 416, 16)),
                 QRect(alphabet, metrics.height(), 2 * alphabet, 2 * metrics.height()));
    }

    void configSecondPageKeepsEdits_data() {
        QTest::addColumn<int>("family");
        QTest::addColumn<int>("extraNexts");   // pressed again before OK
        QTest::newRow("family 2, OK on page 2") << 2 << 0;
        QTest::newRow("family 2, back to page 1, OK") << 2 << 1;
        QTest::newRow("family 1, three more, OK") << 1 << 3;
    }

    void configSecondPageKeepsEdits() {
        QFETCH(int, family);
        QFETCH(int, extraNexts);
        ConfigWordDialog dialog(ConfigWordValues{"PIC16F88", 0x3FFF, 0x3FFF, kTags88, 0, family});
        dialog.show();
        auto* next = dialog.findChild<QPushButton*>("nextButton");
        QVERIFY(next->isVisible());
        clickCell(dialog, "cell13");
        QTest::mouseClick(next, Qt::LeftButton);
        QCOMPARE(dialog.page(), 2);
        QCOMPARE(labelText(dialog, "name0"), QStringLiteral("[FCMEN]"));
        QCOMPARE(labelText(dialog, "valueField"), QStringLiteral("3FFF"));
        clickCell(dialog, "cell0");
        clickCell(dialog, "cell1", "right");   // neither the other button nor a let-go outside clicks
        clickCell(dialog, "cell1", "away");
        for (int i = 0; i < extraNexts; ++i) QTest::mouseClick(next, Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.values().configWord, uint16_t(0x1FFF));
        QCOMPARE(dialog.values().configWord2, uint16_t(0x3FFE));
    }

#ifdef KORVALIN_HAVE_USB
    void usbSetup_data() {
        QTest::addColumn<int>("remembered");   // which candidate's ID and serial are remembered; -1 none
        QTest::addColumn<int>("connected");    // which one the window has open; -1 none
        QTest::addColumn<bool>("accessB");     // whether this user may open the second
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("candidates");   // none or two
        QTest::addColumn<QString>("status");   // the start of the status line
        QTest::addColumn<int>("selected");     // the row selected at start; -1 none
        QTest::addColumn<QString>("stateB");   // the second row's state column
        const QString hint = QStringLiteral("権限がありません。端末で実行してください: korvalin-cli udev-rule 1209:4b56");
        QTest::newRow("nothing chosen yet") << -1 << -1 << true << false << 2
            << "USB ID が未設定です。一覧から KVN ライターを選んでください。" << -1 << "";
        QTest::newRow("remembered, not open") << 1 << -1 << true << false << 2 << "" << 1 << "設定済み";
        QTest::newRow("open in the window") << 1 << 1 << true << false << 2 << "接続中: 1-3" << 1 << "使用中";
        QTest::newRow("no permission") << 1 << -1 << false << false << 2 << hint << 1 << "設定済み";
        QTest::newRow("held by another program") << 1 << -1 << true << true << 2
            << "KVN ライターは他のプログラムが使用中です。" << 1 << "設定済み";
        QTest::newRow("none plugged in") << -1 << -1 << true << false << 0
            << "KVN ライターになりうる USB 機器が見つかりません。" << -1 << "";
    }

    // Where the window stands is told in the one status line, the remembered or open programmer is
    // the one selected, and "use this one" hands back the selected candidate. With nothing to use,
    // the probe answers in a candidate's state column or says why not, and a refresh shows the bus anew.
    void usbSetup() {
        QFETCH(int, remembered);
        QFETCH(int, connected);
        QFETCH(bool, accessB);
        QFETCH(bool, busy);
        QFETCH(int, candidates);
        QFETCH(QString, status);
        QFETCH(int, selected);
        QFETCH(QString, stateB);
        UsbSetupValues values;
        if (candidates > 0)
            values.candidates = {{"1-2", 0x1209, 0x4B56, "", "", "KVN-A", "", true}, {"1-3", 0x1209, 0x4B56, "", "", "KVN-B", "", accessB}};
        if (remembered >= 0) {
            values.vendorId = 0x1209;
            values.productId = 0x4B56;
            values.serial = values.candidates[remembered].serial;
        }
        if (connected >= 0) values.connectedPath = values.candidates[connected].path;
        values.chosenBusy = busy;
        UsbSetupActions actions;
        actions.probe = [](const UsbCandidate& c) {
            return c.serial == "KVN-A" ? UsbProbe{true, "", 0x4B56A1, 20} : UsbProbe{false, "busy", -1, -1};
        };
        actions.refresh = [] { UsbSetupValues none; none.listError = "no bus"; return none; };
        UsbSetupDialog dialog(values, actions);
        const QString shown = labelText(dialog, "statusLabel");
        QVERIFY2(status.isEmpty() ? shown.isEmpty() : shown.startsWith(status), qPrintable(shown));
        auto* table = dialog.findChild<QTableWidget*>(QStringLiteral("candidateTable"));
        QCOMPARE(table->rowCount(), candidates);
        const QList<QTableWidgetItem*> chosenRow = table->selectedItems();
        QCOMPARE(chosenRow.isEmpty() ? -1 : chosenRow.first()->row(), selected);
        if (candidates > 1) QCOMPARE(table->item(1, 6)->text(), stateB);
        auto* use = dialog.findChild<QPushButton*>(QStringLiteral("useButton"));
        QCOMPARE(use->isEnabled(), selected >= 0);
        if (selected >= 0) {
            QTest::mouseClick(use, Qt::LeftButton);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.chosen().serial, values.candidates[selected].serial);
            return;
        }
        const QStringList answers{QStringLiteral("ID 004B56A1 / 20 MHz"), QStringLiteral("応答なし")};
        for (int row = 0; row < candidates; ++row) {
            table->selectRow(row);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("probeButton")), Qt::LeftButton);
            QCOMPARE(table->item(row, 6)->text(), answers[row]);
        }
        if (candidates > 0) QCOMPARE(labelText(dialog, "statusLabel"), QStringLiteral("busy"));   // why the last one failed
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("refreshButton")), Qt::LeftButton);
        QCOMPARE(labelText(dialog, "statusLabel"), QStringLiteral("no bus"));
        QCOMPARE(table->rowCount(), 0);
        dialog.accept();   // Enter with nothing chosen
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
#endif
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
