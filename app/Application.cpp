#include "app/Application.h"

#include "app/MainWindow.h"
#include "operations/Session.h"
#include "settings/DriverFactory.h"
#include "settings/Settings.h"

#include <QSettings>
#include <QTimer>

#include <memory>

Application::Application(QSettings& store) : store_(store) {}

int Application::run() {
    RememberedSettings remembered = loadSettings(store_);

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

        window.lastFolder = loadLastFolder(store_);
        if (window.start()) {
            // Queued, so that a message about the file appears over the running window.
            if (!fileToOpen.isEmpty())
                QTimer::singleShot(0, &window, [&window, this] { window.openFile(fileToOpen); });
            if (beforeRun) beforeRun(window);
            window.exec();
        }
        if (!window.lastFolder.isEmpty()) saveLastFolder(store_, window.lastFolder);

        remembered.pic = QString::fromStdString(session.deviceName);
        remembered.protect = session.protectOff;
        remembered.userId = session.userIdOff;
        remembered.deviceId = session.skipDeviceIdCheck;
    }
    // A store that cannot be written must not stop the program from ending normally.
    saveSettings(store_, remembered);
    return 0;
}
