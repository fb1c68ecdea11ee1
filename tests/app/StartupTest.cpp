// SPDX-License-Identifier: MIT
#include "WindowHarness.h"

#include "app/Application.h"
#include "app/MainWindow.h"
#include "device/MemoryImage.h"
#include "operations/Texts.h"

#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QLabel>
#include <QSettings>

// Start-up against a settings file in a temporary folder, never the user's own store.
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

private:
    QTemporaryDir dir_;
    const QString storePath_ = dir_.filePath(QStringLiteral("KorvalinLoader.conf"));
    SimulatedDriver sim_;
    QStringList messages_;
    const char* const keys_[4] = {"PIC", "Protect", "UserID", "DeviceID"};

    // The remembered values as the store holds them; "absent" for a missing key.
    QStringList stored() const {
        QSettings store(storePath_, QSettings::IniFormat);
        QStringList values;
        for (const char* key : keys_) {
            const QVariant value = store.value(QStringLiteral("Settings/Device/") + key);
            values.append(value.isValid() ? value.toString() : QStringLiteral("absent"));
        }
        return values;
    }
    // An application on the simulated programmer and the shipped catalogue, messages recorded.
    void prepare(Application& app) {
        messages_.clear();
        app.driver = &sim_;
        app.catalogPath = shippedCatalogue().toStdString();
        app.prompts.message = [this](QWidget*, const QString& text) { messages_.append(text); };
    }
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
    {
        QSettings seed(storePath_, QSettings::IniFormat);
        seed.clear();
        for (qsizetype i = 0; i < remembered.size(); ++i)
            seed.setValue(QStringLiteral("Settings/Device/") + keys_[i], remembered[i]);
    }
    const QStringList before = stored();
    QSettings store(storePath_, QSettings::IniFormat);
    Application app(store);
    prepare(app);
    if (closeWith.isEmpty()) {
        app.catalogPath.clear();
        app.catalogueDirs = {dir_.filePath(QStringLiteral("nowhere")).toStdString()};
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
        QCOMPARE(session.protectOff, after[1].toInt());
        QCOMPARE(session.userIdOff, after[2].toInt());
        QCOMPARE(session.skipDeviceIdCheck, after[3].toInt());
        if (!pick.isEmpty()) list->setCurrentIndex(list->findText(pick));
        QCOMPARE(stored(), before);   // nothing is written while the window is open
        ran = true;
    };
    QCOMPARE(app.run(), 0);
    QCOMPARE(ran, !closeWith.isEmpty());
    const QString missing = QStringLiteral("デバイス リストファイルが見つかりません。");
    QCOMPARE(messages_, closeWith.isEmpty() ? QStringList{missing} : QStringList());
    QCOMPARE(stored(), after);
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
    QSettings store(storePath_, QSettings::IniFormat);
    store.clear();
    Application app(store);
    prepare(app);
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
        QCOMPARE(messages_, QStringList());
        QCOMPARE(status, QStringLiteral("Korvalin Non Connect"));
        QVERIFY(setupOffered);
    } else {
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_.first().contains(message), qPrintable(messages_.first()));
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
    const QStringList device{"PIC16F84A", "1", "0", "5"};
    {
        QSettings seed(storePath_, QSettings::IniFormat);
        seed.clear();
        for (qsizetype i = 0; i < device.size(); ++i)
            seed.setValue(QStringLiteral("Settings/Device/") + keys_[i], device[i]);
        if (!keptFolder.isEmpty()) seed.setValue(QStringLiteral("Settings/Files/LastFolder"), keptFolder);
    }
    MemoryImage image;
    image.resize(1024, 0x3FFF, 64);
    image.programWords[0] = 0x3000;
    QVERIFY(image.saveHex(dir_.filePath(QStringLiteral("in.hex")).toStdString(), true, 0x3FFF));

    QSettings store(storePath_, QSettings::IniFormat);
    Application app(store);
    prepare(app);
    if (!file.isEmpty()) app.fileToOpen = dir_.filePath(file);
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
    QCOMPARE(messages_, messages);
    const QString expected = folderAfter == QLatin1String("here") ? dir_.path() : folderAfter;
    QCOMPARE(promptFolder, expected);
    QCOMPARE(stored(), device);
    QSettings after(storePath_, QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("Settings/Files/LastFolder")).toString(), expected);
    QCOMPARE(after.contains(QStringLiteral("Settings/Files/LastFolder")), !expected.isEmpty());
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
    {
        QSettings seed(storePath_, QSettings::IniFormat);
        seed.clear();
        if (!stored.isEmpty()) seed.setValue(key, stored);
    }
    if (!environment.isEmpty()) qputenv("KORVALIN_LANG", environment);
    QSettings store(storePath_, QSettings::IniFormat);
    Application app(store);
    prepare(app);
    const bool english = cancelLabel == QStringLiteral("Cancel");
    bool ran = false;
    app.beforeRun = [&](MainWindow& window) {
        QCOMPARE(window.findChild<QPushButton*>("cancelButton")->text(), cancelLabel);
        QCOMPARE(window.aboutAction()->text(), QString::fromUtf8(textPair(TextId::AboutMenu).*(
                                                  english ? &TextPair::en : &TextPair::ja)));
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
    QCOMPARE(QSettings(storePath_, QSettings::IniFormat).value(key).toString(), storedAfter);
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
