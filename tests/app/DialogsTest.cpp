#include "dialogs/AboutDialog.h"
#include "dialogs/BitTags.h"
#include "dialogs/ClickableLabel.h"
#include "dialogs/ConfigWordDialog.h"
#include "dialogs/DeviceIdDialog.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/TestPanelDialog.h"
#include "dialogs/UserIdDialog.h"
#include "dialogs/VerifyErrorDialog.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

const QString kTags628A = QStringLiteral(
    "[CP][x][x][x][x][CPD][LVP][BOREN][MCLRE][FOSC2][PWRTEn][WDTE][FOSC1][FOSC0]");
const QString kTags88 = kTags628A + QStringLiteral("[x][x][x][x][x][x][x][x][x][x][x][x][IESO][FCMEN]");

QString cellText(QDialog& dialog, int bit) {
    return dialog.findChild<QLabel*>(QStringLiteral("cell%1").arg(bit))->text();
}
QString nameText(QDialog& dialog, int bit) {
    return dialog.findChild<QLabel*>(QStringLiteral("name%1").arg(bit))->text();
}
QString fieldText(QDialog& dialog) { return dialog.findChild<QLabel*>(QStringLiteral("valueField"))->text(); }
void clickCell(QDialog& dialog, const QString& name) {
    auto* cell = dialog.findChild<ClickableLabel*>(name);
    QVERIFY2(cell, qPrintable(name));
    QTest::mouseClick(cell, Qt::LeftButton);
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void bitTags_data();
    void bitTags();
    void dialogUnitsFollowTheFont();

    void configToggle_data();
    void configToggle();
    void configShowsBitsAndNames();
    void configFamilyZeroHasNoSecondPage();
    void configSecondPageKeepsEdits_data();
    void configSecondPageKeepsEdits();
    void configProtectOffTravelsWithOk();

    void userIdStep_data();
    void userIdStep();
    void userIdSixteenClicksComeBack();
    void userIdOffOnlyOnOk();

    void userIdDigitsStandUnderTheirAddresses();
    void deviceIdOption();
    void verifyErrorLines();
    void aboutBox();
    void testPanelStartsSafeAndSendsNothingWithoutProgrammer();
};

void DialogsTest::bitTags_data() {
    QTest::addColumn<QString>("tags");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("rest");

    QTest::newRow("three of five") << QStringLiteral("[A][B][C][D][E]") << 3
                                   << QStringList{"[A]", "[B]", "[C]"} << QStringLiteral("[D][E]");
    QTest::newRow("fewer than asked") << QStringLiteral("[A][B]") << 4
                                      << QStringList{"[A]", "[B]", "", ""} << QString();
    QTest::newRow("text between tags joins the next")
        << QStringLiteral("[A] x[B]") << 2 << QStringList{"[A]", " x[B]"} << QString();
    QTest::newRow("empty and x tags") << QStringLiteral("[][x]") << 2 << QStringList{"[]", "[x]"}
                                      << QString();
    QTest::newRow("no closing bracket") << QStringLiteral("[open") << 2 << QStringList{"", ""}
                                        << QStringLiteral("[open");
    // A full-width bracket is a different character: it must not end a tag.
    QTest::newRow("full-width bracket inside")
        << QStringLiteral("[保護］全体][ﾌﾟﾛﾃｸﾄ]") << 2
        << QStringList{QStringLiteral("[保護］全体]"), QStringLiteral("[ﾌﾟﾛﾃｸﾄ]")} << QString();
    QTest::newRow("word 2 after 14") << kTags88 << 14
                                     << QStringList{"[CP]", "[x]", "[x]", "[x]", "[x]", "[CPD]", "[LVP]",
                                                    "[BOREN]", "[MCLRE]", "[FOSC2]", "[PWRTEn]", "[WDTE]",
                                                    "[FOSC1]", "[FOSC0]"}
                                     << QStringLiteral("[x][x][x][x][x][x][x][x][x][x][x][x][IESO][FCMEN]");
}

void DialogsTest::bitTags() {
    QFETCH(QString, tags);
    QFETCH(int, count);
    QFETCH(QStringList, taken);
    QFETCH(QString, rest);
    QCOMPARE(takeBitTags(tags, count), taken);
    QCOMPARE(tags, rest);
}

void DialogsTest::dialogUnitsFollowTheFont() {
    const QFont font = proportionalDialogFont();
    const DialogUnits units(font);
    const QFontMetrics metrics(font);
    // 52 letters are 4 x 52 horizontal units; one line of text is 8 vertical units.
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(units.x(208), alphabet);
    QCOMPARE(units.y(8), metrics.height());
    QCOMPARE(units.toPixels(QRect(208, 8, 416, 16)),
             QRect(alphabet, metrics.height(), 2 * alphabet, 2 * metrics.height()));
}

