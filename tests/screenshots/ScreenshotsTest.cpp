// SPDX-License-Identifier: MIT
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"

#include <QImage>
#include <QtTest>

// The screenshot tool must leave one real picture per window: the size its template gives in
// the font it is laid out with, and more than an empty background.
class ScreenshotsTest : public QObject {
    Q_OBJECT
private slots:
    void everyPictureIsWritten() {
        QTemporaryDir out;
        QProcess tool;
        tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/korvalin-screenshots"), {out.path()});
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
                 tool.readAllStandardError().constData());
        const DialogUnits fixed(fixedDialogFont());
        const DialogUnits proportional(proportionalDialogFont());
        struct Picture { const char* file; int widthDlu; int heightDlu; const DialogUnits& units; };
        const Picture pictures[] = {
            {"main-window.png", 408, 214, fixed},     {"config-word.png", 255, 140, proportional},
            {"config-word-page2.png", 255, 140, proportional},
            {"user-id.png", 187, 95, proportional},   {"device-id.png", 141, 65, proportional},
            {"test-panel.png", 286, 101, proportional}, {"about.png", 235, 48, proportional},
            {"verify-error.png", 110, 79, proportional}, {"calibration.png", 150, 70, proportional},
        };
        for (const Picture& picture : pictures) {
            const QImage image(out.filePath(QLatin1String(picture.file)));
            const QSize size(picture.units.x(picture.widthDlu), picture.units.y(picture.heightDlu));
            QVERIFY2(!image.isNull() && qAbs(image.width() - size.width()) <= 2 && qAbs(image.height() - size.height()) <= 2,
                     picture.file);
            // At least one pixel in a hundred differs from the background in the corner.
            qint64 other = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) other += image.pixel(x, y) != image.pixel(0, 0);
            QVERIFY2(other * 100 >= qint64(image.width()) * image.height(), picture.file);
        }
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "ScreenshotsTest.moc"
