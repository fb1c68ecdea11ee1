#include "WindowHarness.h"

#include "app/FileFilter.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/ClickableLabel.h"
#include "dialogs/ConfigWordDialog.h"
#include "dialogs/DeviceIdDialog.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/TestPanelDialog.h"
#include "dialogs/UserIdDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>

namespace {

QStringList dumpLines(WindowHarness& h, const char* name) {
    return h.child<QPlainTextEdit>(name)->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The trace from line `from` on, writes only.
QStringList writesFrom(const QStringList& lines, qsizetype from) {
    QStringList writes;
    for (qsizetype i = from; i < lines.size(); ++i)
        if (lines[i].startsWith(QLatin1String("W "))) writes.append(lines[i]);
    return writes;
}

const QString kSafeState = QStringLiteral("W 80 00 80 03 80 06 80 09 80 0B");

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void windowIsFixedAndTitled();
    void fileFilter_data();
    void fileFilter();

    void captionsAfterSelection_data();
    void captionsAfterSelection();
    void dumpOfTwoThousandWords();
    void idFieldsAfterSelection();
    void socketField_data();
    void socketField();
    void userSelectionAppliesTheDevice();

    void configEditorStoresMaskedWord();
    void configEditorProtectOffForcesProtectBits();
    void configEditorCancelChangesNothing();
    void userIdEditorStoresIntoBoth();
    void userIdEditorCancelChangesNothing();
    void deviceIdDialogSetsOption();
    void testPanelFramedBySafeState();
    void testPanelWithoutProgrammerSendsNothing();
    void aboutFromContextMenu();
    void refusesToCloseWhileChainRuns();
};

void WindowTest::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("dlu");
    // The window's template, in dialog units.
    QTest::newRow("1018") << "fileOpenButton" << "File Open" << QRect(5, 7, 45, 38);
    QTest::newRow("1014") << "fileSaveButton" << "File Save" << QRect(55, 7, 45, 38);
    QTest::newRow("1012") << "programButton" << "Program" << QRect(105, 7, 45, 38);
    QTest::newRow("1017") << "readButton" << "Read" << QRect(154, 7, 45, 17);
    QTest::newRow("1016") << "verifyButton" << "Verify" << QRect(154, 29, 45, 17);
    QTest::newRow("1019") << "eraseButton" << "Erase" << QRect(213, 7, 45, 17);
    QTest::newRow("1030") << "testButton" << "Test" << QRect(213, 29, 45, 17);
    QTest::newRow("1021") << "deviceList" << "" << QRect(266, 7, 128, 139);
    QTest::newRow("1025") << "configWordField" << "" << QRect(350, 27, 42, 11);
    QTest::newRow("1026") << "deviceIdField" << "" << QRect(350, 42, 42, 11);
    QTest::newRow("1027") << "userIdField" << "" << QRect(350, 55, 42, 11);
    QTest::newRow("1029") << "socketField" << "" << QRect(215, 54, 42, 11);
    QTest::newRow("1") << "okButton" << "OK" << QRect(302, 193, 50, 14);
    QTest::newRow("2") << "cancelButton" << "ｷｬﾝｾﾙ" << QRect(353, 193, 48, 14);
    QTest::newRow("socket label") << "socketLabel" << "Socket / ICSP :" << QRect(151, 56, 61, 8);
    QTest::newRow("config label") << "configWordLabel" << "Configruation Word :" << QRect(266, 28, 81, 8);
    QTest::newRow("device ID label") << "deviceIdLabel" << "Device ID :" << QRect(302, 42, 45, 8);
    QTest::newRow("user ID label") << "userIdLabel" << "User ID :" << QRect(310, 56, 37, 8);
    QTest::newRow("1022") << "programGroup" << "" << QRect(5, 71, 227, 105);
    QTest::newRow("1023") << "eepromGroup" << "" << QRect(237, 71, 164, 105);
    QTest::newRow("1015") << "programDump" << "" << QRect(10, 86, 216, 85);
    QTest::newRow("1020") << "eepromDump" << "" << QRect(243, 86, 151, 85);
    QTest::newRow("1028") << "progressBar" << "" << QRect(5, 180, 282, 8);
    QTest::newRow("1013") << "statusLine" << "" << QRect(5, 193, 282, 14);
}

