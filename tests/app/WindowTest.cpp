// SPDX-License-Identifier: MIT
#include "WindowHarness.h"

#include "app/FileFilter.h"
#include "device/MemoryImage.h"
#include "operations/Texts.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/ClickableLabel.h"
#include "dialogs/ConfigWordDialog.h"
#include "dialogs/DeviceIdDialog.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/TestPanelDialog.h"
#include "dialogs/UserIdDialog.h"
#include "dialogs/VerifyErrorDialog.h"
#include "programmer/FastSchedule.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>

#include <chrono>
#include <thread>

namespace {

QStringList dumpLines(WindowHarness& h, const char* name) {
    return h.child<QPlainTextEdit>(name)->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void clickChild(QWidget* parent, const char* name) {
    QWidget* widget = parent->findChild<QWidget*>(QLatin1String(name));
    QVERIFY2(widget, name);
    QTest::mouseClick(widget, Qt::LeftButton);
}

// What the editors may change in the session.
QList<int> editorValues(Session& s) {
    return {s.programmer.configWord, s.image.configWord, s.programmer.configWord2,
            s.image.configWord2,     s.protectOff,       s.programmer.userId,
            s.image.userId,          s.userIdOff,        s.programmer.writeUserId,
            s.skipDeviceIdCheck};
}

const QString kSafeState = QStringLiteral("W 80 00 80 03 80 06 80 09 80 0B");

// What the window shows each time the session sets the controls: status line, Program
// button's label, whether it is enabled, whether the other controls are.
std::shared_ptr<QStringList> recordControls(WindowHarness& h) {
    auto steps = std::make_shared<QStringList>();
    QObject::connect(h.window.get(), &MainWindow::controlsChanged, h.window.get(), [&h, steps] {
        steps->append(QStringLiteral("%1|%2|%3|%4")
                          .arg(h.text("statusLine"), h.text("programButton"))
                          .arg(h.child<QWidget>("programButton")->isEnabled())
                          .arg(h.child<QWidget>("readButton")->isEnabled()));
    });
    return steps;
}

QString line(const QString& status, const QString& label, bool program, bool others) {
    return QStringLiteral("%1|%2|%3|%4").arg(status, label).arg(program).arg(others);
}

const QString kWrite = QStringLiteral("Program / EEPROM Write");
const QString kVerify = QStringLiteral("Program / EEPROM Verify");
const QString kCalRead = QStringLiteral("OSC Calibration Data Read");
const QString kOk = QStringLiteral("Program Verify - OK");


}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void windowIsFixedAndTitled();

    void selectionFromTheList_data();
    void selectionFromTheList();
    void socketField_data();
    void socketField();

    void editorsStoreOnOk();
    void editorsLeftWithoutOkChangeNothing_data();
    void editorsLeftWithoutOkChangeNothing();
    void testPanel_data();
    void testPanel();
    void standardPrompts();
    void refusesToCloseWhileChainRuns();

    // The chains' logic is covered against the session; here real clicks drive them and the
    // widgets show them.
    void chainThroughClicks_data();
    void chainThroughClicks();
    void fileOpenProgramVerifyReadAndSave();
    void dropAFile_data();
    void dropAFile();
};

