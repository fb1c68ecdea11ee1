#include "WindowHarness.h"

#include "programmer/TraceDriver.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>

QString shippedCatalogue() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/PicDeviceList.txt");
}

WindowHarness::WindowHarness(const std::string& device, const std::string& chip, SimConfig config) {
    config.chip = chip;
    auto simulated = std::make_unique<SimulatedDriver>(config);
    sim = simulated.get();
    driver = std::make_unique<TraceDriver>(std::move(simulated), tracePath().toStdString());

    WindowPrompts prompts;
    prompts.openFile = [this](QWidget*) { ++openPrompts; return nextOpenPath; };
    prompts.saveFile = [this](QWidget*) { ++savePrompts; return nextSavePath; };
    prompts.message = [this](QWidget*, const QString& text) { messages.append(text); };
    prompts.verifyError = [this](QWidget*, const QString& p, const QString& e, const QString& c) {
        verifyErrors.append(QStringList{p, e, c});
    };
    window = std::make_unique<MainWindow>(driver.get(), prompts);
    window->session().deviceName = device;
    window->session().catalogPath = shippedCatalogue().toStdString();
    window->start();
    window->show();
}

WindowHarness::~WindowHarness() {
    // A test that failed half-way may leave a chain running; let it end before the window goes.
    waitChainEnd();
    window.reset();
}

QString WindowHarness::tracePath() const { return temp.filePath(QStringLiteral("trace.txt")); }

QString WindowHarness::text(const char* name) const {
    QWidget* widget = child(name);
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    return QString();
}

void WindowHarness::click(const char* name) {
    QWidget* widget = child(name);
    if (widget) QTest::mouseClick(widget, Qt::LeftButton);
}

bool WindowHarness::waitConnected() {
    return QTest::qWaitFor([this] { return text("statusLine") == QStringLiteral("Korvalin Connect"); }, 5000);
}

bool WindowHarness::waitChainEnd(int timeoutMs) {
    return QTest::qWaitFor([this] { return !window || !window->session().chainRunning(); }, timeoutMs);
}

QStringList WindowHarness::traceLines() const {
    QFile file(tracePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