void DialogsTest::configToggle_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("bits");
    QTest::addColumn<QList<int>>("words");

    QTest::newRow("0xFFFF bit 0 twice") << 0xFFFF << QList<int>{0, 0} << QList<int>{0x3FFE, 0x3FFF};
    QTest::newRow("0x3FFF bit 13 twice") << 0x3FFF << QList<int>{13, 13} << QList<int>{0x1FFF, 0x3FFF};
    QTest::newRow("0x0000 set and clear") << 0x0000 << QList<int>{5, 0, 5}
                                          << QList<int>{0x0020, 0x0021, 0x0001};
    QTest::newRow("0xC000 setting keeps high bits") << 0xC000 << QList<int>{1} << QList<int>{0xC002};
}

void DialogsTest::configToggle() {
    QFETCH(int, start);
    QFETCH(QList<int>, bits);
    QFETCH(QList<int>, words);
    ConfigWordDialog dialog(ConfigWordValues{"PIC16F628A", uint16_t(start), 0x3FFF, kTags628A, 0, 0});
    for (int i = 0; i < bits.size(); ++i) {
        clickCell(dialog, QStringLiteral("cell%1").arg(bits[i]));
        QCOMPARE(dialog.workingWord(), uint16_t(words[i]));
        QCOMPARE(fieldText(dialog), QStringLiteral("%1").arg(words[i], 4, 16, QLatin1Char('0')).toUpper());
        QCOMPARE(cellText(dialog, bits[i]), QString::number((words[i] >> bits[i]) & 1));
    }
    dialog.accept();
    QCOMPARE(dialog.values().configWord, uint16_t(words.last()));
}

void DialogsTest::configShowsBitsAndNames() {
    ConfigWordDialog dialog(ConfigWordValues{"PIC16F877A", 0x2F0A, 0x3FFF, QStringLiteral("[CP][x][DEBUG]"), 0, 0});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("KVN -Configuration Word-"));
    QCOMPARE(dialog.findChild<QLabel*>("deviceName")->text(), QStringLiteral("PIC16F877A"));
    QCOMPARE(fieldText(dialog), QStringLiteral("2F0A"));
    QString bits;
    for (int bit = 13; bit >= 0; --bit) bits += cellText(dialog, bit);
    QCOMPARE(bits, QStringLiteral("10111100001010"));
    QCOMPARE(nameText(dialog, 13), QStringLiteral("[CP]"));
    QCOMPARE(nameText(dialog, 12), QStringLiteral("[x]"));
    QCOMPARE(nameText(dialog, 11), QStringLiteral("[DEBUG]"));
    QCOMPARE(nameText(dialog, 10), QString());   // fewer than 14 tags: the rest stay empty
    QCOMPARE(nameText(dialog, 0), QString());
    QCOMPARE(dialog.findChild<QCheckBox*>()->text(), QStringLiteral("プロテクトを使用しない。"));
}

void DialogsTest::configFamilyZeroHasNoSecondPage() {
    ConfigWordDialog dialog(ConfigWordValues{"PIC16F628A", 0x3FFF, 0x1234, kTags88, 0, 0});
    dialog.show();
    auto* next = dialog.findChild<QPushButton*>("nextButton");
    QVERIFY(next->isHidden());
    QCOMPARE(next->text(), QStringLiteral("次"));
    clickCell(dialog, "cell3");
    dialog.accept();
    QCOMPARE(dialog.values().configWord, uint16_t(0x3FF7));
    QCOMPARE(dialog.values().configWord2, uint16_t(0x1234));   // handed back as it came
}

void DialogsTest::configSecondPageKeepsEdits_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("extraNexts");   // pressed again before OK
    QTest::addColumn<bool>("cancel");
    QTest::newRow("family 2, OK on page 2") << 2 << 0 << false;
    QTest::newRow("family 2, back to page 1, OK") << 2 << 1 << false;
    QTest::newRow("family 1, three more, OK") << 1 << 3 << false;
    QTest::newRow("family 2, close on page 2") << 2 << 0 << true;
}

