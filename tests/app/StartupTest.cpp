// SPDX-License-Identifier: MIT
#include "WindowHarness.h"

#include "device/MemoryImage.h"
#include "operations/Texts.h"
#ifdef KORVALIN_HAVE_USB
#include "dialogs/UsbSetupDialog.h"
#endif

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProcess>

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        qunsetenv("KORVALIN_SIM");
        qunsetenv("KORVALIN_LANG");
        setLanguage(Language::Japanese);
    }
    void restoresAndWritesBackOnce_data();
    void restoresAndWritesBackOnce();
    void fileFromTheCommandLine_data();
    void fileFromTheCommandLine();
    void driverProblemsAtStart_data();
    void driverProblemsAtStart();
    void languageAtStart_data();
    void languageAtStart();
#ifdef KORVALIN_HAVE_USB
    void usbSetupLeftWithoutAChoice();
#endif
    void theProgramEndsCleanlyOnSigterm();

private:
    StartupRig rig_;
};

void StartupTest::restoresAndWritesBackOnce_data() {
    QTest::addColumn<QStringList>("remembered");   // as far as given; empty: first run
    QTest::addColumn<QString>("pick");             // device picked in the list while open
    QTest::addColumn<QString>("closeWith");        // "": the catalogue is missing
    QTest::addColumn<QString>("selected");         // "": the template's captions
    QTest::addColumn<QStringList>("after");
    const QStringList seeded{"PIC16F877A", "1", "0", "5"};
    QTest::newRow("first run") << QStringList() << "" << "cancelButton" << "PIC16F628"
                               << QStringList{"PIC16F628", "0", "0", "0"};
    QTest::newRow("unchanged, options kept as stored")
        << seeded << "" << "okButton" << "PIC16F877A" << seeded;
    QTest::newRow("another device, left with Cancel") << seeded << "PIC16F84A" << "cancelButton"
        << "PIC16F877A" << QStringList{"PIC16F84A", "1", "0", "5"};
    QTest::newRow("remembered name not in the list") << QStringList{"PIC99X999"} << ""
        << "cancelButton" << "" << QStringList{"PIC99X999", "0", "0", "0"};
    QTest::newRow("catalogue missing: closed, still written") << QStringList{"PIC16F877A", "0", "3"}
        << "" << "" << "" << QStringList{"PIC16F877A", "0", "3", "0"};
}

void StartupTest::restoresAndWritesBackOnce() {
    QFETCH(QStringList, remembered);
    QFETCH(QString, pick);
    QFETCH(QString, closeWith);
    QFETCH(QString, selected);
    QFETCH(QStringList, after);
    rig_.seed(remembered);
    const QStringList before = rig_.stored();
    QSettings store(rig_.storePath, QSettings::IniFormat);
    Application app(store);
    rig_.prepare(app);
    if (closeWith.isEmpty()) {
        app.catalogPath.clear();
        app.catalogueDirs = {rig_.dir.filePath(QStringLiteral("nowhere")).toStdString()};
    }
    bool ran = false;
    app.beforeRun = [&](MainWindow& window) {
        // Queued first: a failed check below returns early and must not leave the window open.
        QTimer::singleShot(0, &window, [&window, closeWith] {
            QTest::mouseClick(window.findChild<QPushButton*>(closeWith), Qt::LeftButton);
        });
        Session& session = window.session();
        auto* list = window.findChild<QComboBox*>("deviceList");
        QCOMPARE(list->currentText(), selected);
        if (selected.isEmpty()) {
            QCOMPARE(window.findChild<QGroupBox*>("programGroup")->title(), QStringLiteral("Program Memorys"));
            QCOMPARE(window.findChild<QGroupBox*>("eepromGroup")->title(), QStringLiteral("EEPROM Memorys"));
        }
        QCOMPARE((QList<int>{session.protectOff, session.userIdOff, session.skipDeviceIdCheck}),
                 (QList<int>{after[1].toInt(), after[2].toInt(), after[3].toInt()}));
        if (!pick.isEmpty()) list->setCurrentIndex(list->findText(pick));
        QCOMPARE(rig_.stored(), before);   // nothing is written while the window is open
        ran = true;
    };
    QCOMPARE(app.run(), 0);
    QCOMPARE(ran, !closeWith.isEmpty());
    const QString missing = QStringLiteral("デバイス リストファイルが見つかりません。");
    QCOMPARE(rig_.messages, closeWith.isEmpty() ? QStringList{missing} : QStringList());
    QCOMPARE(rig_.stored(), after);
}

