// SPDX-License-Identifier: MIT
#include "WindowHarness.h"

#include "app/FileFilter.h"
#include "device/MemoryImage.h"
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

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSpinBox>


namespace {

const QString kCannotOpen = QStringLiteral("ファイルを開けませんでした。");
const QString kBlankLine = QStringLiteral("00000 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
const QString kLoadedLine = QStringLiteral("00000 : 3000 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
const QString kOk = QStringLiteral("Program Verify - OK");

QStringList dumpLines(WindowHarness& h, const char* name) {
    return h.child<QPlainTextEdit>(name)->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void clickChild(QWidget* parent, const char* name) {
    QWidget* widget = parent->findChild<QWidget*>(QLatin1String(name));
    QVERIFY2(widget, name);
    QTest::mouseClick(widget, Qt::LeftButton);
}

// A HEX file whose first program word is 3000, the rest blank.
bool writeHex(const QString& path, uint32_t words, uint32_t eepromBytes) {
    MemoryImage file;
    file.resize(words, 0x3FFF, eepromBytes);
    file.programWords[0] = 0x3000;
    return file.saveHex(path.toStdString(), true, 0x3FFF);
}

// What the editors may change in the session.
QList<int> editorValues(Session& s) {
    return {s.programmer.configWord, s.image.configWord, s.programmer.configWord2,
            s.image.configWord2,     s.protectOff,       s.programmer.userId,
            s.image.userId,          s.userIdOff,        s.programmer.writeUserId,
            s.skipDeviceIdCheck};
}

// Status line, Program button's label, whether it is enabled, whether the other controls are.
QString line(const QString& status, const QString& label, bool program, bool others) {
    return QStringLiteral("%1|%2|%3|%4").arg(status, label).arg(program).arg(others);
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void windowIsFixedAndTitled();
    void selectionFromTheList_data();
    void selectionFromTheList();
    void editorsStoreOnOk();
    void editorsLeftWithoutOkChangeNothing_data();
    void editorsLeftWithoutOkChangeNothing();
    void testPanel_data();
    void testPanel();
    void standardPrompts();
    void fileDialogs_data();
    void fileDialogs();
    void nothingStartsWhileAChainStarts_data();
    void nothingStartsWhileAChainStarts();
    // The chains' logic is pinned against the session; here real clicks start them, and the
    // widgets and prompts show them.
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
    QWidget* widget = h.window->findChild<QWidget*>(name);
    QVERIFY(widget);
    const QRect expected = DialogUnits(fixedDialogFont()).toPixels(dlu);
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
    if (qobject_cast<QPlainTextEdit*>(widget)) {
        // The columns line up: every character of a dump line is as wide as any other.
        const QFontMetrics metrics(widget->font());
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
    QCOMPARE(h.messages, QStringList{kCannotOpen});
    // "*.*" would hide the files without a dot.
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
    QTest::addColumn<QString>("program");   // the group's caption
    QTest::addColumn<int>("dumpLines");
    QTest::addColumn<QStringList>("socket");   // before and after a click
    QTest::newRow("PIC16F877A") << "PIC16F877A" << "Program Memorys = 8192" << 1024 << QStringList{"40pin", "ICSP"};
    QTest::newRow("PIC16F84A") << "PIC16F84A" << "Program Memorys = 1024" << 128 << QStringList{"18pin", "ICSP"};
    QTest::newRow("PIC12F675") << "PIC12F675" << "Program Memorys = 1024" << 128 << QStringList{"8pin", "ICSP"};
    QTest::newRow("14 pins, no socket") << "PIC16F630" << "Program Memorys = 1024" << 128 << QStringList{"ICSP", "ICSP"};
}

// A new window shows the remembered device blank; a pick in the list applies another, with the
// remembered fast-schedule choice; the socket field goes back to the socket.
void WindowTest::selectionFromTheList() {
    QFETCH(QString, device);
    QFETCH(QString, program);
    QFETCH(int, dumpLines);
    QFETCH(QStringList, socket);
    WindowHarness h("PIC16F628A");
    auto* list = h.child<QComboBox>("deviceList");
    QCOMPARE(list->currentText(), QStringLiteral("PIC16F628A"));
    QCOMPARE(h.child<QGroupBox>("programGroup")->title(), QStringLiteral("Program Memorys = 2048"));
    QCOMPARE(::dumpLines(h, "programDump").size(), 256);
    QCOMPARE(::dumpLines(h, "programDump").first(), kBlankLine);
    QCOMPARE(::dumpLines(h, "eepromDump").last(), QStringLiteral("00078 : FF FF FF FF FF FF FF FF "));
    QVERIFY(!h.child<QPlainTextEdit>("programDump")->toPlainText().contains(QLatin1Char('\r')));
    QCOMPARE(h.text("configWordField"), QStringLiteral("21FF"));   // bits tagged [x] not kept
    h.click("socketField");
    h.window->fastScheduleAction()->setChecked(true);
    QVERIFY(h.session().programmer.fastSchedule.has_value());
    list->setCurrentIndex(list->findText(device));   // as the user's pick reports it
    QCOMPARE(h.session().deviceName, device.toStdString());
    QVERIFY(h.session().programmer.fastSchedule.has_value());
    h.window->fastScheduleAction()->setChecked(false);
    QVERIFY(!h.session().programmer.fastSchedule.has_value());
    QCOMPARE(h.child<QGroupBox>("programGroup")->title(), program);
    QCOMPARE(::dumpLines(h, "programDump").size(), dumpLines);
    h.child<QProgressBar>("progressBar")->setValue(40);
    QCOMPARE(h.text("socketField"), socket[0]);
    h.click("socketField");
    QCOMPARE(h.text("socketField"), socket[1]);
    QCOMPARE(h.child<QProgressBar>("progressBar")->value(), 0);
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
        dialog->findChild<QCheckBox*>()->setChecked(true);   // protection off: CP and CPD stay 1
        clickChild(dialog, "okButton");
    });
    h.click("configWordField");
    QVERIFY(*ran);
    QCOMPARE(QList<int>({s.programmer.configWord, s.image.configWord}), QList<int>({0x21FE, 0x21FE}));
    QCOMPARE(h.text("configWordField"), QStringLiteral("21FE"));
    QCOMPARE(s.protectOff, 1);
    QCOMPARE(h.child<QProgressBar>("progressBar")->value(), 0);

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
        for (const char* way : {"cancelButton", "enterOnCancel"})
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
        if (way == QLatin1String("enterOnCancel")) {
            auto* cancel = dialog->findChild<QPushButton*>("cancelButton");
            cancel->setFocus();
            QTest::keyClick(cancel, Qt::Key_Return);
            QVERIFY(!dialog->isVisible());
        } else {
            clickChild(dialog, qPrintable(way));
        }
    });
    h.click(qPrintable(field));
    QVERIFY(*ran);
    QVERIFY(changed > 0);
    QCOMPARE(editorValues(h.session()), before);
}

void WindowTest::testPanel_data() {
    QTest::addColumn<bool>("plugged");
    QTest::addColumn<QStringList>("writes");
    const QString safeState = QStringLiteral("W 80 00 80 03 80 06 80 09 80 0B");
    QTest::newRow("framed by the safe state")
        << true << QStringList{safeState, "W 80 04", "W 80 02", "W 80 02", "W 80 08", safeState};
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
        for (const char* button : {"mclrVpp", "dcdcOn", "dcdcOn", "socket28_40"}) clickChild(panel, button);
        panel->close();
    });
    h.click("testButton");
    QVERIFY(*ran);
    QCOMPARE(h.traceWrites().mid(before), writes);
    QVERIFY(h.messages.isEmpty());
}