void DialogsTest::configSecondPageKeepsEdits() {
    QFETCH(int, family);
    QFETCH(int, extraNexts);
    QFETCH(bool, cancel);
    ConfigWordDialog dialog(ConfigWordValues{"PIC16F88", 0x3FFF, 0x3FFF, kTags88, 0, family});
    dialog.show();
    auto* next = dialog.findChild<QPushButton*>("nextButton");
    QVERIFY(next->isVisible());
    clickCell(dialog, "cell13");
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(dialog.page(), 2);
    QCOMPARE(nameText(dialog, 1), QStringLiteral("[IESO]"));
    QCOMPARE(nameText(dialog, 0), QStringLiteral("[FCMEN]"));
    QCOMPARE(fieldText(dialog), QStringLiteral("3FFF"));
    clickCell(dialog, "cell0");
    for (int i = 0; i < extraNexts; ++i) QTest::mouseClick(next, Qt::LeftButton);
    if (cancel)
        dialog.close();
    else
        QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    QCOMPARE(dialog.result(), cancel ? int(QDialog::Rejected) : int(QDialog::Accepted));
    QCOMPARE(dialog.values().configWord, uint16_t(0x1FFF));
    QCOMPARE(dialog.values().configWord2, uint16_t(0x3FFE));
}

void DialogsTest::configProtectOffTravelsWithOk() {
    ConfigWordDialog ticked(ConfigWordValues{"PIC16F628A", 0x3FFF, 0x3FFF, kTags628A, 0, 0});
    ticked.findChild<QCheckBox*>()->setChecked(true);
    ticked.accept();
    QCOMPARE(ticked.values().protectOff, 1);

    ConfigWordDialog unticked(ConfigWordValues{"PIC16F628A", 0x3FFF, 0x3FFF, kTags628A, 7, 0});
    QVERIFY(unticked.findChild<QCheckBox*>()->isChecked());   // any non-zero value is set
    unticked.findChild<QCheckBox*>()->setChecked(false);
    unticked.accept();
    QCOMPARE(unticked.values().protectOff, 0);
}

void DialogsTest::userIdStep_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("expected");
    QTest::newRow("0x0FFF lowest digit wraps alone") << 0x0FFF << "digit0" << 0x0FF0;
    QTest::newRow("0xFFFF highest digit wraps") << 0xFFFF << "digit3" << 0x0FFF;
    QTest::newRow("0x0000 second digit") << 0x0000 << "digit1" << 0x0010;
    QTest::newRow("0x12F4 second digit wraps alone") << 0x12F4 << "digit1" << 0x1204;
    QTest::newRow("0x12F4 third digit") << 0x12F4 << "digit2" << 0x13F4;
}

void DialogsTest::userIdStep() {
    QFETCH(int, start);
    QFETCH(QString, cell);
    QFETCH(int, expected);
    UserIdDialog dialog(UserIdValues{"PIC16F628A", uint16_t(start), 0});
    clickCell(dialog, cell);
    QCOMPARE(dialog.values().userId, uint16_t(expected));
    QCOMPARE(fieldText(dialog), QStringLiteral("%1").arg(expected, 4, 16, QLatin1Char('0')).toUpper());
    const QString digits = dialog.findChild<QLabel*>("digit3")->text() +
                           dialog.findChild<QLabel*>("digit2")->text() +
                           dialog.findChild<QLabel*>("digit1")->text() +
                           dialog.findChild<QLabel*>("digit0")->text();
    QCOMPARE(digits, fieldText(dialog));
}

void DialogsTest::userIdSixteenClicksComeBack() {
    UserIdDialog dialog(UserIdValues{"PIC16F628A", 0x0000, 0});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("KVN -User ID-"));
    QCOMPARE(fieldText(dialog), QStringLiteral("0000"));
    QCOMPARE(dialog.findChild<QLabel*>("addressRow")->text(), QStringLiteral("2003 : 2202 : 2001 : 2000"));
    for (int i = 0; i < 15; ++i) clickCell(dialog, "digit2");
    QCOMPARE(dialog.values().userId, uint16_t(0x0F00));
    clickCell(dialog, "digit2");
    QCOMPARE(dialog.values().userId, uint16_t(0x0000));
}

void DialogsTest::userIdOffOnlyOnOk() {
    UserIdDialog dialog(UserIdValues{"PIC16F628A", 0x1234, 0});
    auto* box = dialog.findChild<QCheckBox*>();
    QCOMPARE(box->text(), QStringLiteral("User IDを使用しない。"));
    box->setChecked(true);
    clickCell(dialog, "digit0");   // the digits stay clickable with the box ticked
    QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    QCOMPARE(dialog.values().userIdOff, 1);
    QCOMPARE(dialog.values().userId, uint16_t(0x1235));
}

void DialogsTest::userIdDigitsStandUnderTheirAddresses() {
    UserIdDialog dialog(UserIdValues{"PIC16F628A", 0x1234, 0});
    const QRect row = dialog.findChild<QLabel*>("addressRow")->geometry();
    int previous = row.left();
    for (const char* name : {"digit3", "digit2", "digit1", "digit0"}) {
        const QRect cell = dialog.findChild<QLabel*>(name)->geometry();
        QVERIFY2(cell.left() > previous, name);   // left to right, not overlapping
        QVERIFY2(cell.center().x() < row.left() + dialog.findChild<QLabel*>("addressRow")->sizeHint().width(), name);
        previous = cell.right();
    }
}