void WindowTest::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("dlu");
    // The window's template, in dialog units: a button, the drop-down list, the captions
    // kept as they were spelt, a dump, the status line.
    QTest::newRow("1018") << "fileOpenButton" << "File Open" << QRect(5, 7, 45, 38);
    QTest::newRow("1012") << "programButton" << "Program" << QRect(105, 7, 45, 38);
    QTest::newRow("1021") << "deviceList" << "" << QRect(266, 7, 128, 139);
    QTest::newRow("2") << "cancelButton" << "ｷｬﾝｾﾙ" << QRect(353, 193, 48, 14);
    QTest::newRow("config label") << "configWordLabel" << "Configruation Word :" << QRect(266, 28, 81, 8);
    QTest::newRow("1015") << "programDump" << "" << QRect(10, 86, 216, 85);
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
    if (auto* list = qobject_cast<QComboBox*>(widget)) {
        // A drop-down list's height in the template is its dropped-down extent.
        QCOMPARE(widget->geometry().topLeft(), expected.topLeft());
        QCOMPARE(widget->width(), expected.width());
        QVERIFY(widget->height() < expected.height());
        QVERIFY(list->maxVisibleItems() >= 8);
    } else {
        QCOMPARE(widget->geometry(), expected);
    }
    if (!text.isEmpty()) QCOMPARE(h.text(qPrintable(name)), text);
    if (auto* dump = qobject_cast<QPlainTextEdit*>(widget)) {
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
    QVERIFY(!(h.window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!h.window->windowIcon().isNull());
    QVERIFY(h.child<QPushButton>("okButton")->isDefault());
    // Enter acts on the focused button, not on OK, which would end the program.
    h.nextOpenPath = h.temp.filePath(QStringLiteral("missing.hex"));
    h.child<QPushButton>("fileOpenButton")->setFocus();
    QTest::keyClick(h.child<QPushButton>("fileOpenButton"), Qt::Key_Return);
    QVERIFY(h.window->isVisible());
    QCOMPARE(h.messages, QStringList{QStringLiteral("ファイルを開けませんでした。")});
    QCOMPARE(qtFileFilter(kHexFileFilter), QStringLiteral("Hex Files (*.hex);;All Files (*)"));
    // Without a system menu, the version item is in the window's context menu.
    QCOMPARE(h.window->contextMenuPolicy(), Qt::ActionsContextMenu);
    QVERIFY(h.window->actions().contains(h.window->aboutAction()));
    auto ran = whenModal<AboutDialog>([](AboutDialog* box) { clickChild(box, "okButton"); });
    h.window->aboutAction()->trigger();
    QVERIFY(*ran);
}

void WindowTest::selectionFromTheList_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("eeprom");
    QTest::addColumn<int>("dumpLines");
    QTest::addColumn<QString>("socket");
    QTest::newRow("PIC16F877A") << "PIC16F877A" << "Program Memorys = 8192"
                                << "EEPROM Memorys = 256" << 1024 << "40pin";
    QTest::newRow("PIC16F84A") << "PIC16F84A" << "Program Memorys = 1024" << "EEPROM Memorys = 64"
                               << 128 << "18pin";
}

// A new window shows the remembered device blank; a pick in the list applies another; the
// socket field goes back to the socket.
void WindowTest::selectionFromTheList() {
    QFETCH(QString, device);
    QFETCH(QString, program);
    QFETCH(QString, eeprom);
    QFETCH(int, dumpLines);
    QFETCH(QString, socket);
    WindowHarness h("PIC16F628A");
    auto* list = h.child<QComboBox>("deviceList");
    QCOMPARE(list->currentText(), QStringLiteral("PIC16F628A"));
    QCOMPARE(h.child<QGroupBox>("programGroup")->title(), QStringLiteral("Program Memorys = 2048"));
    const QStringList blank = ::dumpLines(h, "programDump");
    QCOMPARE(blank.size(), 256);
    QCOMPARE(blank.first(), QStringLiteral("00000 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "));
    QVERIFY2(blank.last().startsWith(QLatin1String("007F8 : ")), qPrintable(blank.last()));
    QCOMPARE(::dumpLines(h, "eepromDump").last(), QStringLiteral("00078 : FF FF FF FF FF FF FF FF "));
    QVERIFY(!h.child<QPlainTextEdit>("programDump")->toPlainText().contains(QLatin1Char('\r')));
    // Bits tagged [x] (12..9) are not kept; nothing has been read, so no device ID yet.
    QCOMPARE(h.text("configWordField"), QStringLiteral("21FF"));
    QCOMPARE(h.text("deviceIdField"), QStringLiteral("----"));
    QCOMPARE(h.text("userIdField"), QStringLiteral("FFFF"));
    h.click("socketField");
    h.window->fastScheduleAction()->setChecked(true);   // the remembered choice follows the pick
    list->setCurrentIndex(list->findText(device));   // as the user's pick reports it
    QCOMPARE(h.session().deviceName, device.toStdString());
    QVERIFY(h.session().programmer.fastSchedule.has_value());
    QCOMPARE(h.session().programmer.fastSchedule->wordUs, fastScheduleFor(device.toStdString())->wordUs);
    h.window->fastScheduleAction()->setChecked(false);
    QVERIFY(!h.session().programmer.fastSchedule.has_value());
    QCOMPARE(h.child<QGroupBox>("programGroup")->title(), program);
    QCOMPARE(h.child<QGroupBox>("eepromGroup")->title(), eeprom);
    QCOMPARE(::dumpLines(h, "programDump").size(), dumpLines);
    QCOMPARE(h.text("socketField"), socket);
}

