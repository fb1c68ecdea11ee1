// SPDX-License-Identifier: MIT
#include <QCoreApplication>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// Runs the real executable as a user would start it, on the simulated programmer, with its
// store in a temporary XDG_CONFIG_HOME, and ends it as a session manager does, with SIGTERM.
class SmokeTest : public QObject {
    Q_OBJECT
private slots:
    void startsSelectsAndQuits();
};

void SmokeTest::startsSelectsAndQuits() {
    QTemporaryDir config;
    const QString storePath = config.filePath(QStringLiteral("Tessmark/KorvalinLoader.conf"));
    {
        QSettings store(storePath, QSettings::IniFormat);
        store.setValue(QStringLiteral("Settings/Device/PIC"), QStringLiteral("PIC16F877A"));
    }

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("KORVALIN_SIM"), QStringLiteral("PIC16F877A"));
    environment.insert(QStringLiteral("KORVALIN_TRACE"), config.filePath(QStringLiteral("trace.txt")));
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/KorvalinLoader"));
    QVERIFY(process.waitForStarted());
    // It attached to the simulated programmer: the identity and clock queries are in the trace.
    QFile trace(config.filePath(QStringLiteral("trace.txt")));
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

QTEST_GUILESS_MAIN(SmokeTest)
#include "SmokeTest.moc"
