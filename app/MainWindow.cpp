// SPDX-License-Identifier: MIT
#include "app/MainWindow.h"

#include "app/WaitCursor.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/AppIcon.h"
#include "dialogs/ConfigWordDialog.h"
#include "dialogs/DeviceIdDialog.h"
#include "dialogs/DialogFonts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/TestPanelDialog.h"
#include "dialogs/UserIdDialog.h"
#include "operations/CalibrationJournal.h"
#include "operations/Session.h"
#include "operations/Texts.h"
#include "programmer/FastSchedule.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

#include <array>

namespace {
constexpr int kTickMs = 10;
constexpr int kDeviceListDroppedHeightDlu = 139;

QString qs(const std::string& text) { return QString::fromStdString(text); }

// A drop is taken only when it is one local .hex file: anything else would be a guess at what
// the user meant.
QString droppedHexFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return QString();
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return QString();
    const QString path = urls.first().toLocalFile();
    return QFileInfo(path).suffix().compare(QLatin1String("hex"), Qt::CaseInsensitive) == 0
               ? path
               : QString();
}

// The dumps are built with CR LF line ends; the edit boxes want plain line feeds.
QString dumpText(const std::string& text) {
    QString shown = qs(text);
    shown.remove(QLatin1Char('\r'));
    return shown;
}
}  // namespace

MainWindow::MainWindow(UsbDriver* driver, WindowPrompts prompts, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::MainWindow>()),
      prompts_(std::move(prompts)) {
    ui_->setupUi(this);
    layOutControls();
    setWindowIcon(appIcon());
    setAcceptDrops(true);

    // Under X11 and Wayland there is no system menu to add to; the version item lives in the
    // window's context menu instead.
    aboutAction_ = new QAction(QString::fromUtf8(texts::aboutMenu), this);
    addAction(aboutAction_);
    usbSetupAction_ = new QAction(QString::fromUtf8(texts::usbSetupMenu), this);
    usbSetupAction_->setEnabled(false);
    addAction(usbSetupAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::onAbout);
    fastAction_ = new QAction(QString::fromUtf8(texts::fastScheduleMenu), this);
    fastAction_->setCheckable(true);
    addAction(fastAction_);
    connect(fastAction_, &QAction::toggled, this, [this] { applyFastSchedule(); });
    languageAction_ = new QAction(QString::fromUtf8(texts::languageMenu), this);
    languageAction_->setCheckable(true);
    languageAction_->setChecked(currentLanguage() == Language::English);
    addAction(languageAction_);
    connect(languageAction_, &QAction::triggered, this,
            [this] { setStatusText(texts::languageAppliesAtNextStart); });

    session_ = std::make_unique<Session>(*this, driver);
    session_->catalogueDirs = {QCoreApplication::applicationDirPath().toStdString(),
                               KORVALIN_INSTALL_DATADIR};
    session_->calibrationJournal = calibrationJournalPath();
    connectControls();
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &MainWindow::onTick);
}

// The session's worker, if any, is joined by its destructor before the widgets go.
MainWindow::~MainWindow() {
    timer_.stop();
    session_.reset();
    waitCursors_.clear();
}

void MainWindow::layOutControls() {
    const QFont font = fixedDialogFont();
    DialogUnits::layOut(this, font);
    // A drop-down list's template height is its dropped-down extent; the closed box takes the
    // height its font needs.
    const DialogUnits units(font);
    QComboBox* list = ui_->deviceList;
    const int closedHeight = list->sizeHint().height();
    list->resize(list->width(), closedHeight);
    const int rowHeight = qMax(1, list->fontMetrics().height());
    list->setMaxVisibleItems(qMax(1, (units.y(kDeviceListDroppedHeightDlu) - closedHeight) / rowHeight));
    ui_->programDump->setFont(font);
    ui_->eepromDump->setFont(font);
}