void WindowTest::socketField_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("texts");   // before and after each click
    QTest::newRow("40 pins") << "PIC16F877A" << QStringList{"40pin", "ICSP", "40pin"};
    QTest::newRow("28 pins") << "PIC16F873A" << QStringList{"28pin", "ICSP"};
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

// Each editor's OK stores into both the image and the Programmer and updates its field.
void WindowTest::editorsStoreOnOk() {
    WindowHarness h("PIC16F628A");
    Session& s = h.session();
    h.child<QProgressBar>("progressBar")->setValue(50);
    auto ran = whenModal<ConfigWordDialog>([](ConfigWordDialog* dialog) {
        // Bit 0 off, and bit 10 (tagged [x]) on: the window keeps only implemented bits.
        clickChild(dialog, "cell0");
        clickChild(dialog, "cell10");
        clickChild(dialog, "okButton");
    });
    h.click("configWordField");
    QVERIFY(*ran);
    QCOMPARE(QList<int>({s.programmer.configWord, s.image.configWord}), QList<int>({0x21FE, 0x21FE}));
    QCOMPARE(h.text("configWordField"), QStringLiteral("21FE"));
    QCOMPARE(h.child<QProgressBar>("progressBar")->value(), 0);

    ran = whenModal<ConfigWordDialog>([](ConfigWordDialog* dialog) {
        clickChild(dialog, "cell13");   // CP on (0)
        clickChild(dialog, "cell8");    // CPD on (0)
        dialog->findChild<QCheckBox*>()->setChecked(true);
        clickChild(dialog, "okButton");
    });
    h.click("configWordField");
    QVERIFY(*ran);
    QCOMPARE(s.protectOff, 1);   // and both protect bits back to 1
    QCOMPARE(QList<int>({s.programmer.configWord, s.image.configWord}), QList<int>({0x21FE, 0x21FE}));

    s.programmer.userId = 0x0FFF;
    ran = whenModal<UserIdDialog>([](UserIdDialog* dialog) {
        dialog->findChild<QCheckBox*>()->setChecked(true);
        clickChild(dialog, "digit0");   // the digits stay clickable with the box ticked
        clickChild(dialog, "okButton");
    });
    h.click("userIdField");
    QVERIFY(*ran);
    QCOMPARE(QList<int>({s.programmer.userId, s.image.userId}), QList<int>({0x0FF0, 0x0FF0}));
    QCOMPARE(QList<int>({s.userIdOff, s.programmer.writeUserId}), QList<int>({1, 0}));
    QCOMPARE(h.text("userIdField"), QStringLiteral("0FF0"));

    ran = whenModal<DeviceIdDialog>([](DeviceIdDialog* dialog) {
        dialog->findChild<QCheckBox*>()->setChecked(true);
        clickChild(dialog, "okButton");
    });
    h.click("deviceIdField");
    QVERIFY(*ran);
    QCOMPARE(s.skipDeviceIdCheck, 1);
}

void WindowTest::editorsLeftWithoutOkChangeNothing_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("way");
    for (const char* field : {"configWordField", "userIdField", "deviceIdField"})
        for (const char* way : {"cancelButton", "escape", "close", "enterOnCancel"})
            QTest::addRow("%s, %s", field, way) << field << way;
}