// The real message boxes the window uses outside the tests.
void WindowTest::standardPrompts() {
    const WindowPrompts prompts = WindowPrompts::standard();
    QWidget parent;
    auto message = whenModal<QMessageBox>([](QMessageBox* box) {
        QCOMPARE(box->text(), kCannotOpen);
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->buttons().size(), 1);
        box->buttons().first()->click();
    });
    prompts.message(&parent, kCannotOpen);
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

    // The calibration message offers the dialog, whose Enter is its Cancel; the box's own OK
    // gives nothing.
    for (const QString way : {"ok", "enter", "box"}) {
        auto box = whenModal<QMessageBox>([way](QMessageBox* b) {
            QCOMPARE(b->icon(), QMessageBox::Critical);
            QCOMPARE(b->buttons().size(), 2);
            QCOMPARE(b->defaultButton(), b->button(QMessageBox::Ok));
            for (QAbstractButton* button : b->buttons())
                if ((button->text() == QStringLiteral("校正値を指定(&C)...")) == (way != "box")) button->click();
        });
        // The box's own OK opens no dialog: nothing may be left waiting for one.
        auto dialog = way == "box" ? std::make_shared<bool>(false) : whenModal<CalibrationDialog>([way](CalibrationDialog* d) {
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("wordEdit"));
            QVERIFY(d->findChild<QPushButton*>(QStringLiteral("cancelButton"))->isDefault());
            QCOMPARE(edit->text(), QStringLiteral("3478"));
            edit->setText(QStringLiteral("3FFF"));   // no RETLW: no way past OK
            QVERIFY(!d->findChild<QPushButton*>(QStringLiteral("okButton"))->isEnabled());
            edit->setText(QStringLiteral("34a0"));
            d->findChild<QSpinBox*>(QStringLiteral("bitsSpin"))->setValue(2);
            if (way == "enter") QTest::keyClick(d, Qt::Key_Return);
            else clickChild(d, "okButton");
        });
        const std::optional<CalibrationChoice> given =
            prompts.calibration(&parent, QStringLiteral("OSC"), CalibrationChoice{0x3478, 1});
        QVERIFY(*box);
        QCOMPARE(*dialog, way != "box");
        QCOMPARE(given.has_value(), way == "ok");
        if (given) {
            QCOMPARE(given->word, uint16_t(0x34A0));
            QCOMPARE(given->bits, 2);
        }
    }
}