void StartupTest::driverProblemsAtStart_data() {
    QTest::addColumn<QByteArray>("sim");       // KORVALIN_SIM; empty: the real programmer
    QTest::addColumn<QString>("message");      // part of the one box shown; empty: no box
    QTest::newRow("setup not understood") << QByteArray("PIC16F877A,no-such-key=1") << "no-such-key";
    QTest::newRow("no programmer chosen yet") << QByteArray() << "";
}

// The window runs either way; only a real fault is worth a box at start. A programmer not yet
// chosen reads as none plugged in, and the USB setup is there to choose one.
void StartupTest::driverProblemsAtStart() {
    QFETCH(QByteArray, sim);
    QFETCH(QString, message);
    if (!sim.isEmpty()) qputenv("KORVALIN_SIM", sim);
    qunsetenv("KORVALIN_USB_ID");
    rig_.seed({});
    QSettings store(rig_.storePath, QSettings::IniFormat);
    Application app(store);
    rig_.prepare(app);
    app.driver = nullptr;   // the driver the environment and the store ask for
    QString status;
    bool setupOffered = false;
    app.beforeRun = [&](MainWindow& window) {
        setupOffered = window.usbSetupAction()->isEnabled() &&
                       window.actions().contains(window.usbSetupAction()) &&
                       window.usbSetupAction()->text() == QStringLiteral("USB の設定(&U)...");
        QTimer::singleShot(0, &window, [&window, &status, &message] {
            // Until the first tick has said it; a refused driver never ticks.
            (void)QTest::qWaitFor([&] {   // the checks below tell what went wrong
                status = window.findChild<QLabel*>("statusLine")->text();
                return !message.isEmpty() || status == QStringLiteral("Korvalin Non Connect");
            }, 10000);
            window.reject();
        });
    };
    QCOMPARE(app.run(), 0);
    if (message.isEmpty()) {
        QCOMPARE(rig_.messages, QStringList());
        QCOMPARE(status, QStringLiteral("Korvalin Non Connect"));
        QVERIFY(setupOffered);
    } else {
        QCOMPARE(rig_.messages.size(), 1);
        QVERIFY2(rig_.messages.first().contains(message), qPrintable(rig_.messages.first()));
    }
}