// Every bit, digit and box changed (both pages of a family 2 device), then left without OK.
void WindowTest::editorsLeftWithoutOkChangeNothing() {
    QFETCH(QString, field);
    QFETCH(QString, way);
    WindowHarness h("PIC16F88");
    const QList<int> before = editorValues(h.session());
    int changed = 0;   // an editor found with nothing to change would prove nothing
    auto ran = whenModal<QDialog>([way, &changed](QDialog* dialog) {
        for (int page = 0; page < 2; ++page) {
            for (auto* label : dialog->findChildren<ClickableLabel*>()) {
                QTest::mouseClick(label, Qt::LeftButton);
                ++changed;
            }
            auto* next = dialog->findChild<QPushButton*>("nextButton");
            if (next && next->isVisible()) QTest::mouseClick(next, Qt::LeftButton);
        }
        for (auto* box : dialog->findChildren<QCheckBox*>()) {
            box->toggle();
            ++changed;
        }
        if (way == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (way == QLatin1String("close"))
            dialog->close();
        else if (way == QLatin1String("enterOnCancel")) {
            auto* cancel = dialog->findChild<QPushButton*>("cancelButton");
            cancel->setFocus();
            QTest::keyClick(cancel, Qt::Key_Return);
            const bool stayed = dialog->isVisible();
            if (stayed) dialog->reject();
            QVERIFY(!stayed);
        }
        else
            clickChild(dialog, qPrintable(way));
    });
    h.click(qPrintable(field));
    QVERIFY(*ran);
    QVERIFY(changed > 0);
    QCOMPARE(editorValues(h.session()), before);
}

void WindowTest::testPanel_data() {
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<QStringList>("writes");
    QTest::newRow("framed by the safe state")
        << true << QStringList{kSafeState, "W 80 04", "W 80 02", "W 80 02", "W 80 08", kSafeState};
    QTest::newRow("nothing sent without a programmer") << false << QStringList();
}

// Every click sends its command at once, a repeated one again.
void WindowTest::testPanel() {
    QFETCH(bool, plugged);
    QFETCH(QStringList, writes);
    SimConfig config;
    config.plugged = plugged;
    WindowHarness h("PIC16F877A", "PIC16F877A", config);
    if (plugged) QVERIFY(h.waitConnected());
    const qsizetype before = h.traceWrites().size();
    auto ran = whenModal<TestPanelDialog>([](TestPanelDialog* panel) {
        clickChild(panel, "mclrVpp");
        clickChild(panel, "dcdcOn");
        clickChild(panel, "dcdcOn");
        clickChild(panel, "socket28_40");
        panel->close();
    });
    h.click("testButton");
    QVERIFY(*ran);
    QCOMPARE(h.traceWrites().mid(before), writes);
    QVERIFY(h.messages.isEmpty());
}

// The real prompts the window uses outside the tests.
void WindowTest::standardPrompts() {
    const WindowPrompts prompts = WindowPrompts::standard();
    QWidget parent;
    auto message = whenModal<QMessageBox>([](QMessageBox* box) {
        QCOMPARE(box->text(), QStringLiteral("ファイルを開けませんでした。"));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->buttons().size(), 1);
        box->buttons().first()->click();
    });
    prompts.message(&parent, QStringLiteral("ファイルを開けませんでした。"));
    QVERIFY(*message);

    auto verify = whenModal<VerifyErrorDialog>([](VerifyErrorDialog* dialog) {
        const QStringList names = {"programLabel", "programResult", "eepromLabel",
                                   "eepromResult", "configLabel",  "configResult"};
        const QStringList texts = {"Program Memorys : ", "OK", "EEPROM Memorys :",
                                   "NG",                 "Config Word : ", "OK"};
        for (int i = 0; i < names.size(); ++i) {
            auto* label = dialog->findChild<QLabel*>(names[i]);
            QCOMPARE(label->text(), texts[i]);
            // Whatever the font, a caption is shown whole.
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(names[i]));
        }
        clickChild(dialog, "okButton");
    });
    prompts.verifyError(&parent, "OK", "NG", "OK");
    QVERIFY(*verify);

    // The calibration message offers the dialog; only a RETLW word gets past its OK, and Enter
    // is its Cancel.
    const auto openCalibrationDialog = [](QMessageBox* box) {
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->buttons().size(), 2);
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Ok));
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("校正値を指定(&C)...")) button->click();
    };
    for (const bool enter : {false, true}) {
        auto box = whenModal<QMessageBox>(openCalibrationDialog);
        auto dialog = whenModal<CalibrationDialog>([enter](CalibrationDialog* d) {
            auto* ok = d->findChild<QPushButton*>(QStringLiteral("okButton"));
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("wordEdit"));
            QVERIFY(d->findChild<QPushButton*>(QStringLiteral("cancelButton"))->isDefault());
            QCOMPARE(edit->text(), QStringLiteral("3478"));
            edit->setText(QStringLiteral("3FFF"));
            QVERIFY(!ok->isEnabled());
            edit->setText(QStringLiteral("34a0"));
            QVERIFY(ok->isEnabled());
            d->findChild<QSpinBox*>(QStringLiteral("bitsSpin"))->setValue(2);
            if (enter)
                QTest::keyClick(d, Qt::Key_Return);
            else
                ok->click();
        });
        const std::optional<CalibrationChoice> given =
            prompts.calibration(&parent, QStringLiteral("OSC"), CalibrationChoice{0x3478, 1});
        QVERIFY(*box);
        QVERIFY(*dialog);
        QCOMPARE(given.has_value(), !enter);
        if (given) {
            QCOMPARE(given->word, uint16_t(0x34A0));
            QCOMPARE(given->bits, 2);
        }
    }
}