void WindowTest::fileDialogs_data() {
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("folder");   // the prompt starts here; "temp": the test's folder
    QTest::addColumn<QString>("name");     // typed and accepted; "": the dialog is cancelled
    QTest::addColumn<QString>("chosen");   // in the test's folder; "": none
    QTest::newRow("open, cancelled") << false << "temp" << "" << "";
    QTest::newRow("open a file") << false << "temp" << "in.hex" << "in.hex";
    QTest::newRow("save, cancelled") << true << "" << "" << "";
    QTest::newRow("save: .hex added") << true << "temp" << "out" << "out.hex";
    QTest::newRow("save over a file, not asked") << true << "temp" << "in.hex" << "in.hex";
}

// The real file dialogs: start in the folder, show HEX files, a save suggests ReadData.hex.
void WindowTest::fileDialogs() {
    QFETCH(bool, save);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, chosen);
    QTemporaryDir temp;
    QVERIFY(writeHex(temp.filePath(QStringLiteral("in.hex")), 16, 0));
    const QString start = folder == QLatin1String("temp") ? temp.path() : folder;
    QWidget parent;
    auto ran = whenModal<QFileDialog>([&](QFileDialog* dialog) {
        if (!start.isEmpty()) QCOMPARE(dialog->directory().absolutePath(), temp.path());
        QCOMPARE(dialog->nameFilters(), QStringList({"Hex Files (*.hex)", "All Files (*)"}));
        if (save) QCOMPARE(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), QStringLiteral("ReadData.hex"));
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(temp.path());
        dialog->selectFile(name);
        static_cast<QDialog*>(dialog)->accept();   // the file dialog checks the name as for OK
    });
    const WindowPrompts prompts = WindowPrompts::standard();
    const QString path = save ? prompts.saveFile(&parent, start) : prompts.openFile(&parent, start);
    QVERIFY(*ran);
    QCOMPARE(path, chosen.isEmpty() ? QString() : temp.filePath(chosen));
}

void WindowTest::nothingStartsWhileAChainStarts_data() {
    QTest::addColumn<QString>("act");
    for (const char* act : {"testButton", "fileOpenButton", "fileSaveButton", "configWordField",
                            "userIdField", "deviceIdField", "close", "drop", "openFile", "fast"})
        QTest::newRow(act) << act;
}

