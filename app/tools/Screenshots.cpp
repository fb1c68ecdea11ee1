// SPDX-License-Identifier: MIT
// korvalin-screenshots OUTPUT_FOLDER [HEX_FILE]
// korvalin-screenshots --check-display
//
// Renders the main window and each dialog to PNG files in OUTPUT_FOLDER, without a user and
// without a display (offscreen, unless QT_QPA_PLATFORM says otherwise). The window runs on the
// simulated programmer with a PIC16F628A in its socket; the example HEX file is opened,
// programmed and read back first, so the pictures show a program, its device ID and a finished status line.
// Nothing waits in a modal loop: each dialog is shown, grabbed and closed. Prints each file
// written; exits non-zero, saying why, when any step fails.
//
// --check-display only starts Qt on its usual platform and exits 0: scripts/run asks it whether
// the window can open, since Qt aborts when it cannot reach the display.
#include "app/MainWindow.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/ConfigWordDialog.h"
#include "dialogs/DeviceIdDialog.h"
#include "dialogs/TestPanelDialog.h"
#include "dialogs/UserIdDialog.h"
#include "dialogs/Translation.h"
#include "dialogs/VerifyErrorDialog.h"
#include "operations/Session.h"
#include "settings/Settings.h"
#include "sim/SimulatedDriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr const char* kDevice = "PIC16F628A";
// A device with a second configuration word, for the editor's second page.
constexpr const char* kTwoWordDevice = "PIC16F88";
constexpr int kStepTimeoutMs = 30000;

QStringList problems;

void fail(const QString& text) {
    problems.append(text);
    std::fprintf(stderr, "korvalin-screenshots: %s\n", qPrintable(text));
}

// Lets the window's timer run (connection poll, chain steps) until done() or the time-out.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > kStepTimeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool save(QWidget& widget, const QDir& folder, const QString& name) {
    widget.show();
    QCoreApplication::processEvents();
    const QString path = folder.filePath(name);
    const bool saved = widget.grab().save(path, "PNG");
    widget.close();
    if (!saved) {
        fail(QStringLiteral("could not write %1").arg(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Runs one chain to its end; false when it did not start, did not end or did not succeed.
bool runChain(Session& session, void (Session::*button)(), const char* what) {
    (session.*button)();
    if (!waitFor([&session] { return !session.chainRunning(); })) {
        fail(QStringLiteral("%1 did not finish").arg(QLatin1String(what)));
        return false;
    }
    if (!session.lastChainOk) {
        fail(QStringLiteral("%1 failed").arg(QLatin1String(what)));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && qstrcmp(argv[1], "--check-display") == 0) {
        QApplication qt(argc, argv);
        return 0;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's options must not come from, or leak into, the user's own settings.
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", scratch.path().toLocal8Bit());
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", scratch.path().toLocal8Bit());
    QApplication qt(argc, argv);

    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: korvalin-screenshots OUTPUT_FOLDER [HEX_FILE]\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        fail(QStringLiteral("cannot create %1").arg(folder.path()));
        return 1;
    }
    // KORVALIN_LANG=en: the English pictures, into a folder of their own.
    QTranslator translator;
    if (!applyLanguage(resolveLanguage({}, std::getenv("KORVALIN_LANG"), {}), translator)) {
        fail(QStringLiteral("the English translation is missing"));
        return 1;
    }
    const QString hexPath = argc == 3 ? QString::fromLocal8Bit(argv[2])
                                      : QStringLiteral(KORVALIN_EXAMPLE_HEX);

    SimConfig chip;
    chip.chip = kDevice;
    SimulatedDriver driver(chip);

    WindowPrompts prompts;
    prompts.openFile = [](QWidget*, const QString&) { return QString(); };
    prompts.saveFile = [](QWidget*, const QString&) { return QString(); };
    prompts.message = [](QWidget*, const QString& text) { fail(QStringLiteral("message: ") + text); };
    prompts.verifyError = [](QWidget*, const QString& program, const QString& eeprom,
                             const QString& config) {
        fail(QStringLiteral("verify error: %1 %2 %3").arg(program, eeprom, config));
    };

    MainWindow window(&driver, prompts);
    Session& session = window.session();
    session.deviceName = kDevice;
    if (!window.start()) return 1;
    window.show();
    if (!waitFor([&session] { return session.link.connected; })) {
        fail(QStringLiteral("the simulated programmer did not connect"));
        return 1;
    }
    if (!session.openHexFile(hexPath.toStdString())) return 1;
    if (!runChain(session, &Session::onProgramButton, "Program") ||
        !runChain(session, &Session::onReadButton, "Read"))
        return 1;
    save(window, folder, QStringLiteral("main-window.png"));
    window.show();   // the dialogs open over it, as they do for the user

    ConfigWordValues config;
    config.deviceName = QString::fromStdString(session.deviceName);
    config.configWord = session.programmer.configWord;
    config.configWord2 = session.programmer.configWord2;
    config.configBitTags = QString::fromStdString(session.configBitTags);
    config.protectOff = session.protectOff;
    config.family = session.programmer.family;
    {
        ConfigWordDialog dialog(config, &window);
        save(dialog, folder, QStringLiteral("config-word.png"));
    }
    {
        UserIdDialog dialog(UserIdValues{config.deviceName, session.programmer.userId,
                                         session.programmer.writeUserId ? 0 : 1},
                            &window);
        save(dialog, folder, QStringLiteral("user-id.png"));
    }
    {
        DeviceIdDialog dialog(DeviceIdValues{config.deviceName, session.skipDeviceIdCheck}, &window);
        save(dialog, folder, QStringLiteral("device-id.png"));
    }
    {
        session.programmer.resetOutputs();
        TestPanelDialog dialog(&session.programmer, &window);
        save(dialog, folder, QStringLiteral("test-panel.png"));
        session.programmer.resetOutputs();
    }
    {
        AboutDialog dialog(QStringLiteral("KorvalinLoader"), &window);
        save(dialog, folder, QStringLiteral("about.png"));
    }
    {
        VerifyErrorDialog dialog(QStringLiteral("OK"), QStringLiteral("NG"), QStringLiteral("OK"),
                                 &window);
        save(dialog, folder, QStringLiteral("verify-error.png"));
    }
    {
        CalibrationDialog dialog(CalibrationChoice{0x3450, 2}, &window);
        save(dialog, folder, QStringLiteral("calibration.png"));
    }

    // The second page of the editor, on a device with two configuration words.
    if (session.selectDevice(kTwoWordDevice, true)) {
        ConfigWordValues two = config;
        two.deviceName = QString::fromStdString(session.deviceName);
        two.configWord = session.programmer.configWord;
        two.configWord2 = session.programmer.configWord2;
        two.configBitTags = QString::fromStdString(session.configBitTags);
        two.family = session.programmer.family;
        ConfigWordDialog dialog(two, &window);
        dialog.nextPage();
        save(dialog, folder, QStringLiteral("config-word-page2.png"));
    } else {
        fail(QStringLiteral("%1 is not in the catalogue").arg(QLatin1String(kTwoWordDevice)));
    }

    window.close();
    return problems.isEmpty() ? 0 : 1;
}