void WindowTest::layout() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, dlu);
    WindowHarness h("PIC16F628A");
    const DialogUnits units(fixedDialogFont());
    QWidget* widget = h.window->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), h.window.get());
    QCOMPARE(widget->font(), fixedDialogFont());
    const QRect expected = units.toPixels(dlu);
    if (name == QLatin1String("deviceList")) {
        // A drop-down list's height in the template is its dropped-down extent.
        QCOMPARE(widget->geometry().topLeft(), expected.topLeft());
        QCOMPARE(widget->width(), expected.width());
        auto* list = static_cast<QComboBox*>(widget);
        QVERIFY(widget->height() < expected.height());
        QVERIFY(list->maxVisibleItems() >= 8);
    } else {
        QCOMPARE(widget->geometry(), expected);
    }
    if (!text.isEmpty()) QCOMPARE(h.text(qPrintable(name)), text);
    if (auto* field = qobject_cast<QLabel*>(widget); field && name.endsWith(QLatin1String("Field"))) {
        QVERIFY(qobject_cast<ClickableLabel*>(widget));
        QCOMPARE(field->alignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(field->frameShadow(), QFrame::Sunken);
    }
    if (auto* dump = qobject_cast<QPlainTextEdit*>(widget)) {
        QVERIFY(dump->isReadOnly());
        QCOMPARE(dump->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        // The columns line up: every character of a dump line is as wide as any other.
        const QFontMetrics metrics(dump->font());
        for (QChar c : QStringLiteral(" :0123456789ABCDEF"))
            QCOMPARE(metrics.horizontalAdvance(c), metrics.horizontalAdvance(QLatin1Char('W')));
    }
}

void WindowTest::windowIsFixedAndTitled() {
    WindowHarness h("PIC16F628A");
    const DialogUnits units(fixedDialogFont());
    QCOMPARE(h.window->windowTitle(), QStringLiteral("KorvalinLoader"));
    QCOMPARE(h.window->size(), QSize(units.x(408), units.y(214)));
    QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
    QVERIFY(!(h.window->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(h.window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!h.window->windowIcon().isNull());
    QVERIFY(h.child<QPushButton>("okButton")->isDefault());
    QCOMPARE(h.child<QLabel>("statusLine")->frameShadow(), QFrame::Sunken);
}

void WindowTest::fileFilter_data() {
    QTest::addColumn<QString>("pairs");
    QTest::addColumn<QString>("qt");
    QTest::newRow("the window's filter") << kHexFileFilter << "Hex Files (*.hex);;All Files (*.*)";
    QTest::newRow("names without patterns") << "Hex|*.hex|All|*||" << "Hex (*.hex);;All (*)";
    QTest::newRow("one pair, no end") << "Hex Files (*.hex)|*.hex" << "Hex Files (*.hex)";
    QTest::newRow("empty") << "" << "";
}

void WindowTest::fileFilter() {
    QFETCH(QString, pairs);
    QFETCH(QString, qt);
    QCOMPARE(qtFileFilter(pairs), qt);
}

void WindowTest::captionsAfterSelection_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("eeprom");
    QTest::newRow("PIC16F628A") << "PIC16F628A" << "Program Memorys = 2048" << "EEPROM Memorys = 128";
    QTest::newRow("PIC16F877A") << "PIC16F877A" << "Program Memorys = 8192" << "EEPROM Memorys = 256";
    QTest::newRow("PIC16F84A") << "PIC16F84A" << "Program Memorys = 1024" << "EEPROM Memorys = 64";
}

void WindowTest::captionsAfterSelection() {
    QFETCH(QString, device);
    QFETCH(QString, program);
    QFETCH(QString, eeprom);
    WindowHarness h(device.toStdString());
    QCOMPARE(h.child<QGroupBox>("programGroup")->title(), program);
    QCOMPARE(h.child<QGroupBox>("eepromGroup")->title(), eeprom);
    QCOMPARE(h.child<QComboBox>("deviceList")->currentText(), device);
}

void WindowTest::dumpOfTwoThousandWords() {
    WindowHarness h("PIC16F628A");
    const QStringList program = dumpLines(h, "programDump");
    QCOMPARE(program.size(), 256);
    QCOMPARE(program.first(), QStringLiteral("00000 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "));
    QVERIFY2(program.last().startsWith(QLatin1String("007F8 : ")), qPrintable(program.last()));
    const QStringList eeprom = dumpLines(h, "eepromDump");
    QCOMPARE(eeprom.size(), 16);
    QCOMPARE(eeprom.last(), QStringLiteral("00078 : FF FF FF FF FF FF FF FF "));
    QVERIFY(!h.child<QPlainTextEdit>("programDump")->toPlainText().contains(QLatin1Char('\r')));
}

void WindowTest::idFieldsAfterSelection() {
    WindowHarness h("PIC16F628A");
    // Bits tagged [x] (12..9) are not kept; nothing has been read, so no device ID yet.
    QCOMPARE(h.text("configWordField"), QStringLiteral("21FF"));
    QCOMPARE(h.text("deviceIdField"), QStringLiteral("----"));
    QCOMPARE(h.text("userIdField"), QStringLiteral("FFFF"));
}

void WindowTest::socketField_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("texts");   // before and after each click
    QTest::newRow("40 pins") << "PIC16F877A" << QStringList{"40pin", "ICSP", "40pin"};
    QTest::newRow("28 pins") << "PIC16F873A" << QStringList{"28pin", "ICSP"};
    QTest::newRow("18 pins") << "PIC16F628A" << QStringList{"18pin", "ICSP"};
    QTest::newRow("8 pins") << "PIC12F675" << QStringList{"8pin", "ICSP"};
    QTest::newRow("14 pins, no socket") << "PIC16F630" << QStringList{"ICSP", "ICSP", "ICSP"};
}

void WindowTest::socketField() {
    QFETCH(QString, device);
    QFETCH(QStringList, texts);
    WindowHarness h(device.toStdString());
    h.child<QProgressBar>("progressBar")->setValue(40);
    QCOMPARE(h.text("socketField"), texts.first());
    for (qsizetype i = 1; i < texts.size(); ++i) {
        h.click("socketField");
        QCOMPARE(h.text("socketField"), texts[i]);
    }
    QCOMPARE(h.child<QProgressBar>("progressBar")->value(), 0);
    QCOMPARE(h.session().socketMode, texts.size() % 2 == 1);
}

void WindowTest::userSelectionAppliesTheDevice() {
    WindowHarness h("PIC16F628A");
    auto* list = h.child<QComboBox>("deviceList");
    const int index = list->findText(QStringLiteral("PIC16F877A"));
    QVERIFY(index >= 0);
    h.click("socketField");
    list->setCurrentIndex(index);   // as the user's pick reports it
    QCOMPARE(h.session().deviceName, std::string("PIC16F877A"));
    QCOMPARE(h.child<QGroupBox>("programGroup")->title(), QStringLiteral("Program Memorys = 8192"));
    QCOMPARE(dumpLines(h, "programDump").size(), 1024);
    QCOMPARE(h.text("socketField"), QStringLiteral("40pin"));   // a selection goes back to the socket
}

void WindowTest::configEditorStoresMaskedWord() {
    WindowHarness h("PIC16F628A");
    h.child<QProgressBar>("progressBar")->setValue(50);
    auto ran = whenModal<ConfigWordDialog>([](ConfigWordDialog* dialog) {
        QCOMPARE(dialog->findChild<QLabel*>("valueField")->text(), QStringLiteral("21FF"));
        QCOMPARE(dialog->findChild<QLabel*>("name13")->text(), QStringLiteral("[CP]"));
        // Bit 0 off, and bit 10 (tagged [x]) on: the window keeps only implemented bits.
        QTest::mouseClick(dialog->findChild<ClickableLabel*>("cell0"), Qt::LeftButton);
        QTest::mouseClick(dialog->findChild<ClickableLabel*>("cell10"), Qt::LeftButton);
        QCOMPARE(dialog->findChild<QLabel*>("valueField")->text(), QStringLiteral("25FE"));
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    h.click("configWordField");
    QVERIFY(*ran);
    QCOMPARE(h.session().programmer.configWord, uint16_t(0x21FE));
    QCOMPARE(h.session().image.configWord, uint16_t(0x21FE));
    QCOMPARE(h.text("configWordField"), QStringLiteral("21FE"));
    QCOMPARE(h.child<QProgressBar>("progressBar")->value(), 0);
}

void WindowTest::configEditorProtectOffForcesProtectBits() {
    WindowHarness h("PIC16F628A");
    auto ran = whenModal<ConfigWordDialog>([](ConfigWordDialog* dialog) {
        QTest::mouseClick(dialog->findChild<ClickableLabel*>("cell13"), Qt::LeftButton);   // CP on (0)
        QTest::mouseClick(dialog->findChild<ClickableLabel*>("cell8"), Qt::LeftButton);    // CPD on (0)
        dialog->findChild<QCheckBox*>()->setChecked(true);
        dialog->accept();
    });
    h.click("configWordField");
    QVERIFY(*ran);
    QCOMPARE(h.session().protectOff, 1);
    QCOMPARE(h.session().programmer.configWord, uint16_t(0x21FF));   // both protect bits back to 1
    QCOMPARE(h.session().image.configWord, uint16_t(0x21FF));

    // Reopening shows the stored word, not the one that was clicked.
    auto reopened = whenModal<ConfigWordDialog>([](ConfigWordDialog* dialog) {
        QCOMPARE(dialog->findChild<QLabel*>("valueField")->text(), QStringLiteral("21FF"));
        QVERIFY(dialog->findChild<QCheckBox*>()->isChecked());
        dialog->reject();
    });
    h.click("configWordField");
    QVERIFY(*reopened);
}

void WindowTest::configEditorCancelChangesNothing() {
    WindowHarness h("PIC16F88");
    const uint16_t word1 = h.session().programmer.configWord;
    const uint16_t word2 = h.session().programmer.configWord2;
    for (const char* way : {"cancel", "escape", "close"}) {
        auto ran = whenModal<ConfigWordDialog>([way](ConfigWordDialog* dialog) {
            QTest::mouseClick(dialog->findChild<ClickableLabel*>("cell2"), Qt::LeftButton);
            QTest::mouseClick(dialog->findChild<QPushButton*>("nextButton"), Qt::LeftButton);
            QTest::mouseClick(dialog->findChild<ClickableLabel*>("cell1"), Qt::LeftButton);
            dialog->findChild<QCheckBox*>()->setChecked(true);
            if (QByteArray(way) == "cancel")
                QTest::mouseClick(dialog->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
            else if (QByteArray(way) == "escape")
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->close();
        });
        h.click("configWordField");
        QVERIFY2(*ran, way);
        QCOMPARE(h.session().programmer.configWord, word1);
        QCOMPARE(h.session().image.configWord, word1);
        QCOMPARE(h.session().programmer.configWord2, word2);
        QCOMPARE(h.session().image.configWord2, word2);
        QCOMPARE(h.session().protectOff, 0);
    }
}

void WindowTest::userIdEditorStoresIntoBoth() {
    WindowHarness h("PIC16F628A");
    h.session().programmer.userId = 0x0FFF;
    auto ran = whenModal<UserIdDialog>([](UserIdDialog* dialog) {
        QTest::mouseClick(dialog->findChild<ClickableLabel*>("digit0"), Qt::LeftButton);
        dialog->findChild<QCheckBox*>()->setChecked(true);
        QTest::mouseClick(dialog->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    h.click("userIdField");
    QVERIFY(*ran);
    QCOMPARE(h.session().programmer.userId, uint16_t(0x0FF0));
    QCOMPARE(h.session().image.userId, uint16_t(0x0FF0));
    QCOMPARE(h.session().userIdOff, 1);
    QCOMPARE(h.session().programmer.writeUserId, 0);
    QCOMPARE(h.text("userIdField"), QStringLiteral("0FF0"));
}

void WindowTest::userIdEditorCancelChangesNothing() {
    WindowHarness h("PIC16F628A");
    auto ran = whenModal<UserIdDialog>([](UserIdDialog* dialog) {
        QTest::mouseClick(dialog->findChild<ClickableLabel*>("digit3"), Qt::LeftButton);
        dialog->findChild<QCheckBox*>()->setChecked(true);
        dialog->reject();
    });
    h.click("userIdField");
    QVERIFY(*ran);
    QCOMPARE(h.session().programmer.userId, uint16_t(0xFFFF));
    QCOMPARE(h.session().image.userId, uint16_t(0xFFFF));
    QCOMPARE(h.session().userIdOff, 0);
    QCOMPARE(h.session().programmer.writeUserId, 1);
}

void WindowTest::deviceIdDialogSetsOption() {
    WindowHarness h("PIC16F628A");
    auto ran = whenModal<DeviceIdDialog>([](DeviceIdDialog* dialog) {
        QCOMPARE(dialog->findChild<QLabel*>("deviceName")->text(), QStringLiteral("PIC16F628A"));
        dialog->findChild<QCheckBox*>()->setChecked(true);
        dialog->accept();
    });
    h.click("deviceIdField");
    QVERIFY(*ran);
    QCOMPARE(h.session().skipDeviceIdCheck, 1);
}

void WindowTest::testPanelFramedBySafeState() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    const qsizetype before = h.traceLines().size();
    auto ran = whenModal<TestPanelDialog>([](TestPanelDialog* panel) {
        QTest::mouseClick(panel->findChild<QRadioButton*>("mclrVpp"), Qt::LeftButton);
        QTest::mouseClick(panel->findChild<QRadioButton*>("dcdcOn"), Qt::LeftButton);
        QTest::mouseClick(panel->findChild<QRadioButton*>("dcdcOn"), Qt::LeftButton);   // sent again
        QTest::mouseClick(panel->findChild<QRadioButton*>("socket28_40"), Qt::LeftButton);
        panel->close();
    });
    h.click("testButton");
    QVERIFY(*ran);
    const QStringList writes = writesFrom(h.traceLines(), before);
    const QStringList expected = {kSafeState, "W 80 04", "W 80 02", "W 80 02", "W 80 08", kSafeState};
    QCOMPARE(writes, expected);
}

void WindowTest::testPanelWithoutProgrammerSendsNothing() {
    SimConfig unplugged;
    unplugged.plugged = false;
    WindowHarness h("PIC16F877A", "PIC16F877A", unplugged);
    QTest::qWait(50);   // a few ticks: nothing to attach
    auto ran = whenModal<TestPanelDialog>([](TestPanelDialog* panel) {
        QTest::mouseClick(panel->findChild<QRadioButton*>("ledOff"), Qt::LeftButton);
        panel->accept();
    });
    h.click("testButton");
    QVERIFY(*ran);
    QVERIFY(writesFrom(h.traceLines(), 0).isEmpty());
    QVERIFY(h.messages.isEmpty());
}

void WindowTest::aboutFromContextMenu() {
    WindowHarness h("PIC16F628A");
    QAction* about = h.window->aboutAction();
    QCOMPARE(about->text(), QStringLiteral("KVN のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    QVERIFY(h.window->actions().contains(about));
    QCOMPARE(h.window->contextMenuPolicy(), Qt::ActionsContextMenu);
    auto ran = whenModal<AboutDialog>([](AboutDialog* box) {
        QVERIFY(box->findChild<QLabel*>("versionLine")->text().endsWith(QLatin1String(" Version 1.0.1")));
        QTest::keyClick(box, Qt::Key_Escape);
    });
    about->trigger();
    QVERIFY(*ran);
}

void WindowTest::refusesToCloseWhileChainRuns() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    h.click("readButton");
    QVERIFY(h.session().chainRunning());
    // No event has run since the click: the chain is still on, whatever the worker did.
    h.window->reject();
    h.window->accept();
    QTest::keyClick(h.window.get(), Qt::Key_Escape);
    h.window->close();
    QVERIFY(h.window->isVisible());
    QVERIFY(h.waitChainEnd());
    h.click("cancelButton");
    QVERIFY(!h.window->isVisible());
    QCOMPARE(h.window->result(), int(QDialog::Rejected));
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