void WindowTest::refusesToCloseWhileChainRuns() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    h.click("readButton");
    QVERIFY(h.session().chainRunning());
    // The step's start checks run on the worker while the controls are still enabled; the test
    // panel would reach the Programmer under it.
    QCOMPARE(h.session().startingOperation, Operation::Read);
    bool panelOpened = false;
    QTimer::singleShot(20, h.window.get(), [&panelOpened] {
        if (auto* panel = qobject_cast<TestPanelDialog*>(QApplication::activeModalWidget())) {
            panelOpened = true;
            panel->reject();
        }
    });
    h.click("testButton");
    QVERIFY(!panelOpened);
    // No event has run since the click: the chain is still on, whatever the worker did.
    h.window->reject();
    h.window->accept();
    QTest::keyClick(h.window.get(), Qt::Key_Escape);
    h.window->close();
    QVERIFY(h.window->isVisible());
    QVERIFY(h.waitChainEnd());
    h.click("cancelButton");
    QVERIFY(!h.window->isVisible());
}

void WindowTest::chainThroughClicks_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("button");
    // "cancel" in the first step; "given": the chip has lost its calibration word, and the
    // window's question is answered with the factory word
    QTest::addColumn<QString>("disturbance");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("Program, calibration word")
        << "PIC12F675" << "programButton" << ""
        << QStringList{line(kCalRead, "Cancel", true, false), line(kWrite, "Program", false, false),
                       line(kVerify, "Program", false, false), line(kOk, "Program", true, true)}
        << QStringList();
    QTest::newRow("cancel in the write")
        << "PIC16F877A" << "programButton" << "cancel"
        << QStringList{line(kWrite, "Cancel", true, false), line(kWrite, "Program", true, true)}
        << QStringList();
    const QString notFactory = QStringLiteral("OSC校正値が工場出荷値ではありません (読出値 3FFF BG2)。\n"
                                              "記録にある最後の正常値: なし\nチップは消去していません。");
    QTest::newRow("Program, calibration word erased, given")
        << "PIC12F675" << "programButton" << "given"
        << QStringList{line(kCalRead, "Cancel", true, false), line(kWrite, "Program", false, false),
                       line(kVerify, "Program", false, false), line(kOk, "Program", true, true)}
        << QStringList{notFactory};
}

