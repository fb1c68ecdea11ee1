// SPDX-License-Identifier: MIT
#include "app/Application.h"
#include "app/MainWindow.h"
#include "operations/Session.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int terminatePipe[2] = {-1, -1};

void onTerminate(int) {
    const char byte = 1;
    (void)!write(terminatePipe[1], &byte, 1);
}

// A session manager ends desktop programs with SIGTERM at logout, a terminal with SIGINT: the
// window then closes as its close box closes it, as soon as no chain runs, so that no chip is
// left half written and the remembered device and options are still written back. The signal
// is caught from the start; one that comes before the window runs closes it once it does.
bool catchTerminate() {
    if (::pipe2(terminatePipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return true;
}

void closeOnTerminate(MainWindow& window) {
    auto* notifier = new QSocketNotifier(terminatePipe[0], QSocketNotifier::Read, &window);
    auto* closer = new QTimer(&window);
    closer->setInterval(50);
    QObject::connect(closer, &QTimer::timeout, &window, [&window] { window.reject(); });
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [notifier, closer] {
        notifier->setEnabled(false);
        closer->start();
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    // The desktop entry's name: docks and Wayland compositors match the window to its launcher
    // by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tessmark.KorvalinLoader"));
    std::unique_ptr<QSettings> store = openSettingsStore();
    Application application(*store);
    // QApplication has taken its own options out; what is left is the file to open, if any
    // (the desktop entry passes one with %f).
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1) application.fileToOpen = arguments.at(1);
    if (catchTerminate()) application.beforeRun = closeOnTerminate;
    return application.run();
}
