// SPDX-License-Identifier: MIT
#include "WindowHarness.h"

#include "app/FileFilter.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/TestPanelDialog.h"
#include "dialogs/VerifyErrorDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
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

QStringList dumpLines(WindowHarness& h, const char* name) {
    return h.child<QPlainTextEdit>(name)->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void clickChild(QWidget* parent, const char* name) {
    QWidget* widget = parent->findChild<QWidget*>(QLatin1String(name));
    QVERIFY2(widget, name);
    QTest::mouseClick(widget, Qt::LeftButton);
}

// The session's values an editor may change.
QList<int> editorValues(Session& s, const QString& field) {
    if (field == QLatin1String("configWordField"))
        return {s.programmer.configWord, s.image.configWord, s.protectOff};
    if (field == QLatin1String("userIdField"))
        return {s.programmer.userId, s.image.userId, s.userIdOff, s.programmer.writeUserId};
    return {s.skipDeviceIdCheck};
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    // The remembered device shown blank, its dump in columns; a pick in the list applies another
    // with the remembered fast-schedule choice.
    void theWindowAtStart() {
        WindowHarness h("PIC16F628A");
        QCOMPARE(dumpLines(h, "programDump").size(), 256);
        QCOMPARE(dumpLines(h, "programDump").first(), kBlankLine);
        QVERIFY(!h.child<QPlainTextEdit>("programDump")->toPlainText().contains(QLatin1Char('\r')));
        const QFontMetrics metrics(h.child<QPlainTextEdit>("programDump")->font());
        for (QChar c : QStringLiteral(" :0123456789ABCDEF"))
            QCOMPARE(metrics.horizontalAdvance(c), metrics.horizontalAdvance(QLatin1Char('W')));
        QCOMPARE(h.text("configWordField"), QStringLiteral("21FF"));   // bits tagged [x] not kept
        h.window->fastScheduleAction()->setChecked(true);
        auto* list = h.child<QComboBox>("deviceList");
        list->setCurrentIndex(list->findText(QStringLiteral("PIC16F877A")));   // as the user's pick reports it
        QCOMPARE(h.child<QGroupBox>("programGroup")->title(), QStringLiteral("Program Memorys = 8192"));
        QCOMPARE(dumpLines(h, "programDump").size(), 1024);
        QVERIFY(h.session().programmer.fastSchedule.has_value());
        // The socket field goes back to the socket, and the progress bar to nothing.
        h.child<QProgressBar>("progressBar")->setValue(40);
        QCOMPARE(h.text("socketField"), QStringLiteral("40pin"));
        h.click("socketField");
        QCOMPARE(h.text("socketField"), QStringLiteral("ICSP"));
        QCOMPARE(h.child<QProgressBar>("progressBar")->value(), 0);
        // Enter acts on the focused button, not on OK, which would end the program.
        QVERIFY(h.child<QPushButton>("okButton")->isDefault());
        h.nextPath = h.temp.filePath(QStringLiteral("missing.hex"));
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
        // The test panel opens from its button; what it sends is pinned against the Programmer.
        ran = whenModal<TestPanelDialog>([](TestPanelDialog* panel) { panel->close(); });
        h.click("testButton");
        QVERIFY(*ran);
    }

    void editors_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("clicks");   // besides the box ticked
        QTest::addColumn<QList<int>>("stored");    // the field's values in the session after OK
        QTest::addColumn<bool>("ok");              // or Enter on the focused Cancel: nothing changes
        QTest::addColumn<QString>("text");         // the field's after OK; "": not a word
        // Bit 0 off, and bit 10 (tagged [x]) on: the window keeps only implemented bits; with
        // protection off, CP and CPD stay 1.
        const QStringList bits{"cell0", "cell10"};
        const QList<int> word{0x21FE, 0x21FE, 1};
        // The digits stay clickable with the box ticked; the lowest one wraps alone.
        const QList<int> userId{0x0FF0, 0x0FF0, 1, 0};
        for (const bool ok : {true, false}) {
            QTest::addRow("configuration word, %s", ok ? "OK" : "Enter on Cancel") << "configWordField" << bits << word << ok << "21FE";
            QTest::addRow("user ID, %s", ok ? "OK" : "Enter on Cancel") << "userIdField" << QStringList{"digit0"} << userId << ok << "0FF0";
            QTest::addRow("device ID, %s", ok ? "OK" : "Enter on Cancel") << "deviceIdField" << QStringList() << QList<int>{1} << ok << "";
        }
    }

    // OK stores into both the image and the Programmer and updates the field; Enter acts on the
    // focused Cancel, not on the default OK.
    void editors() {
        QFETCH(QString, field);
        QFETCH(QStringList, clicks);
        QFETCH(QList<int>, stored);
        QFETCH(bool, ok);
        QFETCH(QString, text);
        WindowHarness h("PIC16F628A");
        h.session().programmer.userId = 0x0FFF;
        const QList<int> before = editorValues(h.session(), field);
        const QString shown = h.text(qPrintable(field));
        auto ran = whenModal<QDialog>([&](QDialog* dialog) {
            for (const QString& name : clicks) clickChild(dialog, qPrintable(name));
            dialog->findChild<QCheckBox*>()->setChecked(true);
            auto* button = dialog->findChild<QPushButton*>(ok ? "okButton" : "cancelButton");
            button->setFocus();
            QTest::keyClick(button, ok ? Qt::Key_Space : Qt::Key_Return);
            QVERIFY(!dialog->isVisible());
        });
        h.click(qPrintable(field));
        QVERIFY(*ran);
        QCOMPARE(editorValues(h.session(), field), ok ? stored : before);
        if (!text.isEmpty()) QCOMPARE(h.text(qPrintable(field)), ok ? text : shown);
    }

    // The real message boxes the window uses outside the tests.
    void standardPrompts() {
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
            QCOMPARE(dialog->findChild<QLabel*>("eepromResult")->text(), QStringLiteral("NG"));
            auto* caption = dialog->findChild<QLabel*>("programLabel");
            QVERIFY(caption->width() >= caption->sizeHint().width());   // whatever the font, shown whole
            clickChild(dialog, "okButton");
        });
        prompts.verifyError(&parent, "OK", "NG", "OK");
        QVERIFY(*verify);
        // The calibration message offers the dialog, whose default is its Cancel; the box's own OK
        // gives nothing.
        for (const bool viaDialog : {true, false}) {
            auto box = whenModal<QMessageBox>([viaDialog](QMessageBox* b) {
                QCOMPARE(b->defaultButton(), b->button(QMessageBox::Ok));
                for (QAbstractButton* button : b->buttons())
                    if ((button->text() == QStringLiteral("校正値を指定(&C)...")) == viaDialog) button->click();
            });
            // The box's own OK opens no dialog: nothing may be left waiting for one.
            auto dialog = !viaDialog ? std::make_shared<bool>(false) : whenModal<CalibrationDialog>([](CalibrationDialog* d) {
                auto* edit = d->findChild<QLineEdit*>(QStringLiteral("wordEdit"));
                QVERIFY(d->findChild<QPushButton*>(QStringLiteral("cancelButton"))->isDefault());
                QCOMPARE(edit->text(), QStringLiteral("3478"));
                edit->setText(QStringLiteral("3FFF"));   // no RETLW: no way past OK
                QVERIFY(!d->findChild<QPushButton*>(QStringLiteral("okButton"))->isEnabled());
                edit->setText(QStringLiteral("34a0"));
                d->findChild<QSpinBox*>(QStringLiteral("bitsSpin"))->setValue(2);
                clickChild(d, "okButton");
            });
            const std::optional<CalibrationChoice> given =
                prompts.calibration(&parent, QStringLiteral("OSC"), CalibrationChoice{0x3478, 1});
            QVERIFY(*box);
            QCOMPARE(*dialog, viaDialog);
            QCOMPARE(given.has_value(), viaDialog);
            if (given) QCOMPARE((std::pair{given->word, given->bits}), (std::pair{uint16_t(0x34A0), 2}));
        }
    }

    void nothingStartsWhileAChainStarts_data() {
        QTest::addColumn<QString>("act");
        for (const char* act : {"testButton", "fileOpenButton", "fileSaveButton", "configWordField",
                                "userIdField", "deviceIdField", "close", "drop"})
            QTest::newRow(act) << act;
    }

    // Right after Read is clicked its start checks run on the worker while the controls are still
    // enabled: nothing may then open a dialog, reach the Programmer, change the file or close the
    // window. No event runs between the click and the act, so the chain is surely still on.
    void nothingStartsWhileAChainStarts() {
        QFETCH(QString, act);
        WindowHarness h("PIC16F877A", "PIC16F877A");
        QVERIFY(h.waitConnected());
        const QString file = h.temp.filePath(QStringLiteral("in.hex"));
        QVERIFY(writeHex(file, 8192, 256));
        h.nextPath = file;
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
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        if (act == QLatin1String("close")) {
            h.window->reject();
            h.window->accept();
            QTest::keyClick(h.window.get(), Qt::Key_Escape);
            h.window->close();
        } else if (act == QLatin1String("drop")) {
            QCoreApplication::sendEvent(h.window.get(), &enter);
            QVERIFY(!enter.isAccepted());
            QCoreApplication::sendEvent(h.window.get(), &drop);
        } else {
            h.click(qPrintable(act));
        }
        QVERIFY(h.window->isVisible());
        QVERIFY(h.waitChainEnd());
        QTest::qWait(50);   // the watch for a dialog has fired
        QVERIFY(!dialogOpened);
        QVERIFY(h.promptFolder.isNull());   // no file prompt asked
        QCOMPARE(dumpLines(h, "programDump").first(), kBlankLine);   // the chip is blank
        QVERIFY(h.messages.isEmpty());
    }

    // What the chains do is pinned against the session; here real clicks start them, and the
    // widgets and prompts show them.
    void fileOpenProgramVerifyReadAndSave() {
        WindowHarness h("PIC12F675", "PIC12F675");
        QVERIFY(h.waitConnected());
        // A drop goes the way of File Open, whatever the case of the suffix.
        const QString file = h.temp.filePath(QStringLiteral("IN.HEX"));
        QVERIFY(writeHex(file, 1024, 128));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.window.get(), &drop);
        QCOMPARE(dumpLines(h, "programDump").first(), kLoadedLine);
        // The chip has lost its calibration word: the window asks, and the answer is written.
        SimChipState chip = h.sim->chipState();
        const uint16_t factory = chip.factoryCalibrationWord;
        chip.programWords[0x3FF] = 0x3FFF;
        QVERIFY(h.sim->setChipState(chip));
        h.nextCalibration = CalibrationChoice{factory, chip.factoryCalibrationBits >> 12};
        h.click("programButton");
        QVERIFY(h.waitChainEnd());
        QCOMPARE(h.text("statusLine"), QStringLiteral("Program Verify - OK"));
        QCOMPARE(h.messages.size(), 1);
        chip = h.sim->chipState();
        QCOMPARE((std::pair{chip.programWords[0], chip.programWords[0x3FF]}), (std::pair{uint16_t(0x3000), factory}));

        // One EEPROM byte differs: the Verify Error dialog's three lines name it.
        chip.eepromBytes[5] = 0x42;
        chip.programWords[0] = 0x2805;
        QVERIFY(h.sim->setChipState(chip));
        h.click("verifyButton");
        QVERIFY(h.waitChainEnd());
        QCOMPARE(h.text("statusLine"), QStringLiteral("Program Verify - NG"));
        QCOMPARE(h.verifyErrors, (QList<QStringList>{QStringList{"NG", "NG", "OK"}}));

        // A cancelled open changes nothing; Read shows the chip; Save writes where the prompt said.
        h.nextPath.clear();
        h.click("fileOpenButton");
        QCOMPARE(dumpLines(h, "programDump").first(), kLoadedLine);
        h.click("readButton");
        QVERIFY(h.waitChainEnd());
        QCOMPARE(dumpLines(h, "programDump").first(), QStringLiteral("00000 : 2805 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "));
        h.nextPath = h.temp.filePath(QStringLiteral("ReadData.hex"));
        h.click("fileSaveButton");
        QVERIFY(QFile::exists(h.nextPath));   // what it holds is pinned against the session
        QCOMPARE(h.messages.size(), 1);
        QCOMPARE(h.promptFolder, h.temp.path());   // where the drop came from
    }

    void dropsOfAnythingButOneHexFile_data() {
        QTest::addColumn<QStringList>("urls");   // none: a text is dropped
        QTest::newRow("not a .hex file") << QStringList{"file:///tmp/in.txt"};
        QTest::newRow("two files") << QStringList{"file:///tmp/in.hex", "file:///tmp/IN.HEX"};
        QTest::newRow("not a local file") << QStringList{"http://example.org/in.hex"};
        QTest::newRow("no file at all") << QStringList();
    }

    // Refused as soon as it comes over the window; dropped anyway, it changes nothing.
    void dropsOfAnythingButOneHexFile() {
        QFETCH(QStringList, urls);
        WindowHarness h("PIC16F628A");
        QMimeData data;
        data.setText(QStringLiteral("in.hex"));
        data.setUrls(QUrl::fromStringList(urls));
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.window.get(), &enter);
        QVERIFY(!enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(h.window.get(), &drop);
        QVERIFY(h.messages.isEmpty());
        h.click("fileOpenButton");
        QVERIFY(h.promptFolder.isEmpty());   // the open prompt still starts nowhere in particular
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
