#include "WindowHarness.h"

#include "app/Application.h"
#include "settings/Settings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QSettings>

namespace {

// The remembered values as the store holds them after a run; "absent" for a missing key.
QStringList storedValues(const QString& path) {
    QSettings store(path, QSettings::IniFormat);
    store.beginGroup(QStringLiteral("Settings/Device"));
    QStringList values;
    for (const char* key : {"PIC", "Protect", "UserID", "DeviceID"}) {
        const QVariant value = store.value(QLatin1String(key));
        values.append(value.isValid() ? value.toString() : QStringLiteral("absent"));
    }
    return values;
}

}  // namespace

// Start-up against a settings file in a temporary folder, never the user's own store.
class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void firstRunWritesDefaults();
    void restoresAndWritesBackOnce_data();
    void restoresAndWritesBackOnce();
    void catalogueMissingClosesAndStillWrites();
    void rememberedNameNotInList();
    void unusableDriverIsReportedAndTheWindowStillRuns();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString storePath_;
    std::unique_ptr<SimulatedDriver> sim_;

    void seed(const QStringList& pairs);   // key, value, key, value ...
    Application application(QSettings& store);
};

void StartupTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    storePath_ = dir_->filePath(QStringLiteral("KorvalinLoader.conf"));
    sim_ = std::make_unique<SimulatedDriver>();
}

void StartupTest::seed(const QStringList& pairs) {
    QSettings store(storePath_, QSettings::IniFormat);
    store.beginGroup(QStringLiteral("Settings/Device"));
    for (qsizetype i = 0; i + 1 < pairs.size(); i += 2) store.setValue(pairs[i], pairs[i + 1]);
    store.endGroup();
    store.sync();
}

Application StartupTest::application(QSettings& store) {
    Application app(store);
    app.driver = sim_.get();
    app.catalogPath = shippedCatalogue().toStdString();
    app.prompts.message = [](QWidget*, const QString& text) { qWarning("message: %s", qPrintable(text)); };
    return app;
}

void StartupTest::firstRunWritesDefaults() {
    QSettings store(storePath_, QSettings::IniFormat);
    Application app = application(store);
    QString selected;
    QStringList whileOpen;
    app.beforeRun = [&](MainWindow& window) {
        selected = window.findChild<QComboBox*>("deviceList")->currentText();
        whileOpen = storedValues(storePath_);
        QTimer::singleShot(0, &window, [&window] { window.reject(); });
    };
    QCOMPARE(app.run(), 0);
    QCOMPARE(selected, QStringLiteral("PIC16F628"));
    QCOMPARE(whileOpen, (QStringList{"absent", "absent", "absent", "absent"}));
    QCOMPARE(storedValues(storePath_), (QStringList{"PIC16F628", "0", "0", "0"}));
}

void StartupTest::restoresAndWritesBackOnce_data() {
    QTest::addColumn<QString>("pick");     // device picked in the list while open; "" none
    QTest::addColumn<bool>("viaOk");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("unchanged, options kept as stored")
        << "" << true << QStringList{"PIC16F877A", "1", "0", "5"};
    QTest::newRow("another device, left with Cancel")
        << "PIC16F84A" << false << QStringList{"PIC16F84A", "1", "0", "5"};
}

void StartupTest::restoresAndWritesBackOnce() {
    QFETCH(QString, pick);
    QFETCH(bool, viaOk);
    QFETCH(QStringList, after);
    seed({"PIC", "PIC16F877A", "Protect", "1", "UserID", "0", "DeviceID", "5"});
    QSettings store(storePath_, QSettings::IniFormat);
    Application app = application(store);
    bool checked = false;
    app.beforeRun = [&](MainWindow& window) {
        Session& session = window.session();
        QCOMPARE(window.findChild<QComboBox*>("deviceList")->currentText(), QStringLiteral("PIC16F877A"));
        QCOMPARE(session.protectOff, 1);
        QCOMPARE(session.userIdOff, 0);
        QCOMPARE(session.skipDeviceIdCheck, 5);
        QCOMPARE(session.programmer.writeUserId, 1);
        if (!pick.isEmpty()) {
            auto* list = window.findChild<QComboBox*>("deviceList");
            list->setCurrentIndex(list->findText(pick));
        }
        // Nothing is written while the window is open.
        QCOMPARE(storedValues(storePath_), (QStringList{"PIC16F877A", "1", "0", "5"}));
        checked = true;
        QTimer::singleShot(0, &window, [&window, viaOk] {
            QTest::mouseClick(window.findChild<QPushButton*>(viaOk ? "okButton" : "cancelButton"), Qt::LeftButton);
        });
    };
    QCOMPARE(app.run(), 0);
    QVERIFY(checked);
    QCOMPARE(storedValues(storePath_), after);
}

void StartupTest::catalogueMissingClosesAndStillWrites() {
    seed({"PIC", "PIC16F877A", "UserID", "3"});
    QSettings store(storePath_, QSettings::IniFormat);
    Application app = application(store);
    app.catalogPath.clear();
    app.catalogueDirs = {dir_->filePath(QStringLiteral("nowhere")).toStdString()};
    QStringList messages;
    app.prompts.message = [&](QWidget*, const QString& text) { messages.append(text); };
    bool ran = false;
    app.beforeRun = [&](MainWindow&) { ran = true; };
    QCOMPARE(app.run(), 0);
    QVERIFY(!ran);   // the window never runs
    QCOMPARE(messages, QStringList{QStringLiteral("デバイス リストファイルが見つかりません。")});
    QCOMPARE(storedValues(storePath_), (QStringList{"PIC16F877A", "0", "3", "0"}));
}

void StartupTest::rememberedNameNotInList() {
    seed({"PIC", "PIC99X999"});
    QSettings store(storePath_, QSettings::IniFormat);
    Application app = application(store);
    QStringList messages;
    app.prompts.message = [&](QWidget*, const QString& text) { messages.append(text); };
    bool checked = false;
    app.beforeRun = [&](MainWindow& window) {
        auto* list = window.findChild<QComboBox*>("deviceList");
        QCOMPARE(list->currentIndex(), -1);
        QVERIFY(list->count() > 10);
        QCOMPARE(window.findChild<QGroupBox*>("programGroup")->title(), QStringLiteral("Program Memorys"));
        QCOMPARE(window.findChild<QGroupBox*>("eepromGroup")->title(), QStringLiteral("EEPROM Memorys"));
        checked = true;
        QTimer::singleShot(0, &window, [&window] { window.reject(); });
    };
    QCOMPARE(app.run(), 0);
    QVERIFY(checked);
    QVERIFY(messages.isEmpty());
    QCOMPARE(storedValues(storePath_).first(), QStringLiteral("PIC99X999"));
}

void StartupTest::unusableDriverIsReportedAndTheWindowStillRuns() {
    qputenv("KORVALIN_SIM", "PIC16F877A,no-such-key=1");
    QSettings store(storePath_, QSettings::IniFormat);
    Application app = application(store);
    app.driver = nullptr;   // the driver the environment asks for
    QStringList messages;
    app.prompts.message = [&](QWidget*, const QString& text) { messages.append(text); };
    bool ran = false;
    app.beforeRun = [&](MainWindow& window) {
        ran = true;
        QTimer::singleShot(50, &window, [&window] { window.reject(); });
    };
    QCOMPARE(app.run(), 0);
    qunsetenv("KORVALIN_SIM");
    QVERIFY(ran);
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages.first().contains(QLatin1String("no-such-key")), qPrintable(messages.first()));
    QCOMPARE(storedValues(storePath_).first(), QStringLiteral("PIC16F628"));
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"

