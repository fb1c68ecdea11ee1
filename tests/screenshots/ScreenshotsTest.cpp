// SPDX-License-Identifier: MIT
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The screenshot tool must leave one real picture per window: the size its template gives in
// the font it is laid out with, and more than an empty background.
class ScreenshotsTest : public QObject {
    Q_OBJECT
private slots:
    void everyPictureIsWritten();
};

void ScreenshotsTest::everyPictureIsWritten() {
    QTemporaryDir out;
    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/korvalin-screenshots"),
               {out.path()});
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
             tool.readAllStandardError().constData());

    const QFont fixed = fixedDialogFont();
    const QFont proportional = proportionalDialogFont();
    struct Picture { const char* file; int widthDlu; int heightDlu; const QFont& font; };
    const Picture pictures[] = {
        {"main-window.png", 408, 214, fixed},     {"config-word.png", 255, 140, proportional},
        {"config-word-page2.png", 255, 140, proportional},
        {"user-id.png", 187, 95, proportional},   {"device-id.png", 141, 65, proportional},
        {"test-panel.png", 286, 101, proportional}, {"about.png", 235, 48, proportional},
        {"verify-error.png", 110, 79, proportional}, {"calibration.png", 150, 70, proportional},
    };
    for (const Picture& picture : pictures) {
        const QString name = QLatin1String(picture.file);
        const QImage image(out.filePath(name));
        QVERIFY2(!image.isNull(), qPrintable(name));
        const DialogUnits units(picture.font);
        QVERIFY2(qAbs(image.width() - units.x(picture.widthDlu)) <= 2 &&
                     qAbs(image.height() - units.y(picture.heightDlu)) <= 2,
                 qPrintable(QStringLiteral("%1 is %2x%3").arg(name).arg(image.width()).arg(image.height())));
        // At least one pixel in a hundred differs from the background in the corner.
        const QRgb background = image.pixel(0, 0);
        qint64 other = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) other += image.pixel(x, y) != background;
        QVERIFY2(other * 100 >= qint64(image.width()) * image.height(), qPrintable(name));
    }
}

QTEST_MAIN(ScreenshotsTest)
#include "ScreenshotsTest.moc"
