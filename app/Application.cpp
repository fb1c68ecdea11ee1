#include "app/Application.h"

#include "app/MainWindow.h"
#include "operations/Session.h"
#include "settings/DriverFactory.h"
#include "settings/Settings.h"

#include <QAction>
#include <QSettings>

#include <memory>

Application::Application(QSettings& store) : store_(store) {}

int Application::run() {
    RememberedSettings remembered = loadSettings(store_);
    bool fast = false;

    std::unique_ptr<UsbDriver> ownDriver;
    std::string driverError;
    UsbDriver* usb = driver;
    if (!usb) {
        ownDriver = createDriver("", "", driverError);
        usb = ownDriver.get();
    }

    {
        MainWindow window(usb, prompts);
        // Without a driver the window still opens files and edits words; the user is told
        // once why no programmer will ever connect.
        if (!usb && !driverError.empty()) window.showMessage(driverError);

        Session& session = window.session();
        session.deviceName = remembered.pic.toStdString();
        session.protectOff = remembered.protect;
        session.userIdOff = remembered.userId;
        session.skipDeviceIdCheck = remembered.deviceId;
        if (!catalogueDirs.empty()) session.catalogueDirs = catalogueDirs;
        session.catalogPath = catalogPath;
        window.fastScheduleAction()->setChecked(loadFastSchedule(store_));

        if (window.start()) {
            if (beforeRun) beforeRun(window);
            window.exec();
        }

        remembered.pic = QString::fromStdString(session.deviceName);
        remembered.protect = session.protectOff;
        remembered.userId = session.userIdOff;
        remembered.deviceId = session.skipDeviceIdCheck;
        fast = window.fastScheduleAction()->isChecked();
    }
    // A store that cannot be written must not stop the program from ending normally.
    saveSettings(store_, remembered);
    saveFastSchedule(store_, fast);
    return 0;
}