void MainWindow::connectControls() {
    Session& s = *session_;
    connect(ui_->programButton, &QPushButton::clicked, this, [&s] { s.onProgramButton(); });
    connect(ui_->readButton, &QPushButton::clicked, this, [&s] { s.onReadButton(); });
    connect(ui_->verifyButton, &QPushButton::clicked, this, [&s] { s.onVerifyButton(); });
    connect(ui_->eraseButton, &QPushButton::clicked, this, [&s] { s.onEraseButton(); });
    connect(ui_->socketField, &ClickableLabel::clicked, this, [&s] { s.onSocketFieldClick(); });
    connect(ui_->fileOpenButton, &QPushButton::clicked, this, &MainWindow::onFileOpen);
    connect(ui_->fileSaveButton, &QPushButton::clicked, this, &MainWindow::onFileSave);
    connect(ui_->configWordField, &ClickableLabel::clicked, this, &MainWindow::onConfigWordField);
    connect(ui_->deviceIdField, &ClickableLabel::clicked, this, &MainWindow::onDeviceIdField);
    connect(ui_->userIdField, &ClickableLabel::clicked, this, &MainWindow::onUserIdField);
    connect(ui_->testButton, &QPushButton::clicked, this, &MainWindow::onTest);
    connect(ui_->deviceList, &QComboBox::currentIndexChanged, this, &MainWindow::onDeviceListChange);
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

bool MainWindow::start() {
    const bool listed = session_->initialise();
    timer_.start();
    return listed;
}

// OK, "ｷｬﾝｾﾙ", Escape and the close box all end here; none of them may end the window while a
// worker still uses the Programmer.
void MainWindow::done(int result) {
    if (session_ && session_->chainRunning()) return;
    QDialog::done(result);
}

void MainWindow::onTick() {
    session_->tick();
    applyFastSchedule();   // a choice made while a chain ran takes effect once it has ended
}

void MainWindow::onDeviceListChange(int index) {
    if (index < 0) return;
    session_->onDeviceListChange(ui_->deviceList->itemText(index).toStdString());
    applyFastSchedule();
}

void MainWindow::applyFastSchedule() {
    // Not while a chain runs: its worker reads the schedule.
    if (session_->chainRunning()) return;
    const bool on = fastAction_->isChecked();
    if (on == fastAppliedOn_ && session_->deviceName == fastAppliedFor_) return;
    fastAppliedOn_ = on;
    fastAppliedFor_ = session_->deviceName;
    Programmer& programmer = session_->programmer;
    programmer.fastSchedule.reset();
    if (!on) return;
    programmer.fastSchedule = fastScheduleFor(session_->deviceName);
    if (!programmer.fastSchedule) setStatusText(texts::fastScheduleUnavailable);
}

// A step's start checks run on the worker while the controls are still enabled: until the
// step is armed or refused, these do nothing rather than open a dialog whose result would be
// refused, or reach the Programmer under the worker.
bool MainWindow::chainRunning() const { return session_->chainRunning(); }

void MainWindow::onFileOpen() {
    if (chainRunning()) return;
    session_->setProgress(0, 1);
    const QString path = prompts_.openFile(this, lastFolder);
    if (path.isEmpty()) return;
    openFile(path);
}

bool MainWindow::openFile(const QString& path) {
    if (session_->chainRunning()) return false;
    // The folder is kept even when the file fails: the user was looking there.
    const QFileInfo file(path);
    if (file.absoluteDir().exists()) lastFolder = file.absolutePath();
    return session_->openHexFile(path.toStdString());
}

void MainWindow::onFileSave() {
    if (chainRunning()) return;
    const QString path = prompts_.saveFile(this, lastFolder);
    if (path.isEmpty()) return;
    lastFolder = QFileInfo(path).absolutePath();
    session_->saveHexFile(path.toStdString());
}

// While a chain runs the drop is refused already on entry, so the cursor says so.
void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!session_->chainRunning() && !droppedHexFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QString path = droppedHexFile(event->mimeData());
    if (path.isEmpty() || session_->chainRunning()) return;
    event->acceptProposedAction();
    openFile(path);
}

