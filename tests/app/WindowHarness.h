// SPDX-License-Identifier: MIT
#pragma once

#include "app/Application.h"
#include "app/MainWindow.h"
#include "device/MemoryImage.h"
#include "operations/Session.h"
#include "sim/SimulatedDriver.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

// The shipped catalogue, copied beside the test executables by the build.
inline QString shippedCatalogue() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/PicDeviceList.txt");
}

// A HEX file whose first program word is 3000, the rest blank.
inline bool writeHex(const QString& path, uint32_t words, uint32_t eepromBytes) {
    MemoryImage file;
    file.resize(words, 0x3FFF, eepromBytes);
    file.programWords[0] = 0x3000;
    return file.saveHex(path.toStdString(), true, 0x3FFF);
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

// A started, shown main window on the shipped catalogue, with a simulated programmer and the
// prompts replaced by recorders.
class WindowHarness {
public:
    // Without a chip, the programmer has nothing in any position.
    explicit WindowHarness(const std::string& device, const std::string& chip = "") {
        SimConfig config;
        config.chip = chip;
        sim = std::make_unique<SimulatedDriver>(config);
        WindowPrompts prompts;
        prompts.openFile = prompts.saveFile = [this](QWidget*, const QString& folder) {
            promptFolder = folder;
            return nextPath;
        };
        prompts.message = [this](QWidget*, const QString& text) { messages.append(text); };
        prompts.verifyError = [this](QWidget*, const QString& p, const QString& e, const QString& c) {
            verifyErrors.append(QStringList{p, e, c});
        };
        prompts.calibration = [this](QWidget*, const QString& text, const CalibrationChoice&) {
            messages.append(text);
            return nextCalibration;
        };
        window = std::make_unique<MainWindow>(sim.get(), prompts);
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
    std::unique_ptr<SimulatedDriver> sim;
    std::unique_ptr<MainWindow> window;

    QStringList messages;
    QList<QStringList> verifyErrors;
    std::optional<CalibrationChoice> nextCalibration;   // the calibration prompt's answer
    QString nextPath;   // what the open and save prompts answer; empty: cancelled
    QString promptFolder;   // the folder the last open or save prompt started in

    Session& session() { return window->session(); }
    template <typename W = QWidget>
    W* child(const char* name) const {
        return window->findChild<W*>(QString::fromLatin1(name));
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
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
};

// The whole program's start-up (Application) against a store in a temporary folder, never the
// user's own, on the simulated programmer and the shipped catalogue, its messages recorded.
struct StartupRig {
    QTemporaryDir dir;
    const QString storePath = dir.filePath(QStringLiteral("KorvalinLoader.conf"));
    SimulatedDriver sim;
    QStringList messages;
    std::unique_ptr<QSettings> store;
    std::unique_ptr<Application> app;
    static constexpr const char* kDeviceKeys[4] = {"PIC", "Protect", "UserID", "DeviceID"};

    // A fresh store holding the device values as far as given, and the other keys but those
    // "absent", and a program not yet run on it.
    Application& seed(const QStringList& device, const QList<std::pair<QString, QString>>& others = {}) {
        app.reset();
        store = std::make_unique<QSettings>(storePath, QSettings::IniFormat);
        store->clear();
        for (qsizetype i = 0; i < device.size(); ++i)
            store->setValue(QStringLiteral("Settings/Device/") + kDeviceKeys[i], device[i]);
        for (const auto& [key, value] : others)
            if (value != QLatin1String("absent")) store->setValue(key, value);
        store->sync();
        app = std::make_unique<Application>(*store);
        messages.clear();
        app->driver = &sim;
        app->catalogPath = shippedCatalogue().toStdString();
        app->prompts.message = [this](QWidget*, const QString& text) { messages.append(text); };
        return *app;
    }
    // Runs the program; once its window shows, during looks at it, and the window is then
    // closed unless during closed it (a failed check returns early: the window still closes).
    int run(const std::function<void(MainWindow&)>& during) {
        app->beforeRun = [during](MainWindow& window) {
            QTimer::singleShot(0, &window, [&window, during] {
                during(window);
                if (window.isVisible()) window.reject();
            });
        };
        return app->run();
    }
    // A value as a fresh look at the store finds it; "absent" for a missing key.
    QString value(const QString& key) const {
        return QSettings(storePath, QSettings::IniFormat).value(key, QStringLiteral("absent")).toString();
    }
    QStringList stored() const {   // the device values
        QStringList values;
        for (const char* key : kDeviceKeys) values.append(value(QStringLiteral("Settings/Device/") + key));
        return values;
    }
};
