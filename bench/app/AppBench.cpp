// SPDX-License-Identifier: MIT
// Figures of the window on the simulated programmer, offscreen:
//   - start-up: from the top of main() to the window's first paint (PIC16F877A selected, so
//     its 1024-line dump is built before the window shows);
//   - peak memory (ru_maxrss) over the whole run;
//   - the longest time the window's thread spent in one timer tick during File Open, Program
//     + Verify, Read and Erase of a PIC16F877A, the dump rebuilds included;
//   - the longest event of any kind (the click, ticks, paints) from each chain's click to its
//     end, for those chains and for the calibration chains of a PIC12F629 (Program + Verify
//     and Erase, each with its calibration read and write-back): the window must never stall
//     for longer than a frame.
// Usage: app_bench [--instant]   (default: the simulator runs in real time, as hardware would)
// KORVALIN_LANG=en times the start-up with the English translation loaded, as the window does.
// QT_QPA_PLATFORM=xcb under Xvfb measures the X11 drawing as well; offscreen by default.

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

#include <functional>
#include <vector>

#include <sys/resource.h>
#include <time.h>

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

// CPU time of the calling thread: on a loaded machine the wall clock also counts the time the
// scheduler gave to other processes, which no change of ours can win back.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
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
    double longestEventCpuMs = 0;
    QString longestCpuEvent;
    int depth = 0;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth == 0 && measureEvents) {
            const auto type = event->type();
            const QString what = QStringLiteral("%1 to %2").arg(int(type)).arg(QString::fromLatin1(receiver->metaObject()->className()));
            ++depth;
            const auto start = Clock::now();
            const double cpuStart = threadCpuMs();
            const bool handled = timedNotify(receiver, event);
            const double ms = msSince(start);
            const double cpuMs = threadCpuMs() - cpuStart;
            --depth;
            if (ms > longestEventMs) {
                longestEventMs = ms;
                longestEvent = what;
            }
            if (cpuMs > longestEventCpuMs) {
                longestEventCpuMs = cpuMs;
                longestCpuEvent = what;
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

// The longest event of one chain, from its click to its end.
struct ChainFigure {
    QString name;
    double longestMs = 0;
    QString event;
    double longestCpuMs = 0;
    QString cpuEvent;
    bool ok = false;
};

// Clicks a button as a user would (posted, so that the click is an event of the window's
// thread) and waits for the chain it starts, timing every event meanwhile.
ChainFigure runChain(TimingApplication& app, MainWindow& window, const char* button, const QString& name) {
    Session& session = window.session();
    app.longestEventMs = app.longestEventCpuMs = 0;
    app.longestEvent.clear();
    app.longestCpuEvent.clear();
    app.measureEvents = true;
    QMetaObject::invokeMethod(window.findChild<QPushButton*>(QString::fromLatin1(button)),
                              &QPushButton::click, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    const bool ended = runUntil([&] { return !session.chainRunning(); }, 120000);
    app.measureEvents = false;
    return {name, app.longestEventMs, app.longestEvent, app.longestEventCpuMs, app.longestCpuEvent,
            ended && session.lastChainOk};
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = Clock::now();
    bool instant = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--instant") == 0) instant = true;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

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

    std::vector<ChainFigure> chains;
    double startupMs = 0;
    double workMs = 0;
    bool ok = true;
    {
        MainWindow window(&sim, prompts);
        app.tickTimer = &window.timer();
        window.session().deviceName = "PIC16F877A";
        FirstPaint paint;
        window.installEventFilter(&paint);
        if (!window.start()) return 1;
        window.show();
        runUntil([&] { return paint.seen; }, 10000);
        startupMs = std::chrono::duration<double, std::milli>(paint.at - start).count();

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
        const auto work = Clock::now();
        QMetaObject::invokeMethod(window.findChild<QPushButton*>(QStringLiteral("fileOpenButton")),
                                  &QPushButton::click, Qt::QueuedConnection);
        QCoreApplication::processEvents();
        chains.push_back(runChain(app, window, "programButton", QStringLiteral("program/verify")));
        chains.push_back(runChain(app, window, "readButton", QStringLiteral("read")));
        workMs = msSince(work);
        chains.push_back(runChain(app, window, "eraseButton", QStringLiteral("erase")));
        app.tickTimer = nullptr;
        app.describe = nullptr;
    }
    {
        // A chip with an oscillator calibration word: Program and Erase read it first and
        // write it back after.
        SimConfig calibrated;
        calibrated.chip = "PIC12F629";
        calibrated.realTime = !instant;
        SimulatedDriver calibratedSim(calibrated);
        MainWindow window(&calibratedSim, prompts);
        app.tickTimer = &window.timer();
        window.session().deviceName = "PIC12F629";
        if (!window.start()) return 1;
        window.show();
        MemoryImage small;
        small.resize(1024, 0x3FFF, 128);
        for (uint32_t i = 0; i < 1023; ++i) small.programWords[i] = static_cast<uint16_t>((i * 5) & 0x3FFF);
        small.configWord = 0x31F4;
        small.saveHex(hexPath.toStdString(), true, 0x3FFF);
        runUntil([&] { return window.session().link.connected; }, 5000);
        QMetaObject::invokeMethod(window.findChild<QPushButton*>(QStringLiteral("fileOpenButton")),
                                  &QPushButton::click, Qt::QueuedConnection);
        QCoreApplication::processEvents();
        chains.push_back(runChain(app, window, "programButton", QStringLiteral("12F629 program/verify")));
        chains.push_back(runChain(app, window, "eraseButton", QStringLiteral("12F629 erase")));
        app.tickTimer = nullptr;
    }
    for (const ChainFigure& chain : chains) ok = ok && chain.ok;
    ok = ok && problems == 0;

    std::printf("simulator                       %s\n", instant ? "instant" : "real time");
    std::printf("language                        %s\n", languageName(language));
    std::printf("start-up to first paint         %.1f ms\n", startupMs);
    std::printf("open + program/verify + read    %.1f ms (%s)\n", workMs, ok ? "ok" : "FAILED");
    std::printf("timer ticks                     %ld, %.3f ms on average\n", app.ticks,
                app.ticks ? app.totalTickMs / app.ticks : 0.0);
    std::printf("longest tick                    %.2f ms\n", app.longestTickMs);
    for (const ChainFigure& chain : chains)
        std::printf("longest event, %-21s %6.2f ms (event %s), thread CPU %5.2f ms (event %s)%s\n",
                    qPrintable(chain.name), chain.longestMs, qPrintable(chain.event), chain.longestCpuMs,
                    qPrintable(chain.cpuEvent), chain.ok ? "" : " FAILED");
    std::printf("peak memory (ru_maxrss)         %.1f MB\n", peakRssKb() / 1024.0);
    for (const QString& slow : app.slowTicks) std::printf("  tick over 16 ms: %s\n", qPrintable(slow));
    return ok ? 0 : 1;
}
