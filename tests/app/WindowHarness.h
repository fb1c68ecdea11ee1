// SPDX-License-Identifier: MIT
#pragma once

#include "app/Application.h"
#include "app/MainWindow.h"
#include "operations/Session.h"
#include "programmer/TraceDriver.h"
#include "sim/SimulatedDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

// The shipped catalogue, copied beside the test executables by the build.
inline QString shippedCatalogue() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/PicDeviceList.txt");
}

// Runs act on the next modal dialog of type D as soon as it is showing (from inside its modal
// loop). Gives up after a few seconds and closes whatever modal dialog is open, so that a test
// that waits for the wrong dialog fails instead of hanging; a check that fails inside act
// returns from it early, so every dialog still open is then closed too. The returned flag
// tells whether act ran.
template <typename D>
std::shared_ptr<bool> whenModal(std::function<void(D*)> act) {
    auto ran = std::make_shared<bool>(false);
    auto* poll = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, act, ran, started] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<D*>(modal); dialog && dialog->isVisible()) {
            poll->stop();
            poll->deleteLater();
            *ran = true;
            act(dialog);
            if (QTest::currentTestFailed()) {
                // Until the failed test function has returned; the next one starts clean.
                auto* closer = new QTimer(qApp);
                const QByteArray failed = QTest::currentTestFunction();
                QObject::connect(closer, &QTimer::timeout, [closer, failed] {
                    if (QTest::currentTestFunction() != failed) closer->deleteLater();
                    else if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) open->reject();
                });
                closer->start(10);
            }
            return;
        }
        if (started->elapsed() > 5000) {
            poll->stop();
            poll->deleteLater();
            if (auto* other = qobject_cast<QDialog*>(modal)) other->reject();
        }
    });
    poll->start(5);
    return ran;
}

// A started, shown main window on the shipped catalogue, with a simulated programmer (behind
// an exchange trace) and the prompts replaced by recorders.
class WindowHarness {
public:
    // Without calibrationPrompt the window has no one to ask for a calibration word.
    explicit WindowHarness(const std::string& device, const std::string& chip = "",
                           SimConfig config = {}, bool calibrationPrompt = true) {
        config.chip = chip;
        auto simulated = std::make_unique<SimulatedDriver>(config);
        sim = simulated.get();
        driver = std::make_unique<TraceDriver>(std::move(simulated), tracePath().toStdString());
        WindowPrompts prompts;
        prompts.openFile = [this](QWidget*, const QString& folder) {
            promptFolder = folder;
            return nextOpenPath;
        };
        prompts.saveFile = [this](QWidget*, const QString& folder) {
            promptFolder = folder;
            return nextSavePath;
        };
        prompts.message = [this](QWidget*, const QString& text) { messages.append(text); };
        prompts.verifyError = [this](QWidget*, const QString& p, const QString& e, const QString& c) {
            verifyErrors.append(QStringList{p, e, c});
        };
        if (calibrationPrompt)
            prompts.calibration = [this](QWidget*, const QString& text, const CalibrationChoice&) {
                messages.append(text);
                return nextCalibration;
            };
        window = std::make_unique<MainWindow>(driver.get(), prompts);
        window->session().calibrationJournal = temp.filePath(QStringLiteral("calibration.log")).toStdString();
        window->session().deviceName = device;
        window->session().catalogPath = shippedCatalogue().toStdString();
        window->start();
        window->show();
    }
    ~WindowHarness() {
        // A test that failed half-way may leave a chain running; let it end before the window goes.
        waitChainEnd();
        window.reset();
    }

    QTemporaryDir temp;
    SimulatedDriver* sim = nullptr;   // owned through the trace driver
    std::unique_ptr<TraceDriver> driver;
    std::unique_ptr<MainWindow> window;

    QStringList messages;
    QList<QStringList> verifyErrors;
    std::optional<CalibrationChoice> nextCalibration;   // the calibration prompt's answer
    QString nextOpenPath;   // what the open and save prompts answer; empty: cancelled
    QString nextSavePath;
    QString promptFolder;   // the folder the last open or save prompt started in

    Session& session() { return window->session(); }
    template <typename W = QWidget>
    W* child(const char* name) const {
        return window->findChild<W*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const {   // a label's or button's text
        if (auto* label = child<QLabel>(name)) return label->text();
        auto* button = child<QAbstractButton>(name);
        return button ? button->text() : QString();
    }
    void click(const char* name) {
        if (QWidget* widget = child(name)) QTest::mouseClick(widget, Qt::LeftButton);
    }

    bool waitConnected() {   // "Korvalin Connect" shown
        return QTest::qWaitFor(
            [this] { return text("statusLine") == QStringLiteral("Korvalin Connect"); }, 5000);
    }
    bool waitChainEnd(int timeoutMs = 10000) {
        return QTest::qWaitFor(
            [this] { return !window || !window->session().chainRunning(); }, timeoutMs);
    }
    QStringList traceWrites() const {   // the writes of the exchange trace so far
        QFile file(tracePath());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
        const QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
        return lines.filter(QRegularExpression(QStringLiteral("^W ")));
    }
    QString tracePath() const { return temp.filePath(QStringLiteral("trace.txt")); }
};

// The whole program's start-up (Application) against a store in a temporary folder, never the
// user's own, on the simulated programmer and the shipped catalogue, its messages recorded.
struct StartupRig {
    QTemporaryDir dir;
    const QString storePath = dir.filePath(QStringLiteral("KorvalinLoader.conf"));
    SimulatedDriver sim;
    QStringList messages;
    static constexpr const char* kDeviceKeys[4] = {"PIC", "Protect", "UserID", "DeviceID"};

    // A fresh store holding the device values as far as given, and the other keys.
    void seed(const QStringList& device, const QList<std::pair<QString, QString>>& others = {}) {
        QSettings store(storePath, QSettings::IniFormat);
        store.clear();
        for (qsizetype i = 0; i < device.size(); ++i)
            store.setValue(QStringLiteral("Settings/Device/") + kDeviceKeys[i], device[i]);
        for (const auto& [key, value] : others) store.setValue(key, value);
    }
    // The device values as the store holds them; "absent" for a missing key.
    QStringList stored() const {
        QSettings store(storePath, QSettings::IniFormat);
        QStringList values;
        for (const char* key : kDeviceKeys)
            values.append(store.value(QStringLiteral("Settings/Device/") + key, QStringLiteral("absent")).toString());
        return values;
    }
    void prepare(Application& app) {
        messages.clear();
        app.driver = &sim;
        app.catalogPath = shippedCatalogue().toStdString();
        app.prompts.message = [this](QWidget*, const QString& text) { messages.append(text); };
    }
};
