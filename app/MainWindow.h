// SPDX-License-Identifier: MIT
#pragma once

#include "app/WindowPrompts.h"
#include "operations/Frontend.h"

#include <QDialog>
#include <QTimer>

#include <memory>
#include <vector>

class QAction;
class Session;
class UsbDriver;
class WaitCursor;
namespace Ui { class MainWindow; }

// The application's one window. It shows what the session tells it through Frontend and turns
// the user's clicks into session calls; its 10 ms timer drives the connection poll and the
// operation chains. It refuses to close while a chain runs, so a worker never outlives the
// Programmer it uses.
class MainWindow : public QDialog, public Frontend {
    Q_OBJECT
public:
    explicit MainWindow(UsbDriver* driver, WindowPrompts prompts = WindowPrompts::standard(),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Set deviceName, the options and the catalogue's whereabouts here before start().
    Session& session() { return *session_; }

    // Fills the list, selects the remembered device and starts the timer. False when the
    // catalogue is missing (the message has been shown): the window is then not to be run.
    bool start();

    // The one way a HEX file enters the window, whether chosen with File Open, dropped on the
    // window or named on the command line: refused while a chain runs, a failure is shown.
    bool openFile(const QString& path);

    // Where both file dialogs start; follows every file opened or saved.
    QString lastFolder;

    QAction* aboutAction() const { return aboutAction_; }
    // Opens the USB setup; whoever knows the driver and the store connects it.
    QAction* usbSetupAction() const { return usbSetupAction_; }
    // The remembered fast-schedule choice: a checkable context-menu item, applied to every
    // device selected from now on.
    QAction* fastScheduleAction() const { return fastAction_; }
    // Checked: English from the next start on. Texts already on screen stay as they are.
    QAction* languageAction() const { return languageAction_; }
    const QTimer& timer() const { return timer_; }

    void done(int result) override;

    // Frontend
    void showMessage(const std::string& text) override;
    void setStatusText(const std::string& text) override;
    void setControls(const ControlStates& states) override;
    void setProgress(int percent) override;
    void showProgramDump(const std::string& text) override;
    void showEepromDump(const std::string& text) override;
    void setFieldText(Field field, const std::string& text) override;
    void setGroupCaptions(const std::string& program, const std::string& eeprom) override;
    void setDeviceList(const std::vector<std::string>& names) override;
    void setDeviceListSelection(int index) override;
    void showVerifyError(const std::string& program, const std::string& eeprom,
                         const std::string& config) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    std::optional<CalibrationChoice> askCalibration(const std::string& text,
                                                    const CalibrationChoice& suggested) override;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void layOutControls();
    void connectControls();
    void onTick();
    bool chainRunning() const;
    void onDeviceListChange(int index);
    void onFileOpen();
    void onFileSave();
    void onConfigWordField();
    void onDeviceIdField();
    void onUserIdField();
    void onTest();
    void onAbout();

    std::unique_ptr<Ui::MainWindow> ui_;
    WindowPrompts prompts_;
    std::unique_ptr<Session> session_;
    QTimer timer_;
    QAction* aboutAction_ = nullptr;
    QAction* usbSetupAction_ = nullptr;
    QAction* fastAction_ = nullptr;
    QAction* languageAction_ = nullptr;
    bool fastAppliedOn_ = false;
    std::string fastAppliedFor_;
    void applyFastSchedule();
    std::vector<std::unique_ptr<WaitCursor>> waitCursors_;
};
