// SPDX-License-Identifier: MIT
#include "app/Application.h"

#include "app/MainWindow.h"
#include "dialogs/Translation.h"
#include "operations/Session.h"
#include "settings/DriverFactory.h"
#include "settings/Settings.h"

#include <QAction>
#include <QSettings>
#include <QTimer>

#ifdef KORVALIN_HAVE_USB
#include "dialogs/UsbSetupDialog.h"
#include "programmer/usb/LibusbDriver.h"
#include "programmer/usb/UsbProbe.h"
#endif

#include <memory>

Application::Application(QSettings& store) : store_(store) {}

int Application::run() {
    // Before anything is built: the forms take their labels as they are set up.
    const Language language = loadLanguage(store_);
    applyLanguage(language, translator_);
    bool english = language == Language::English;
    RememberedSettings remembered = loadSettings(store_);
    bool fast = false;

    DriverChoice own;
    UsbDriver* usb = driver;
    if (!usb) {
        // Of several programmers the window takes the first; the USB setup shows which.
        own = chooseDriver("", "", &store_, "", true);
        usb = own.driver.get();
    }

    {
        MainWindow window(usb, prompts);
        // Without a driver the window still opens files and edits words; the user is told
        // once why no programmer will ever connect. A programmer not chosen yet is no such
        // case: the USB setup explains it when asked, and the status line says the rest.
        if (!usb && !own.error.empty()) window.showMessage(own.error);
#ifdef KORVALIN_HAVE_USB
        window.usbSetupAction()->setEnabled(true);
        QObject::connect(window.usbSetupAction(), &QAction::triggered, &window,
                         [this, &window, &own] { runUsbSetup(window, own.usb); });
#endif

        Session& session = window.session();
        session.deviceName = remembered.pic.toStdString();
        session.protectOff = remembered.protect;
        session.userIdOff = remembered.userId;
        session.skipDeviceIdCheck = remembered.deviceId;
        if (!catalogueDirs.empty()) session.catalogueDirs = catalogueDirs;
        session.catalogPath = catalogPath;
        window.fastScheduleAction()->setChecked(loadFastSchedule(store_));

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
        fast = window.fastScheduleAction()->isChecked();
        english = window.languageAction()->isChecked();
    }
    // A store that cannot be written must not stop the program from ending normally.
    saveSettings(store_, remembered);
    saveFastSchedule(store_, fast);
    // Only a switch made in the window is stored: a language chosen for this run by
    // KORVALIN_LANG must not become the remembered one.
    if (english != (language == Language::English))
        saveLanguage(store_, english ? Language::English : Language::Japanese);
    return 0;
}

#ifdef KORVALIN_HAVE_USB
void Application::runUsbSetup(MainWindow& window, LibusbDriver* usb) {
    Session& session = window.session();
    // A chain in flight owns the programmer; the choice waits until it has ended.
    if (session.chainRunning()) return;
    auto current = [this, usb, &session] {
        UsbSetupValues values;
        listUsbCandidates(values.candidates, values.listError);
        const StoredUsbChoice stored = readUsbChoice(store_);
        if (!parseUsbIdPart(stored.vendorId, values.vendorId) || !parseUsbIdPart(stored.productId, values.productId))
            values.vendorId = values.productId = 0;
        values.serial = stored.serial;
        if (usb) {
            if (session.link.connected) values.connectedPath = usb->devicePath();
            values.chosenBusy = usb->busy();
        }
        return values;
    };
    UsbSetupActions actions;
    actions.refresh = current;
    actions.probe = probeUsbCandidate;
    UsbSetupDialog dialog(current(), actions, &window);
    if (dialog.exec() != QDialog::Accepted) return;
    const UsbCandidate& chosen = dialog.chosen();
    writeUsbChoice(store_, chosen.vendorId, chosen.productId, chosen.serial);
    if (!usb) return;
    UsbChoice choice;
    choice.vendorId = chosen.vendorId;
    choice.productId = chosen.productId;
    choice.serial = chosen.serial;
    choice.firstOfSeveral = true;
    usb->choose(choice);
}
#endif