// Right after Read is clicked its start checks run on the worker while the controls are still
// enabled: nothing may then open a dialog, reach the Programmer, change the file or close the
// window. No event runs between the click and the act, so the chain is surely still on.
void WindowTest::nothingStartsWhileAChainStarts() {
    QFETCH(QString, act);
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    const QString file = h.temp.filePath(QStringLiteral("in.hex"));
    QVERIFY(writeHex(file, 8192, 256));
    h.nextOpenPath = h.nextSavePath = file;
    h.promptFolder = QStringLiteral("not asked");
    bool dialogOpened = false;
    QTimer::singleShot(20, h.window.get(), [&dialogOpened] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialogOpened = true;
            dialog->reject();
        }
    });
    h.click("readButton");
    QCOMPARE(h.session().startingOperation, Operation::Read);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    if (act == QLatin1String("close")) {
        h.window->reject();
        h.window->accept();
        QTest::keyClick(h.window.get(), Qt::Key_Escape);
        h.window->close();
    } else if (act == QLatin1String("drop")) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.window.get(), &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.window.get(), &drop);
    } else if (act == QLatin1String("openFile")) {
        QVERIFY(!h.window->openFile(file));
    } else if (act == QLatin1String("fast")) {
        // Taken up once the chain has ended: its worker reads the schedule.
        h.window->fastScheduleAction()->setChecked(true);
        QVERIFY(!h.session().programmer.fastSchedule.has_value());
    } else {
        h.click(qPrintable(act));
    }
    QVERIFY(h.window->isVisible());
    QVERIFY(h.waitChainEnd());
    QTest::qWait(50);   // the watch for a dialog has fired
    QVERIFY(!dialogOpened);
    QCOMPARE(h.promptFolder, QStringLiteral("not asked"));
    QCOMPARE(dumpLines(h, "programDump").first(), kBlankLine);   // the chip is blank
    QCOMPARE(h.session().programmer.fastSchedule.has_value(), act == QLatin1String("fast"));
    QVERIFY(h.messages.isEmpty());
    h.click("cancelButton");
    QVERIFY(!h.window->isVisible());
}

void WindowTest::chainThroughClicks_data() {
    QTest::addColumn<QString>("device");
    // "given": the chip has lost its calibration word, and the window's question is answered
    // with the factory word; "unasked": the same with no one to ask, so only the message shows
    QTest::addColumn<QString>("disturbance");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("messaged");   // the calibration word's message was shown
    const QString write = QStringLiteral("Program / EEPROM Write");
    const QString verify = QStringLiteral("Program / EEPROM Verify");
    const QString calRead = QStringLiteral("OSC Calibration Data Read");
    const QStringList program{line(calRead, "Cancel", true, false), line(write, "Program", false, false),
                              line(verify, "Program", false, false), line(kOk, "Program", true, true)};
    QTest::newRow("Program, calibration word") << "PIC12F675" << "" << program << false;
    QTest::newRow("Program, calibration word erased, given") << "PIC12F675" << "given" << program << true;
    QTest::newRow("Program, calibration word erased, no one to ask")
        << "PIC12F675" << "unasked"
        << QStringList{line(calRead, "Cancel", true, false), line(calRead, "Program", true, true)} << true;
}

