#pragma once

#include "app/MainWindow.h"
#include "operations/Session.h"
#include "sim/SimulatedDriver.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

class TraceDriver;

// The shipped catalogue, copied beside the test executables by the build.
QString shippedCatalogue();

// Runs act on the next modal dialog of type D as soon as it is showing (from inside its modal
// loop). Gives up after a few seconds and closes whatever modal dialog is open, so that a test
// that waits for the wrong dialog fails instead of hanging. The returned flag tells whether
// act ran.
template <typename D>
std::shared_ptr<bool> whenModal(std::function<void(D*)> act) {
    auto ran = std::make_shared<bool>(false);
    auto* poll = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, act, ran, started] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<D*>(modal); dialog && dialog->isVisible()) {
            poll->stop();
            poll->deleteLater();
            *ran = true;
            act(dialog);
            return;
        }
        if (started->elapsed() > 5000) {
            poll->stop();
            poll->deleteLater();
            if (auto* other = qobject_cast<QDialog*>(modal)) other->reject();
        }
    });
    poll->start(5);
    return ran;
}

// A started, shown main window on the shipped catalogue, with a simulated programmer (behind
// an exchange trace) and the prompts replaced by recorders.
class WindowHarness {
public:
    explicit WindowHarness(const std::string& device, const std::string& chip = "",
                           SimConfig config = {});
    ~WindowHarness();

    SimulatedDriver* sim = nullptr;   // owned through the trace driver
    std::unique_ptr<TraceDriver> driver;
    std::unique_ptr<MainWindow> window;
    QTemporaryDir temp;

    QStringList messages;
    QList<QStringList> verifyErrors;
    QString nextOpenPath;   // what the open and save prompts answer; empty: cancelled
    QString nextSavePath;
    int openPrompts = 0;
    int savePrompts = 0;

    Session& session() { return window->session(); }
    template <typename W = QWidget>
    W* child(const char* name) const {
        W* widget = window->findChild<W*>(QString::fromLatin1(name));
        if (!widget) qWarning("no child %s", name);
        return widget;
    }
    QString text(const char* name) const;   // a label's or button's text
    void click(const char* name);

    bool waitConnected();                   // "Korvalin Connect" shown
    bool waitChainEnd(int timeoutMs = 10000);
    QStringList traceLines() const;         // the exchange trace so far
    QString tracePath() const;
};
