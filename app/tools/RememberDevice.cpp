// SPDX-License-Identifier: MIT
// korvalin-remember-device NAME: makes NAME the window's remembered device, but only when the
// user's store has none yet, so a first start opens on the device a demonstration uses and a
// user's own choice is never overwritten. Prints what it did.
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    if (argc != 2 || !*argv[1]) {
        std::fprintf(stderr, "usage: korvalin-remember-device DEVICE_NAME\n");
        return 2;
    }
    std::unique_ptr<QSettings> store = openSettingsStore(QLatin1String(kWindowApplicationName));
    const QString key = QStringLiteral("Settings/Device/PIC");
    if (store->contains(key)) {
        std::printf("kept the remembered device %s\n", qPrintable(store->value(key).toString()));
        return 0;
    }
    store->setValue(key, QString::fromLocal8Bit(argv[1]));
    store->sync();
    if (store->status() != QSettings::NoError) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(store->fileName()));
        return 1;
    }
    std::printf("remembered %s as the window's device in %s\n", argv[1],
                qPrintable(store->fileName()));
    return 0;
}