void WindowTest::chainThroughClicks() {
    QFETCH(QString, device);
    QFETCH(QString, disturbance);
    QFETCH(QStringList, steps);
    QFETCH(bool, messaged);
    WindowHarness h(device.toStdString(), device.toStdString(), {}, disturbance != QLatin1String("unasked"));
    QVERIFY(h.waitConnected());
    const SimChipState before = h.sim->chipState();
    SimChipState erased = before;
    erased.programWords[0x3FF] = 0x3FFF;
    erased.configWord = static_cast<uint16_t>((erased.configWord & ~0x3000) | 0x2000);
    if (messaged) QVERIFY(h.sim->setChipState(erased));
    h.nextCalibration = CalibrationChoice{before.factoryCalibrationWord, before.factoryCalibrationBits >> 12};
    auto recorded = std::make_shared<QStringList>();
    QObject::connect(h.window.get(), &MainWindow::controlsChanged, h.window.get(), [&h, recorded] {
        recorded->append(line(h.text("statusLine"), h.text("programButton"),
                              h.child<QWidget>("programButton")->isEnabled(),
                              h.child<QWidget>("readButton")->isEnabled()));
    });
    QTest::mouseClick(h.child<QPushButton>("programButton"), Qt::LeftButton);
    QVERIFY(h.waitChainEnd());
    QTest::qWait(50);   // later ticks add nothing
    QCOMPARE(*recorded, steps);
    QCOMPARE(h.messages.size(), qsizetype(messaged));
    QVERIFY(h.verifyErrors.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    // A calibration device keeps its factory calibration, and the image shows it; a chip whose
    // word nobody gave is left as it was.
    if (!h.session().hasCalibrationWord) return;
    const SimChipState chip = h.sim->chipState();
    const bool kept = disturbance != QLatin1String("unasked");
    QCOMPARE(chip.programWords[0x3FF], kept ? before.factoryCalibrationWord : uint16_t(0x3FFF));
    QCOMPARE(chip.configWord & 0x3000, kept ? before.factoryCalibrationBits : 0x2000);
    if (kept) QCOMPARE(h.session().image.programWords[0x3FF], before.factoryCalibrationWord);
}

// Each button reaches its chain and the file prompts; what the chains do is pinned elsewhere.
void WindowTest::fileOpenProgramVerifyReadAndSave() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    h.nextOpenPath = h.temp.filePath(QStringLiteral("in.hex"));
    QVERIFY(writeHex(h.nextOpenPath, 8192, 256));
    h.click("fileOpenButton");
    QCOMPARE(dumpLines(h, "programDump").first(), kLoadedLine);
    h.click("programButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);
    QCOMPARE(h.sim->chipState().programWords[0], uint16_t(0x3000));

    // One EEPROM byte differs: the Verify Error dialog's three lines name it.
    SimChipState chip = h.sim->chipState();
    chip.eepromBytes[5] = 0x42;
    chip.programWords[0] = 0x2805;
    QVERIFY(h.sim->setChipState(chip));
    h.click("verifyButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), QStringLiteral("Program Verify - NG"));
    QCOMPARE(h.verifyErrors, (QList<QStringList>{QStringList{"NG", "NG", "OK"}}));

    // A cancelled open changes nothing; Read shows the chip; Save writes where the prompt said,
    // a cancelled save nowhere.
    h.nextOpenPath.clear();
    h.click("fileOpenButton");
    QCOMPARE(dumpLines(h, "programDump").first(), kLoadedLine);
    h.click("readButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(dumpLines(h, "programDump").first(), QStringLiteral("00000 : 2805 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "));
    h.nextSavePath = h.temp.filePath(QStringLiteral("ReadData.hex"));
    h.click("fileSaveButton");
    QFile saved(h.nextSavePath);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    // The address record, then 2805 and seven blank words at address 0.
    QVERIFY(saved.readAll().startsWith(":020000040000FA\r\n:100000000528FF3FFF3FFF3FFF3FFF3FFF3FFF3F11\r\n"));
    QVERIFY(saved.remove());
    h.nextSavePath.clear();
    h.click("fileSaveButton");
    QVERIFY(!QFile::exists(saved.fileName()));
    QVERIFY(h.messages.isEmpty());
    QCOMPARE(h.promptFolder, h.temp.path());   // where the first save went
}

void WindowTest::dropAFile_data() {
    QTest::addColumn<QStringList>("names");      // dropped together, from the test's folder
    QTest::addColumn<bool>("taken");             // accepted and handed to the open path
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("one .hex file") << QStringList{"in.hex"} << true << QStringList();
    QTest::newRow("upper-case suffix") << QStringList{"IN.HEX"} << true << QStringList();
    QTest::newRow("not a .hex file") << QStringList{"in.txt"} << false << QStringList();
    QTest::newRow("two files") << QStringList{"in.hex", "IN.HEX"} << false << QStringList();
    QTest::newRow("no file at all") << QStringList() << false << QStringList();
    QTest::newRow("not a local file") << QStringList{"http://example.org/in.hex"} << false << QStringList();
    QTest::newRow("missing file: the open's own message") << QStringList{"gone.hex"} << true
                                                          << QStringList{kCannotOpen};
}

// A drop goes the way of File Open: same load, same message, and the open prompt then starts
// in the dropped file's folder.
void WindowTest::dropAFile() {
    QFETCH(QStringList, names);
    QFETCH(bool, taken);
    QFETCH(QStringList, messages);
    WindowHarness h("PIC16F628A", "PIC16F628A");
    QVERIFY(h.waitConnected());
    QList<QUrl> urls;
    for (const QString& name : names) {
        const QString path = h.temp.filePath(name);
        const bool local = !name.contains(QLatin1String("://"));
        urls.append(local ? QUrl::fromLocalFile(path) : QUrl(name));
        if (local && !name.startsWith(QLatin1String("gone"))) QVERIFY(writeHex(path, 2048, 128));
    }
    QMimeData data;
    if (names.isEmpty()) data.setText(QStringLiteral("in.hex"));
    else data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(h.window.get(), &enter);
    QCOMPARE(enter.isAccepted(), taken);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(h.window.get(), &drop);
    const bool loaded = taken && messages.isEmpty();
    QCOMPARE(dumpLines(h, "programDump").first(), loaded ? kLoadedLine : kBlankLine);
    QCOMPARE(h.messages, messages);
    h.click("fileOpenButton");
    QCOMPARE(h.promptFolder, taken ? h.temp.path() : QString());
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
