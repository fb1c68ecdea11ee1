#include "WindowHarness.h"

#include "device/MemoryImage.h"
#include "dialogs/VerifyErrorDialog.h"

#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>

#include <chrono>
#include <thread>

namespace {

// What the window shows each time the session sets the controls: status line, Program
// button's label, whether it is enabled, whether the other controls are.
class ControlsRecorder {
public:
    explicit ControlsRecorder(WindowHarness& h) : h_(h) {
        QObject::connect(h.window.get(), &MainWindow::controlsChanged, h.window.get(), [this] {
            steps.append(QStringLiteral("%1|%2|%3|%4")
                             .arg(h_.text("statusLine"), h_.text("programButton"))
                             .arg(h_.child<QWidget>("programButton")->isEnabled())
                             .arg(h_.child<QWidget>("readButton")->isEnabled()));
        });
    }
    QStringList steps;

private:
    WindowHarness& h_;
};

QString line(const QString& status, const QString& label, bool program, bool others) {
    return QStringLiteral("%1|%2|%3|%4").arg(status, label).arg(program).arg(others);
}

const QString kWrite = QStringLiteral("Program / EEPROM Write");
const QString kVerify = QStringLiteral("Program / EEPROM Verify");
const QString kRead = QStringLiteral("Program / EEPROM Read");
const QString kErase = QStringLiteral("Program / EEPROM Erase");
const QString kCalRead = QStringLiteral("OSC Calibration Data Read");
const QString kCalWrite = QStringLiteral("OSC Calibration Data Write");
const QString kOk = QStringLiteral("Program Verify - OK");
const QString kNotConnected = QStringLiteral("KVNライターが未接続です");

}  // namespace

class ChainTest : public QObject {
    Q_OBJECT
private slots:
    void chainThroughClicks_data();
    void chainThroughClicks();
    void eraseKeepsCalibration();
    void verifyErrorOnEepromMismatch();
    void cancelDuringWrite();
    void unplugDuringWrite();
    void programWithoutProgrammer();
    void fileOpenProgramVerify();
    void readThenSave();
    void standardPrompts();
};

void ChainTest::chainThroughClicks_data() {
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("Program, no calibration word")
        << "PIC16F877A" << "programButton"
        << QStringList{line(kWrite, "Cancel", true, false), line(kVerify, "Program", false, false),
                       line(kOk, "Program", true, true)};
    QTest::newRow("Program, calibration word")
        << "PIC12F675" << "programButton"
        << QStringList{line(kCalRead, "Cancel", true, false), line(kWrite, "Program", false, false),
                       line(kVerify, "Program", false, false), line(kOk, "Program", true, true)};
    QTest::newRow("Erase, calibration word")
        << "PIC12F629" << "eraseButton"
        << QStringList{line(kCalRead, "Program", false, false), line(kErase, "Program", false, false),
                       line(kCalWrite, "Program", false, false), line(kCalWrite, "Program", true, true)};
    QTest::newRow("Erase, no calibration word")
        << "PIC16F628A" << "eraseButton"
        << QStringList{line(kErase, "Program", false, false), line(kErase, "Program", true, true)};
    QTest::newRow("Read") << "PIC16F84A" << "readButton"
                          << QStringList{line(kRead, "Program", false, false), line(kRead, "Program", true, true)};
    QTest::newRow("Verify of a blank chip")
        << "PIC16F628A" << "verifyButton"
        << QStringList{line(kVerify, "Program", false, false), line(kOk, "Program", true, true)};
}