void MainWindow::onConfigWordField() {
    if (chainRunning()) return;
    Session& s = *session_;
    s.resetProgress();
    ConfigWordValues values;
    values.deviceName = qs(s.deviceName);
    values.configWord = s.programmer.configWord;
    values.configWord2 = s.programmer.configWord2;
    values.configBitTags = qs(s.configBitTags);
    values.protectOff = s.protectOff;
    values.family = s.programmer.family;
    ConfigWordDialog dialog(values, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const ConfigWordValues result = dialog.values();
    s.applyConfigWords(result.configWord, result.configWord2, result.protectOff);
}

void MainWindow::onDeviceIdField() {
    if (chainRunning()) return;
    Session& s = *session_;
    s.resetProgress();
    DeviceIdDialog dialog(DeviceIdValues{qs(s.deviceName), s.skipDeviceIdCheck}, this);
    if (dialog.exec() != QDialog::Accepted) return;
    s.applySkipDeviceIdCheck(dialog.values().skipDeviceIdCheck);
}

void MainWindow::onUserIdField() {
    if (chainRunning()) return;
    Session& s = *session_;
    s.resetProgress();
    UserIdDialog dialog(UserIdValues{qs(s.deviceName), s.programmer.userId,
                                     s.programmer.writeUserId ? 0 : 1},
                        this);
    if (dialog.exec() != QDialog::Accepted) return;
    const UserIdValues result = dialog.values();
    s.applyUserId(result.userId, result.userIdOff);
}

// The panel starts from a known safe output state and leaves it behind, however it closes.
void MainWindow::onTest() {
    if (chainRunning()) return;
    Programmer& programmer = session_->programmer;
    programmer.resetOutputs();
    {
        TestPanelDialog panel(&programmer, this);
        panel.exec();
    }
    programmer.resetOutputs();
}

void MainWindow::onAbout() {
    AboutDialog about(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(), this);
    about.exec();
}

// ---- Frontend ----------------------------------------------------------------------------

void MainWindow::showMessage(const std::string& text) { prompts_.message(this, qs(text)); }

std::optional<CalibrationChoice> MainWindow::askCalibration(const std::string& text,
                                                            const CalibrationChoice& suggested) {
    if (!prompts_.calibration) {
        showMessage(text);
        return std::nullopt;
    }
    return prompts_.calibration(this, qs(text), suggested);
}

void MainWindow::setStatusText(const std::string& text) {
    ui_->statusLine->setText(qs(text));
}

void MainWindow::setControls(const ControlStates& states) {
    ui_->okButton->setEnabled(states.okCancelEnabled);
    ui_->cancelButton->setEnabled(states.okCancelEnabled);
    ui_->programButton->setText(states.programIsCancel ? QStringLiteral("Cancel")
                                                       : QStringLiteral("Program"));
    ui_->programButton->setEnabled(states.programEnabled);
    const std::array<QWidget*, 11> others = {
        ui_->verifyButton,    ui_->readButton,      ui_->eraseButton,     ui_->fileOpenButton,
        ui_->fileSaveButton,  ui_->deviceList,      ui_->configWordField, ui_->deviceIdField,
        ui_->userIdField,     ui_->socketField,     ui_->testButton};
    for (QWidget* control : others)
        control->setEnabled(states.othersEnabled);
}

void MainWindow::setProgress(int percent) {
    ui_->progressBar->setRange(0, 100);
    ui_->progressBar->setValue(percent);
}

void MainWindow::showProgramDump(const std::string& text) {
    ui_->programDump->setPlainText(dumpText(text));
}

void MainWindow::showEepromDump(const std::string& text) {
    ui_->eepromDump->setPlainText(dumpText(text));
}

void MainWindow::setFieldText(Field field, const std::string& text) {
    switch (field) {
    case Field::ConfigWord: ui_->configWordField->setText(qs(text)); break;
    case Field::DeviceId: ui_->deviceIdField->setText(qs(text)); break;
    case Field::UserId: ui_->userIdField->setText(qs(text)); break;
    case Field::Socket: ui_->socketField->setText(qs(text)); break;
    }
}

void MainWindow::setGroupCaptions(const std::string& program, const std::string& eeprom) {
    ui_->programGroup->setTitle(qs(program));
    ui_->eepromGroup->setTitle(qs(eeprom));
}

// The session fills and selects the list itself; only the user's own changes are reported back.
void MainWindow::setDeviceList(const std::vector<std::string>& names) {
    QSignalBlocker block(ui_->deviceList);
    ui_->deviceList->clear();
    for (const std::string& name : names) ui_->deviceList->addItem(qs(name));
    ui_->deviceList->setCurrentIndex(-1);
}

void MainWindow::setDeviceListSelection(int index) {
    QSignalBlocker block(ui_->deviceList);
    ui_->deviceList->setCurrentIndex(index);
}

void MainWindow::showVerifyError(const std::string& program, const std::string& eeprom,
                                 const std::string& config) {
    prompts_.verifyError(this, qs(program), qs(eeprom), qs(config));
}

void MainWindow::beginWaitCursor() { waitCursors_.push_back(std::make_unique<WaitCursor>()); }

void MainWindow::endWaitCursor() {
    if (!waitCursors_.empty()) waitCursors_.pop_back();
}
