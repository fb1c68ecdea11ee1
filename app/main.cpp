#include "app/Application.h"
#include "app/MainWindow.h"
#include "operations/Session.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <cstdlib>

// KORVALIN_QUIT_AFTER_MS=N closes the window N ms after it opened (as soon as no chain runs),
// for smoke runs of the real executable without a user.
static void scheduleQuit(MainWindow& window) {
    const char* value = std::getenv("KORVALIN_QUIT_AFTER_MS");
    if (!value || !*value) return;
    const int delay = std::atoi(value);
    auto* closer = new QTimer(&window);
    closer->setInterval(50);
    QObject::connect(closer, &QTimer::timeout, &window, [&window] { window.reject(); });
    QTimer::singleShot(delay < 0 ? 0 : delay, &window, [closer] { closer->start(); });
}

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
    application.beforeRun = scheduleQuit;
    return application.run();
}