void ChainTest::chainThroughClicks() {
    QFETCH(QString, device);
    QFETCH(QString, button);
    QFETCH(QStringList, steps);
    WindowHarness h(device.toStdString(), device.toStdString());
    QVERIFY(h.waitConnected());
    ControlsRecorder recorder(h);
    h.click(qPrintable(button));
    QVERIFY(h.waitChainEnd());
    QCOMPARE(recorder.steps, steps);
    QVERIFY(h.messages.isEmpty());
    QVERIFY(h.verifyErrors.isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    if (button == QLatin1String("programButton")) {
        // The chip now holds what the image held, the factory calibration included.
        const SimChipState chip = h.sim->chipState();
        const auto& words = h.session().image.programWords;
        for (std::size_t i = 0; i < h.session().image.programWordCount; ++i)
            QCOMPARE(chip.programWords[i], words[i]);
    }
}

void ChainTest::eraseKeepsCalibration() {
    WindowHarness h("PIC12F675", "PIC12F675");
    QVERIFY(h.waitConnected());
    const SimChipState before = h.sim->chipState();
    h.click("eraseButton");
    QVERIFY(h.waitChainEnd());
    const SimChipState after = h.sim->chipState();
    QCOMPARE(after.programWords[0x3FF], before.factoryCalibrationWord);
    QCOMPARE(uint16_t(after.configWord & 0x3000), before.factoryCalibrationBits);
    QCOMPARE(h.session().image.programWords[0x3FF], before.factoryCalibrationWord);
}

void ChainTest::verifyErrorOnEepromMismatch() {
    WindowHarness h("PIC16F628A", "PIC16F628A");
    QVERIFY(h.waitConnected());
    h.click("programButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);

    SimChipState chip = h.sim->chipState();
    chip.eepromBytes[5] = 0x42;
    QVERIFY(h.sim->setChipState(chip));
    h.click("verifyButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), QStringLiteral("Program Verify - NG"));
    QCOMPARE(h.verifyErrors, (QList<QStringList>{QStringList{"OK", "NG", "OK"}}));
    QVERIFY(h.child<QWidget>("readButton")->isEnabled());
}

void ChainTest::cancelDuringWrite() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    ControlsRecorder recorder(h);
    // No event runs between the two clicks (QAbstractButton::click() runs none), so no tick
    // can move the chain past its write step before "Cancel" is clicked. The wait lets the
    // worker get past its start, where the write operation clears any earlier request.
    auto* program = h.child<QPushButton>("programButton");
    program->click();
    QCOMPARE(program->text(), QStringLiteral("Cancel"));
    QDeadlineTimer deadline(10000);
    while (h.session().programmer.busy.load() != 0 && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    program->click();
    QVERIFY(h.waitChainEnd());
    QCOMPARE(recorder.steps, (QStringList{line(kWrite, "Cancel", true, false),
                                          line(kWrite, "Program", true, true)}));
    QTest::qWait(50);
    QCOMPARE(h.text("statusLine"), kWrite);
    QVERIFY(h.verifyErrors.isEmpty());
    QVERIFY(h.messages.isEmpty());

    // The next Program runs normally.
    h.click("programButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);
}

void ChainTest::unplugDuringWrite() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());
    SimFaults faults;
    faults.unplugAfter = static_cast<int64_t>(h.sim->exchangeCount()) + 20;
    h.sim->setFaults(faults);
    h.click("programButton");
    QVERIFY(h.waitChainEnd());
    QTest::qWait(100);   // later ticks add nothing
    QCOMPARE(h.messages, QStringList{kNotConnected});
    QCOMPARE(h.text("statusLine"), QStringLiteral("Korvalin Non Connect"));
    QCOMPARE(h.text("programButton"), QStringLiteral("Program"));
    for (const char* name : {"programButton", "readButton", "okButton", "cancelButton", "deviceList", "testButton"})
        QVERIFY2(h.child<QWidget>(name)->isEnabled(), name);
    QVERIFY(h.verifyErrors.isEmpty());
}

void ChainTest::programWithoutProgrammer() {
    SimConfig unplugged;
    unplugged.plugged = false;
    WindowHarness h("PIC16F877A", "PIC16F877A", unplugged);
    QTest::qWait(30);
    for (const char* name : {"programButton", "eraseButton", "readButton", "verifyButton"}) {
        h.messages.clear();
        h.click(name);
        QCOMPARE(h.messages, QStringList{kNotConnected});
        QVERIFY(!h.session().chainRunning());
        QCOMPARE(h.text("programButton"), QStringLiteral("Program"));
    }
}

void ChainTest::fileOpenProgramVerify() {
    WindowHarness h("PIC16F877A", "PIC16F877A");
    QVERIFY(h.waitConnected());

    MemoryImage file;
    file.resize(8192, 0x3FFF, 256);
    for (uint32_t i = 0; i < 64; ++i) file.programWords[i] = static_cast<uint16_t>(0x3000 + i);
    file.programWords[8191] = 0x2ABC;
    file.eepromBytes[0] = 0xA5;
    file.userId = 0x1234;
    file.configWord = 0x3F3A;
    const QString path = h.temp.filePath(QStringLiteral("in.hex"));
    QVERIFY(file.saveHex(path.toStdString(), true, 0x3FFF));

    h.nextOpenPath = path;
    h.click("fileOpenButton");
    QCOMPARE(h.openPrompts, 1);
    const QStringList dump = h.child<QPlainTextEdit>("programDump")->toPlainText().split('\n');
    QCOMPARE(dump.first(), QStringLiteral("00000 : 3000 3001 3002 3003 3004 3005 3006 3007 "));
    QCOMPARE(h.text("deviceIdField"), QStringLiteral("----"));
    QCOMPARE(h.text("userIdField"), QStringLiteral("1234"));
    QCOMPARE(h.text("configWordField"), QStringLiteral("2F0A"));   // bits tagged [x] dropped

    h.click("programButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);
    QVERIFY2(h.text("deviceIdField").startsWith(QLatin1String("0E2")), qPrintable(h.text("deviceIdField")));
    const SimChipState chip = h.sim->chipState();
    QCOMPARE(chip.programWords[0x3F], uint16_t(0x303F));
    QCOMPARE(chip.programWords[8191], uint16_t(0x2ABC));
    QCOMPARE(chip.eepromBytes[0], uint8_t(0xA5));
    QCOMPARE(chip.configWord, uint16_t(0x2F0A));

    h.click("verifyButton");
    QVERIFY(h.waitChainEnd());
    QCOMPARE(h.text("statusLine"), kOk);
    QVERIFY(h.verifyErrors.isEmpty());

    // A cancelled open changes nothing.
    h.nextOpenPath.clear();
    h.click("fileOpenButton");
    QCOMPARE(h.child<QPlainTextEdit>("programDump")->toPlainText().split('\n').first(), dump.first());
}

void ChainTest::readThenSave() {
    WindowHarness h("PIC16F628A", "PIC16F628A");
    QVERIFY(h.waitConnected());
    SimChipState chip = h.sim->chipState();
    chip.programWords[0] = 0x2805;
    chip.programWords[0x7F9] = 0x0123;
    chip.eepromBytes[1] = 0x5A;
    QVERIFY(h.sim->setChipState(chip));

    h.click("readButton");
    QVERIFY(h.waitChainEnd());
    const QStringList dump = h.child<QPlainTextEdit>("programDump")->toPlainText().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(dump.first(), QStringLiteral("00000 : 2805 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "));
    QCOMPARE(dump.last(), QStringLiteral("007F8 : 3FFF 0123 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "));
    QVERIFY(!QGuiApplication::overrideCursor());

    h.nextSavePath = h.temp.filePath(QStringLiteral("ReadData.hex"));
    h.click("fileSaveButton");
    QCOMPARE(h.savePrompts, 1);
    MemoryImage saved;
    saved.resize(2048, 0x3FFF, 128);
    QVERIFY(saved.loadHex(h.nextSavePath.toStdString()));
    QCOMPARE(saved.programWords[0], uint16_t(0x2805));
    QCOMPARE(saved.programWords[0x7F9], uint16_t(0x0123));
    QCOMPARE(saved.eepromBytes[1], uint16_t(0x5A));
    QFile text(h.nextSavePath);
    QVERIFY(text.open(QIODevice::ReadOnly));
    // Blank lines of program words are left out: far fewer records than 256 lines of eight.
    QVERIFY(text.readAll().count('\n') < 40);

    // A cancelled save writes nothing.
    QVERIFY(QFile::remove(h.nextSavePath));
    const QString kept = h.nextSavePath;
    h.nextSavePath.clear();
    h.click("fileSaveButton");
    QVERIFY(!QFile::exists(kept));
    QVERIFY(h.messages.isEmpty());
}

void ChainTest::standardPrompts() {
    const WindowPrompts prompts = WindowPrompts::standard();
    QWidget parent;
    auto message = whenModal<QMessageBox>([](QMessageBox* box) {
        QCOMPARE(box->windowTitle(), QStringLiteral("KorvalinLoader"));
        QCOMPARE(box->text(), QStringLiteral("ファイルを開けませんでした。"));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->buttons().size(), 1);
        QCOMPARE(box->standardButton(box->buttons().first()), QMessageBox::Ok);
        box->buttons().first()->click();
    });
    prompts.message(&parent, QStringLiteral("ファイルを開けませんでした。"));
    QVERIFY(*message);

    auto verify = whenModal<VerifyErrorDialog>([](VerifyErrorDialog* dialog) {
        QCOMPARE(dialog->findChild<QLabel*>("programResult")->text(), QStringLiteral("OK"));
        QCOMPARE(dialog->findChild<QLabel*>("eepromResult")->text(), QStringLiteral("NG"));
        QCOMPARE(dialog->findChild<QLabel*>("configResult")->text(), QStringLiteral("OK"));
        dialog->accept();
    });
    prompts.verifyError(&parent, "OK", "NG", "OK");
    QVERIFY(*verify);
}

QTEST_MAIN(ChainTest)
#include "ChainTest.moc"