void StartupTest::fileFromTheCommandLine_data() {
    QTest::addColumn<QString>("file");          // named on the command line; "": none
    QTest::addColumn<QString>("keptFolder");    // the folder remembered from an earlier run
    QTest::addColumn<QString>("firstLine");     // of the program dump once the window runs
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QString>("folderAfter");   // remembered at the end; "here": the test's
    const QString loaded = QStringLiteral("00000 : 3000 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
    const QString blank = QStringLiteral("00000 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
    QTest::newRow("a HEX file, opened with the remembered device")
        << "in.hex" << "/usr" << loaded << QStringList() << "here";
    QTest::newRow("a missing file: File Open's message")
        << "gone.hex" << "" << blank << QStringList{"ファイルを開けませんでした。"} << "here";
    QTest::newRow("none: the folder of an earlier run is kept") << "" << "/usr" << blank
        << QStringList() << "/usr";
    QTest::newRow("none, no folder yet: none written") << "" << "" << blank << QStringList() << "";
}

// The command line's file is opened the File Open way once the window runs with the remembered
// device; the folder the dialogs start in lives apart from the four remembered values.
void StartupTest::fileFromTheCommandLine() {
    QFETCH(QString, file);
    QFETCH(QString, keptFolder);
    QFETCH(QString, firstLine);
    QFETCH(QStringList, messages);
    QFETCH(QString, folderAfter);
    const QString folderKey = QStringLiteral("Settings/Files/LastFolder");
    const QStringList device{"PIC16F84A", "1", "0", "5"};
    rig_.seed(device, keptFolder.isEmpty() ? QList<std::pair<QString, QString>>() : QList{std::pair{folderKey, keptFolder}});
    MemoryImage image;
    image.resize(1024, 0x3FFF, 64);
    image.programWords[0] = 0x3000;
    QVERIFY(image.saveHex(rig_.dir.filePath(QStringLiteral("in.hex")).toStdString(), true, 0x3FFF));

    QSettings store(rig_.storePath, QSettings::IniFormat);
    Application app(store);
    rig_.prepare(app);
    if (!file.isEmpty()) app.fileToOpen = rig_.dir.filePath(file);
    QString shown;
    QString promptFolder = QStringLiteral("not asked");
    app.prompts.openFile = [&](QWidget*, const QString& folder) {
        promptFolder = folder;
        return QString();
    };
    app.beforeRun = [&](MainWindow& window) {
        QTimer::singleShot(0, &window, [&] {
            shown = window.findChild<QPlainTextEdit*>("programDump")->toPlainText().section(QLatin1Char('\n'), 0, 0);
            QTest::mouseClick(window.findChild<QPushButton*>("fileOpenButton"), Qt::LeftButton);
            window.reject();
        });
    };
    QCOMPARE(app.run(), 0);
    QCOMPARE(shown, firstLine);
    QCOMPARE(rig_.messages, messages);
    const QString expected = folderAfter == QLatin1String("here") ? rig_.dir.path() : folderAfter;
    QCOMPARE(promptFolder, expected);
    QCOMPARE(rig_.stored(), device);
    QSettings after(rig_.storePath, QSettings::IniFormat);
    QCOMPARE(after.value(folderKey).toString(), expected);
    QCOMPARE(after.contains(folderKey), !expected.isEmpty());
}

void StartupTest::languageAtStart_data() {
    QTest::addColumn<QString>("stored");       // Settings/Language; "": absent
    QTest::addColumn<QByteArray>("environment");
    QTest::addColumn<bool>("switchInWindow");
    QTest::addColumn<QString>("cancelLabel");
    QTest::addColumn<QString>("storedAfter");
    QTest::newRow("default") << "" << QByteArray() << false << "ｷｬﾝｾﾙ" << "";
    QTest::newRow("stored English") << "en" << QByteArray() << false << "Cancel" << "en";
    QTest::newRow("KORVALIN_LANG wins") << "en" << QByteArray("ja") << false << "ｷｬﾝｾﾙ" << "en";
    QTest::newRow("KORVALIN_LANG for this run only")
        << "" << QByteArray("en") << false << "Cancel" << "";
    QTest::newRow("unknown names passed over") << "fr" << QByteArray("EN") << false << "ｷｬﾝｾﾙ" << "fr";
    QTest::newRow("switched: from the next start") << "" << QByteArray() << true << "ｷｬﾝｾﾙ" << "en";
    QTest::newRow("switched back") << "en" << QByteArray() << true << "Cancel" << "ja";
}

void StartupTest::languageAtStart() {
    QFETCH(QString, stored);
    QFETCH(QByteArray, environment);
    QFETCH(bool, switchInWindow);
    QFETCH(QString, cancelLabel);
    QFETCH(QString, storedAfter);
    const QString key = QStringLiteral("Settings/Language");
    rig_.seed({}, stored.isEmpty() ? QList<std::pair<QString, QString>>() : QList{std::pair{key, stored}});
    if (!environment.isEmpty()) qputenv("KORVALIN_LANG", environment);
    QSettings store(rig_.storePath, QSettings::IniFormat);
    Application app(store);
    rig_.prepare(app);
    const bool english = cancelLabel == QStringLiteral("Cancel");
    bool ran = false;
    app.beforeRun = [&](MainWindow& window) {
        QCOMPARE(window.findChild<QPushButton*>("cancelButton")->text(), cancelLabel);
        QCOMPARE(window.aboutAction()->text(), english ? QStringLiteral("&About KVN...")
                                                       : QStringLiteral("KVN のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
        QCOMPARE(window.languageAction()->isChecked(), english);
        if (switchInWindow) {
            window.languageAction()->trigger();
            QCOMPARE(window.findChild<QLabel*>("statusLine")->text(),
                     QString::fromUtf8(texts::languageAppliesAtNextStart));
        }
        ran = true;
        QTimer::singleShot(0, &window, [&window] { window.reject(); });
    };
    QCOMPARE(app.run(), 0);
    QVERIFY(ran);
    QCOMPARE(QSettings(rig_.storePath, QSettings::IniFormat).value(key).toString(), storedAfter);
}

#ifdef KORVALIN_HAVE_USB
// The USB setup from the window's menu lists what the bus has (in a test, whatever that is);
// a stored choice that is no USB ID reads as none, and leaving without a choice stores nothing.
void StartupTest::usbSetupLeftWithoutAChoice() {
    const QString vendorKey = QStringLiteral("Settings/Usb/VendorId");
    rig_.seed({"PIC16F84A"});
    QSettings store(rig_.storePath, QSettings::IniFormat);
    Application app(store);
    rig_.prepare(app);
    bool shown = false;
    app.beforeRun = [&](MainWindow& window) {
        QTimer::singleShot(0, &window, [&] {
            auto ran = whenModal<UsbSetupDialog>([](UsbSetupDialog* dialog) {
                QTest::mouseClick(dialog->findChild<QPushButton*>("refreshButton"), Qt::LeftButton);
                QTest::mouseClick(dialog->findChild<QPushButton*>("closeButton"), Qt::LeftButton);
            });
            window.usbSetupAction()->trigger();
            shown = *ran;
            window.reject();
        });
    };
    QCOMPARE(app.run(), 0);
    QVERIFY(shown);
    QCOMPARE(rig_.stored().first(), QStringLiteral("PIC16F84A"));
    QVERIFY(!QSettings(rig_.storePath, QSettings::IniFormat).contains(vendorKey));
}
#endif

// The real executable, started as a user would start it on the simulated programmer, with its
// store in a temporary XDG_CONFIG_HOME, and ended as a session manager does, with SIGTERM: it
// closes as its close box closes it and writes the remembered values back.
void StartupTest::theProgramEndsCleanlyOnSigterm() {
    const QString storePath = rig_.dir.filePath(QStringLiteral("Tessmark/KorvalinLoader.conf"));
    QSettings(storePath, QSettings::IniFormat).setValue(QStringLiteral("Settings/Device/PIC"), QStringLiteral("PIC16F877A"));
    const QString tracePath = rig_.dir.filePath(QStringLiteral("trace.txt"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), rig_.dir.path());
    environment.insert(QStringLiteral("KORVALIN_SIM"), QStringLiteral("PIC16F877A"));
    environment.insert(QStringLiteral("KORVALIN_TRACE"), tracePath);
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/KorvalinLoader"));
    QVERIFY(process.waitForStarted());
    // It attached to the simulated programmer: the identity and clock queries are in the trace.
    QFile trace(tracePath);
    QVERIFY2(QTest::qWaitFor([&] {
                 return trace.open(QIODevice::ReadOnly) && (trace.readAll().contains("W ") || (trace.close(), false));
             }, 60000),
             "the window never attached to the simulated programmer");
    process.terminate();
    QVERIFY2(process.waitForFinished(60000), "the window did not close on SIGTERM");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    QSettings store(storePath, QSettings::IniFormat);
    QCOMPARE(store.value(QStringLiteral("Settings/Device/PIC")).toString(), QStringLiteral("PIC16F877A"));
    for (const char* option : {"Protect", "UserID", "DeviceID"})
        QCOMPARE(store.value(QStringLiteral("Settings/Device/") + option).toString(), QStringLiteral("0"));
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
