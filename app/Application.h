// SPDX-License-Identifier: MIT
#pragma once

#include "app/WindowPrompts.h"

#include <QTranslator>

#include <functional>
#include <string>
#include <vector>

class LibusbDriver;
class MainWindow;
class QSettings;
class UsbDriver;

// The program's life: restore the remembered device and options from the store, run the
// window modally, write them back. The store is written exactly once, at the end, however the
// window ended - the catalogue missing included.
class Application {
public:
    explicit Application(QSettings& store);

    WindowPrompts prompts = WindowPrompts::standard();
    // Null: the driver chooseDriver() picks (the simulated programmer under KORVALIN_SIM).
    UsbDriver* driver = nullptr;
    // Empty: beside the executable, then the installed data folder.
    std::vector<std::string> catalogueDirs;
    std::string catalogPath;
    // A HEX file to open once the window runs with the remembered device (the command line's).
    QString fileToOpen;
    // Called with the started window just before its modal run.
    std::function<void(MainWindow&)> beforeRun;

    // Returns the process exit code.
    int run();

private:
    // The USB setup: shows the candidates and makes the chosen one the remembered programmer
    // and the driver's.
    void runUsbSetup(MainWindow& window, LibusbDriver* usb);

    QSettings& store_;
    QTranslator translator_;
};