void DialogsTest::deviceIdOption() {
    DeviceIdDialog dialog(DeviceIdValues{"PIC16F84A", 0});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("KVN -Device ID-"));
    QCOMPARE(dialog.findChild<QLabel*>("deviceName")->text(), QStringLiteral("PIC16F84A"));
    auto* box = dialog.findChild<QCheckBox*>();
    QCOMPARE(box->text(), QStringLiteral("Device IDをチェックしない。"));
    QVERIFY(!box->isChecked());
    box->setChecked(true);
    QTest::mouseClick(dialog.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.values().skipDeviceIdCheck, 1);

    DeviceIdDialog cancelled(DeviceIdValues{"PIC16F84A", 5});
    QVERIFY(cancelled.findChild<QCheckBox*>()->isChecked());
    QTest::mouseClick(cancelled.findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QCOMPARE(cancelled.values().skipDeviceIdCheck, 5);   // untouched without OK
}

void DialogsTest::verifyErrorLines() {
    VerifyErrorDialog dialog("OK", "NG", "OK");
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Verify Error"));
    const QStringList expected = {"Program Memorys : ", "OK", "EEPROM Memorys :", "NG", "Config Word : ", "OK"};
    const QStringList names = {"programLabel", "programResult", "eepromLabel", "eepromResult", "configLabel", "configResult"};
    for (int i = 0; i < names.size(); ++i) {
        auto* label = dialog.findChild<QLabel*>(names[i]);
        QCOMPARE(label->text(), expected[i]);
        // Whatever the font, a caption is shown whole.
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(names[i]));
    }
    auto* ok = dialog.findChild<QPushButton*>("okButton");
    QVERIFY(ok->isDefault());
    dialog.show();
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

void DialogsTest::aboutBox() {
    for (const QString way : {"okButton", "closeButton", "escape"}) {
        AboutDialog about(QStringLiteral("KorvalinLoader"));
        QCOMPARE(about.windowTitle(), QStringLiteral("バージョン情報"));
        QCOMPARE(about.findChild<QLabel*>("productName")->text(), QStringLiteral("Korvalin Loader"));
        QCOMPARE(about.findChild<QLabel*>("versionLine")->text(), QStringLiteral("KorvalinLoader Version 1.0.1"));
        QVERIFY(!about.findChild<QLabel*>("icon")->pixmap().isNull());
        QVERIFY(about.findChild<QPushButton*>("okButton")->isDefault());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        if (way == "escape")
            QTest::keyClick(&about, Qt::Key_Escape);
        else
            QTest::mouseClick(about.findChild<QPushButton*>(way), Qt::LeftButton);
        QVERIFY2(!about.isVisible(), qPrintable(way));
    }
}

void DialogsTest::testPanelStartsSafeAndSendsNothingWithoutProgrammer() {
    TestPanelDialog panel(nullptr);
    QCOMPARE(panel.windowTitle(), QStringLiteral("KVN テスト"));
    for (const char* name : {"ledOn", "dcdcOff", "mclrNormal", "socketIcsp", "fiveVoltOff"})
        QVERIFY2(panel.findChild<QRadioButton*>(name)->isChecked(), name);
    for (const char* name : {"ledOff", "dcdcOn", "mclrVpp", "mclrReset", "socket8_18", "socket28_40", "fiveVoltOn"})
        QVERIFY2(!panel.findChild<QRadioButton*>(name)->isChecked(), name);
    // Groups are independent: a click in one leaves the others' choices alone.
    QTest::mouseClick(panel.findChild<QRadioButton*>("mclrVpp"), Qt::LeftButton);
    QVERIFY(panel.findChild<QRadioButton*>("mclrVpp")->isChecked());
    QVERIFY(!panel.findChild<QRadioButton*>("mclrNormal")->isChecked());
    QVERIFY(panel.findChild<QRadioButton*>("ledOn")->isChecked());
    QVERIFY(panel.findChild<QRadioButton*>("socketIcsp")->isChecked());
    QVERIFY(panel.findChild<QLabel*>("warning")->text() ==
            QStringLiteral("書き込みするディバイスを繋いだまま テストを行わないようにしてください。"));
    auto* exit = panel.findChild<QPushButton*>("exitButton");
    QCOMPARE(exit->text(), QStringLiteral("終了"));
    panel.show();
    QTest::mouseClick(exit, Qt::LeftButton);
    QVERIFY(!panel.isVisible());
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