void WindowTest::chainThroughClicks() {
    QFETCH(QString, device);
    QFETCH(QString, button);
    QFETCH(QString, disturbance);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, messages);
    WindowHarness h(device.toStdString(), device.toStdString());
    QVERIFY(h.waitConnected());
    SimChipState before = h.sim->chipState();
    if (disturbance == QLatin1String("given")) {
        SimChipState erased = before;
        erased.programWords[0x3FF] = 0x3FFF;
        erased.configWord = static_cast<uint16_t>((erased.configWord & ~0x3000) | 0x2000);
        QVERIFY(h.sim->setChipState(erased));
        h.nextCalibration = CalibrationChoice{before.factoryCalibrationWord, before.factoryCalibrationBits >> 12};
    }
    const auto recorded = recordControls(h);
    auto* pressed = h.child<QPushButton>(qPrintable(button));
    if (disturbance == QLatin1String("cancel")) {
        // No event runs between the two clicks (QAbstractButton::click() runs none), so no tick
        // can move the chain past its write step before "Cancel" is clicked. The step is armed
        // by the tick that finds its start checks done; that tick is run here by hand. The wait
        // lets the worker get past its start, where the write operation clears any earlier
        // request.
        pressed->click();
        QDeadlineTimer deadline(10000);
        while (h.session().startingOperation != Operation::None && !deadline.hasExpired()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            h.session().tick();
        }
        while (h.session().programmer.busy.load() != 0 && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pressed->click();
    } else {
        QTest::mouseClick(pressed, Qt::LeftButton);
    }
    QVERIFY(h.waitChainEnd());
    QTest::qWait(50);   // later ticks add nothing
    QCOMPARE(*recorded, steps);
    QCOMPARE(h.messages, messages);
    QVERIFY(h.verifyErrors.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    // A calibration device keeps its factory calibration, and the image shows it.
    if (!h.session().hasCalibrationWord) return;
    const SimChipState chip = h.sim->chipState();
    QCOMPARE(chip.programWords[0x3FF], before.factoryCalibrationWord);
    QCOMPARE(h.session().image.programWords[0x3FF], before.factoryCalibrationWord);
    QCOMPARE(uint16_t(chip.configWord & 0x3000), before.factoryCalibrationBits);
}

void WindowTest::fileOpenProgramVerifyReadAndSave() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    MemoryImage file;
    file.resize(8192, 0x3FFF, 256);
    for (uint32_t i = 0; i < 64; ++i) file.programWords[i] = static_cast<uint16_t>(0x3000 + i);
    file.programWords[8191] = 0x2ABC;
    file.configWord = 0x3F3A;
    h.nextOpenPath = h.temp.filePath(QStringLiteral("in.hex"));
    QVERIFY(file.saveHex(h.nextOpenPath.toStdString(), true, 0x3FFF));

    const QString firstLine = QStringLiteral("00000 : 3000 3001 3002 3003 3004 3005 3006 3007 ");
    h.click("fileOpenButton");
    QCOMPARE(dumpLines(h, "programDump").first(), firstLine);
    QCOMPARE(h.text("configWordField"), QStringLiteral("2F0A"));   // bits tagged [x] dropped

    h.click("programButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);
    SimChipState chip = h.sim->chipState();
    QCOMPARE(chip.programWords[8191], uint16_t(0x2ABC));
    QCOMPARE(chip.configWord, uint16_t(0x2F0A));

    h.click("verifyButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);
    QVERIFY(h.verifyErrors.isEmpty());

    // One EEPROM byte differs: the Verify Error dialog's three lines name it.
    chip.eepromBytes[5] = 0x42;
    QVERIFY(h.sim->setChipState(chip));
    h.click("verifyButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), QStringLiteral("Program Verify - NG"));
    QCOMPARE(h.verifyErrors, (QList<QStringList>{QStringList{"OK", "NG", "OK"}}));
    QVERIFY(h.child<QWidget>("readButton")->isEnabled());

    // A cancelled open changes nothing.
    h.nextOpenPath.clear();
    h.click("fileOpenButton");
    QCOMPARE(dumpLines(h, "programDump").first(), firstLine);
    QVERIFY(h.messages.isEmpty());

    // Read shows the chip; Save writes it where the prompt said, a cancelled save nowhere.
    chip.programWords[0] = 0x2805;
    QVERIFY(h.sim->setChipState(chip));
    h.click("readButton");
    QVERIFY(h.waitChainEnd());
    const QStringList dump = dumpLines(h, "programDump");
    QCOMPARE(dump.first(), QStringLiteral("00000 : 2805 3001 3002 3003 3004 3005 3006 3007 "));
    QCOMPARE(dump.last(), QStringLiteral("01FF8 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 2ABC "));
    h.nextSavePath = h.temp.filePath(QStringLiteral("ReadData.hex"));
    h.click("fileSaveButton");
    MemoryImage saved;
    saved.resize(8192, 0x3FFF, 256);
    QVERIFY(saved.loadHex(h.nextSavePath.toStdString()));
    QCOMPARE(saved.programWords[0], uint16_t(0x2805));
    QCOMPARE(saved.eepromBytes[5], uint8_t(0x42));
    QVERIFY(QFile::remove(h.nextSavePath));
    const QString kept = h.nextSavePath;
    h.nextSavePath.clear();
    h.click("fileSaveButton");
    QVERIFY(!QFile::exists(kept));
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(h.promptFolder, h.temp.path());   // where the first save went
}

void WindowTest::dropAFile_data() {
    QTest::addColumn<QStringList>("names");      // dropped together, from the test's folder
    QTest::addColumn<bool>("running");           // dropped while a Read runs
    QTest::addColumn<bool>("taken");             // accepted and handed to the open path
    QTest::addColumn<QString>("firstLine");      // of the program dump afterwards
    QTest::addColumn<QStringList>("messages");
    const QString loaded = QStringLiteral("00000 : 3000 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
    const QString blank = QStringLiteral("00000 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
    QTest::newRow("one .hex file") << QStringList{"in.hex"} << false << true << loaded << QStringList();
    QTest::newRow("upper-case suffix") << QStringList{"IN.HEX"} << false << true << loaded << QStringList();
    QTest::newRow("not a .hex file") << QStringList{"in.txt"} << false << false << blank << QStringList();
    QTest::newRow("two files") << QStringList{"in.hex", "IN.HEX"} << false << false << blank << QStringList();
    QTest::newRow("while a chain runs") << QStringList{"in.hex"} << true << false << blank << QStringList();
    QTest::newRow("missing file: the open's own message")
        << QStringList{"gone.hex"} << false << true << blank << QStringList{"ファイルを開けませんでした。"};
}

// A drop goes the way of File Open: same load, same message, and the open prompt then starts
// in the dropped file's folder.
void WindowTest::dropAFile() {
    QFETCH(QStringList, names);
    QFETCH(bool, running);
    QFETCH(bool, taken);
    QFETCH(QString, firstLine);
    QFETCH(QStringList, messages);
    WindowHarness h("PIC16F628A", "PIC16F628A");
    QVERIFY(h.waitConnected());
    MemoryImage file;
    file.resize(2048, 0x3FFF, 128);
    file.programWords[0] = 0x3000;
    QList<QUrl> urls;
    for (const QString& name : names) {
        const QString path = h.temp.filePath(name);
        if (!name.startsWith(QLatin1String("gone"))) QVERIFY(file.saveHex(path.toStdString(), true, 0x3FFF));
        urls.append(QUrl::fromLocalFile(path));
    }
    QMimeData data;
    data.setUrls(urls);

    if (running) {
        h.click("readButton");
        QVERIFY(h.session().chainRunning());
    }
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(h.window.get(), &enter);
    QCOMPARE(enter.isAccepted(), taken);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(h.window.get(), &drop);
    QVERIFY(h.waitChainEnd());

    QCOMPARE(dumpLines(h, "programDump").first(), firstLine);
    QCOMPARE(h.messages, messages);
    h.click("fileOpenButton");
    QCOMPARE(h.promptFolder, taken ? h.temp.path() : QString());
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
