// Figures of the window on the simulated programmer, offscreen:
//   - start-up: from the top of main() to the window's first paint (PIC16F877A selected, so
//     its 1024-line dump is built before the window shows);
//   - peak memory (ru_maxrss) over the whole run;
//   - the longest time the window's thread spent in one timer tick during File Open, Program
//     + Verify and Read of a PIC16F877A, the dump rebuilds included;
//   - the longest event of any kind (the Program click, ticks, paints) from the Program click
//     to the end of its verify: the window must never stall for longer than a frame.
// Usage: app_bench [--instant]   (default: the simulator runs in real time, as hardware would)
// KORVALIN_LANG=en times the start-up with the English translation loaded, as the window does.

#include "app/MainWindow.h"
#include "device/MemoryImage.h"
#include "dialogs/Translation.h"
#include "operations/Session.h"
#include "settings/Settings.h"
#include "sim/SimulatedDriver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Times every timer event the window's tick timer receives.
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;
    const QObject* tickTimer = nullptr;
    std::function<QString()> describe;   // what the window shows, for the slow-tick log
    QStringList slowTicks;
    double longestTickMs = 0;
    double totalTickMs = 0;
    long ticks = 0;

    bool measureEvents = false;    // time every outermost event meanwhile
    double longestEventMs = 0;
    QString longestEvent;
    int depth = 0;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth == 0 && measureEvents) {
            const auto type = event->type();
            const QString what = QStringLiteral("%1 to %2").arg(int(type)).arg(QString::fromLatin1(receiver->metaObject()->className()));
            ++depth;
            const auto start = Clock::now();
            const bool handled = timedNotify(receiver, event);
            const double ms = msSince(start);
            --depth;
            if (ms > longestEventMs) {
                longestEventMs = ms;
                longestEvent = what;
            }
            return handled;
        }
        ++depth;
        const bool handled = timedNotify(receiver, event);
        --depth;
        return handled;
    }

private:
    bool timedNotify(QObject* receiver, QEvent* event) {
        if (receiver != tickTimer || event->type() != QEvent::Timer)
            return QApplication::notify(receiver, event);
        const QString before = describe ? describe() : QString();
        const auto start = Clock::now();
        const bool handled = QApplication::notify(receiver, event);
        const double ms = msSince(start);
        if (ms > 16.0)
            slowTicks.append(QStringLiteral("%1 ms: %2 -> %3").arg(ms, 0, 'f', 1).arg(before, describe ? describe() : QString()));
        longestTickMs = std::max(longestTickMs, ms);
        totalTickMs += ms;
        ++ticks;
        return handled;
    }
};

class FirstPaint : public QObject {
public:
    Clock::time_point at{};
    bool seen = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!seen && event->type() == QEvent::Paint) {
            seen = true;
            at = Clock::now();
        }
        return QObject::eventFilter(watched, event);
    }
};

bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = Clock::now();
    bool instant = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--instant") == 0) instant = true;
    qputenv("QT_QPA_PLATFORM", "offscreen");

    TimingApplication app(argc, argv);
    QTranslator translator;
    const Language language = resolveLanguage({}, std::getenv("KORVALIN_LANG"), {});
    if (!applyLanguage(language, translator)) return 1;
    SimConfig config;
    config.chip = "PIC16F877A";
    config.realTime = !instant;
    SimulatedDriver sim(config);

    QTemporaryDir temp;
    const QString hexPath = temp.filePath(QStringLiteral("full.hex"));
    WindowPrompts prompts;
    prompts.openFile = [&](QWidget*, const QString&) { return hexPath; };
    prompts.saveFile = [](QWidget*, const QString&) { return QString(); };
    int problems = 0;
    prompts.message = [&](QWidget*, const QString& text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        ++problems;
    };
    prompts.verifyError = [&](QWidget*, const QString&, const QString&, const QString&) { ++problems; };

    MainWindow window(&sim, prompts);
    app.tickTimer = &window.timer();
    window.session().deviceName = "PIC16F877A";
    FirstPaint paint;
    window.installEventFilter(&paint);
    if (!window.start()) return 1;
    window.show();
    runUntil([&] { return paint.seen; }, 10000);
    const double startupMs = std::chrono::duration<double, std::milli>(paint.at - start).count();

    // Every word and byte different from blank, so the dumps and transfers are full size.
    MemoryImage full;
    full.resize(8192, 0x3FFF, 256);
    for (uint32_t i = 0; i < 8192; ++i) full.programWords[i] = static_cast<uint16_t>((i * 7) & 0x3FFF);
    for (uint32_t i = 0; i < 256; ++i) full.eepromBytes[i] = static_cast<uint16_t>(i ^ 0x5A);
    full.configWord = 0x3F3A;
    full.saveHex(hexPath.toStdString(), true, 0x3FFF);

    Session& session = window.session();
    auto* status = window.findChild<QLabel*>(QStringLiteral("statusLine"));
    app.describe = [status] { return status->text(); };
    runUntil([&] { return session.link.connected; }, 5000);
    app.longestTickMs = app.totalTickMs = 0;
    app.ticks = 0;
    // Posted, so that each click is an event of the window's thread like a user's.
    auto click = [&](const char* name) {
        QMetaObject::invokeMethod(window.findChild<QPushButton*>(QString::fromLatin1(name)),
                                  &QPushButton::click, Qt::QueuedConnection);
        QCoreApplication::processEvents();
    };
    const auto work = Clock::now();
    click("fileOpenButton");
    app.measureEvents = true;
    click("programButton");
    const bool programmed = runUntil([&] { return !session.chainRunning(); }, 120000);
    app.measureEvents = false;
    click("readButton");
    const bool read = runUntil([&] { return !session.chainRunning(); }, 120000);
    const double workMs = msSince(work);

    std::printf("simulator                       %s\n", instant ? "instant" : "real time");
    std::printf("language                        %s\n", languageName(language));
    std::printf("start-up to first paint         %.1f ms\n", startupMs);
    std::printf("open + program/verify + read    %.1f ms (%s)\n", workMs,
                programmed && read && problems == 0 && session.lastChainOk ? "ok" : "FAILED");
    std::printf("timer ticks                     %ld, %.3f ms on average\n", app.ticks,
                app.ticks ? app.totalTickMs / app.ticks : 0.0);
    std::printf("longest tick                    %.2f ms\n", app.longestTickMs);
    std::printf("longest event, program/verify   %.2f ms (event %s)\n", app.longestEventMs,
                qPrintable(app.longestEvent));
    std::printf("peak memory (ru_maxrss)         %.1f MB\n", peakRssKb() / 1024.0);
    for (const QString& slow : app.slowTicks) std::printf("  tick over 16 ms: %s\n", qPrintable(slow));
    return programmed && read && problems == 0 ? 0 : 1;
}
