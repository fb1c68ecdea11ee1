// SPDX-License-Identifier: MIT
#include "WindowHarness.h"

#include "operations/Texts.h"

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

    void rememberedValuesAndTheFile_data() {
        QTest::addColumn<QStringList>("remembered");   // the device values as far as given
        QTest::addColumn<QString>("folder");           // the folder the dialogs start in
        QTest::addColumn<QString>("file");             // named on the command line; "": none
        QTest::addColumn<QString>("pick");             // device picked in the list while open
        QTest::addColumn<QStringList>("shown");        // selection, program caption, first dump line
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("after");        // the device values and the folder; "here": the test's
        const QString blank = QStringLiteral("00000 : 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF ");
        const QString words1k = QStringLiteral("Program Memorys = 1024");
        const QStringList options{"1", "0", "5"};
        QTest::newRow("first run") << QStringList() << "absent" << "" << ""
            << QStringList{"PIC16F628", "Program Memorys = 2048", blank} << QStringList()
            << QStringList{"PIC16F628", "0", "0", "0", "absent"};
        QTest::newRow("a HEX file, opened with the remembered device")
            << QStringList{"PIC16F84A"} + options << "/usr" << "in.hex" << ""
            << QStringList{"PIC16F84A", words1k, "00000 : 3000 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF 3FFF "}
            << QStringList() << QStringList{"PIC16F84A"} + options + QStringList{"here"};
        QTest::newRow("a missing file: File Open's message") << QStringList{"PIC16F84A"} << "absent"
            << "gone.hex" << "" << QStringList{"PIC16F84A", words1k, blank}
            << QStringList{"ファイルを開けませんでした。"} << QStringList{"PIC16F84A", "0", "0", "0", "here"};
        QTest::newRow("another device picked, the folder kept")
            << QStringList{"PIC16F877A"} + options << "/usr" << "" << "PIC16F84A"
            << QStringList{"PIC16F877A", "Program Memorys = 8192", blank} << QStringList()
            << QStringList{"PIC16F84A"} + options + QStringList{"/usr"};
        QTest::newRow("remembered name not in the list") << QStringList{"PIC99X999"} << "absent" << "" << ""
            << QStringList{"", "Program Memorys", ""} << QStringList()
            << QStringList{"PIC99X999", "0", "0", "0", "absent"};
        QTest::newRow("catalogue missing: closed, still written")
            << QStringList{"PIC16F877A", "0", "3"} << "absent" << "" << "" << QStringList()
            << QStringList{"デバイス リストファイルが見つかりません。"}
            << QStringList{"PIC16F877A", "0", "3", "0", "absent"};
    }

    // The remembered values are restored and written back once, at the end; the command line's
    // file is opened the File Open way once the window runs; the folder the dialogs start in
    // lives apart from the device values.
    void rememberedValuesAndTheFile() {
        QFETCH(QStringList, remembered);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QString, pick);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, after);
        const QString folderKey = QStringLiteral("Settings/Files/LastFolder");
        Application& app = rig_.seed(remembered, {{folderKey, folder}});
        QVERIFY(writeHex(rig_.dir.filePath(QStringLiteral("in.hex")), 1024, 64));
        if (!file.isEmpty()) app.fileToOpen = rig_.dir.filePath(file);
        if (shown.isEmpty()) {
            app.catalogPath.clear();
            app.catalogueDirs = {rig_.dir.filePath(QStringLiteral("nowhere")).toStdString()};
        }
        if (after[4] == QLatin1String("here")) after[4] = rig_.dir.path();
        const QStringList before = rig_.stored();
        QStringList seen;
        QString promptFolder;
        app.prompts.openFile = [&](QWidget*, const QString& start) {
            promptFolder = start;
            return QString();
        };
        QCOMPARE(rig_.run([&](MainWindow& window) {
            auto* list = window.findChild<QComboBox*>("deviceList");
            seen = QStringList{list->currentText(), window.findChild<QGroupBox*>("programGroup")->title(),
                               window.findChild<QPlainTextEdit*>("programDump")->toPlainText().section(QLatin1Char('\n'), 0, 0)};
            const Session& session = window.session();
            QCOMPARE((QList<int>{session.protectOff, session.userIdOff, session.skipDeviceIdCheck}),
                     (QList<int>{after[1].toInt(), after[2].toInt(), after[3].toInt()}));
            if (!pick.isEmpty()) list->setCurrentIndex(list->findText(pick));
            QCOMPARE(rig_.stored(), before);   // nothing is written while the window is open
            QTest::mouseClick(window.findChild<QPushButton*>("fileOpenButton"), Qt::LeftButton);
            QCOMPARE(promptFolder, after[4] == QLatin1String("absent") ? QString() : after[4]);
        }), 0);
        QCOMPARE(seen, shown);
        QCOMPARE(rig_.messages, messages);
        QCOMPARE(rig_.stored() << rig_.value(folderKey), after);
    }

    void driverProblemsAtStart_data() {
        QTest::addColumn<QByteArray>("sim");       // KORVALIN_SIM; empty: the real programmer
        QTest::addColumn<QString>("message");      // part of the one box shown; empty: no box
        QTest::newRow("setup not understood") << QByteArray("PIC16F877A,no-such-key=1") << "no-such-key";
        QTest::newRow("no programmer chosen yet") << QByteArray() << "";
    }

    // The window runs either way; only a real fault is worth a box at start. A programmer not yet
    // chosen reads as none plugged in, and the USB setup is there to choose one.
    void driverProblemsAtStart() {
        QFETCH(QByteArray, sim);
        QFETCH(QString, message);
        if (!sim.isEmpty()) qputenv("KORVALIN_SIM", sim);
        qunsetenv("KORVALIN_USB_ID");
        rig_.seed({}).driver = nullptr;   // the driver the environment and the store ask for
        QString status;
        bool setupOffered = false;
        QCOMPARE(rig_.run([&](MainWindow& window) {
            setupOffered = window.usbSetupAction()->isEnabled() && window.actions().contains(window.usbSetupAction());
            // Until the first tick has said it; a refused driver never ticks.
            (void)QTest::qWaitFor([&] {   // the checks below tell what went wrong
                status = window.findChild<QLabel*>("statusLine")->text();
                return !message.isEmpty() || status == QStringLiteral("Korvalin Non Connect");
            }, 10000);
        }), 0);
        if (message.isEmpty()) {
            QCOMPARE(rig_.messages, QStringList());
            QCOMPARE(status, QStringLiteral("Korvalin Non Connect"));
            QVERIFY(setupOffered);
        } else {
            QCOMPARE(rig_.messages.size(), 1);
            QVERIFY2(rig_.messages.first().contains(message), qPrintable(rig_.messages.first()));
        }
    }

    void languageAtStart_data() {
        QTest::addColumn<QString>("stored");       // Settings/Language; "absent"
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<bool>("switchInWindow");
        QTest::addColumn<QString>("cancelLabel");
        QTest::addColumn<QString>("storedAfter");
        QTest::newRow("default") << "absent" << QByteArray() << false << "ｷｬﾝｾﾙ" << "absent";
        QTest::newRow("stored English") << "en" << QByteArray() << false << "Cancel" << "en";
        QTest::newRow("KORVALIN_LANG wins") << "en" << QByteArray("ja") << false << "ｷｬﾝｾﾙ" << "en";
        QTest::newRow("KORVALIN_LANG for this run only")
            << "absent" << QByteArray("en") << false << "Cancel" << "absent";
        QTest::newRow("unknown names passed over") << "fr" << QByteArray("EN") << false << "ｷｬﾝｾﾙ" << "fr";
        QTest::newRow("switched: from the next start") << "absent" << QByteArray() << true << "ｷｬﾝｾﾙ" << "en";
        QTest::newRow("switched back") << "en" << QByteArray() << true << "Cancel" << "ja";
    }

    void languageAtStart() {
        QFETCH(QString, stored);
        QFETCH(QByteArray, environment);
        QFETCH(bool, switchInWindow);
        QFETCH(QString, cancelLabel);
        QFETCH(QString, storedAfter);
        const QString key = QStringLiteral("Settings/Language");
        rig_.seed({}, {{key, stored}});
        if (!environment.isEmpty()) qputenv("KORVALIN_LANG", environment);
        const bool english = cancelLabel == QStringLiteral("Cancel");
        bool ran = false;
        QCOMPARE(rig_.run([&](MainWindow& window) {
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
        }), 0);
        QVERIFY(ran);
        QCOMPARE(rig_.value(key), storedAfter);
    }

    // The real executable, started as a user would start it on the simulated programmer, with its
    // store in a temporary XDG_CONFIG_HOME, and ended as a session manager does, with SIGTERM: it
    // closes as its close box closes it and writes the remembered values back.
    void theProgramEndsCleanlyOnSigterm() {
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
        QCOMPARE(store.value(QStringLiteral("Settings/Device/Protect")).toString(), QStringLiteral("0"));
    }

private:
    StartupRig rig_;
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
