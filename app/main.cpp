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
    std::unique_ptr<QSettings> store = openSettingsStore();
    Application application(*store);
    application.beforeRun = scheduleQuit;
    return application.run();
}
