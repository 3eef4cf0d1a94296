#include "keypad_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDebug>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QShortcut>
#include <QStyle>

#include "about_dlg.h"
#include "dialog/dialog_navigation.h"
#include "dialog/dialog_template.h"
#include "dialog/resource_image.h"
#include "input/keypad_input.h"
#include "serial_ports_dlg.h"
#include "tool_tips.h"

namespace {

constexpr int kKeypadDialogId = 102;
constexpr int kAboutStringId = 101;
const char* const kWindowTitle = "OSKA-ZORVIK";
const char* const kCameraTypeRows[] = {"ZOOM", "B/D"};
const char* const kProtocolRows[] = {"OSKA-DEFAULT", "PELCO D"};

void SelectRow(QComboBox* combo, int row) {
    const int wanted = row >= 0 && row < combo->count() ? row : -1;
    if (combo->currentIndex() != wanted)
        combo->setCurrentIndex(wanted);
}

void Say(const QString& text) {
    qWarning().noquote() << QCoreApplication::applicationName() + QStringLiteral(": ") + text;
}

}  // namespace

CKeypadDlg::CKeypadDlg(const KeypadServices& services, MessageSink* messages, QWidget* parent)
    : QDialog(parent), controller(services), messages(messages), appIcon(LoadAppIcon()) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogTemplate layout = LoadDialogTemplate(kKeypadDialogId);
    setWindowTitle(layout.caption);
    const QVector<QWidget*> widgets = BuildControls(this, layout);
    navigation = std::make_unique<DialogNavigation>(layout, widgets);
    for (int i = 0; i < widgets.size(); ++i)
        if (layout.controls.at(i).kind == QLatin1String("picture"))
            AddRemoteHoldNote(widgets.at(i));
    cameraTypeCombo = static_cast<QComboBox*>(Control(ControlId::CameraTypeCombo));
    protocolCombo = static_cast<QComboBox*>(Control(ControlId::ProtocolCombo));
    comPortCombo = static_cast<QComboBox*>(Control(ControlId::ComPortCombo));
    baudRateCombo = static_cast<QComboBox*>(Control(ControlId::BaudRateCombo));
    statusListBox = static_cast<QListWidget*>(Control(ControlId::StatusList));
    // The operator can neither select nor scroll the list, but must read it easily.
    statusListBox->setEnabled(false);
    QPalette palette = statusListBox->palette();
    palette.setColor(QPalette::Disabled, QPalette::Text,
                     palette.color(QPalette::Active, QPalette::Text));
    statusListBox->setPalette(palette);

    // Only a row the operator picks runs a handler; the program's own selections do not.
    connect(comPortCombo, &QComboBox::activated, this, &CKeypadDlg::OnSelChangeComPort);
    connect(protocolCombo, &QComboBox::activated, this, &CKeypadDlg::OnSelChangeProtocol);
    connect(baudRateCombo, &QComboBox::activated, this, &CKeypadDlg::OnSelChangeBaudRate);
    connect(cameraTypeCombo, &QComboBox::activated, this, &CKeypadDlg::OnSelChangeCameraType);

    RefreshOnListOpen(comPortCombo, [this] { UpdatePortToolTips(); });

    input = std::make_unique<KeypadInput>(
        *this, KeypadInput::Queries{[this] { return controller.MovementActive(); },
                                    [this] { return showingMessage; },
                                    [this] { return endPending && endPending(); }});
    connect(input.get(), &KeypadInput::KeyPressed, this, &CKeypadDlg::PressKey);
    connect(input.get(), &KeypadInput::PcKeyPressed, this, &CKeypadDlg::PressPcKey);
    connect(input.get(), &KeypadInput::StopWanted, this, &CKeypadDlg::SendStop);
    controller.SetLineWatcher([this] { OnLineChanged(); });
    controller.SetHoldWatcher([this] { ShowRemoteHold(); });
    AddAboutEntry();
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    FillCombos();
    controller.OnInitDialog();
    ShowState();
    if (!controller.InitOpenPending())
        ShowLinkFailure(controller.PortOpen());
}

void CKeypadDlg::AddRemoteHoldNote(QWidget* logo) {
    // Over the logo, where the operator looks anyway, while a remote client holds a movement;
    // the title, the status lines and the controls stay as they are.
    remoteHold = new QLabel(logo);
    remoteHold->setGeometry(logo->rect());
    remoteHold->setObjectName(QStringLiteral("remoteHold"));
    remoteHold->setAccessibleName(QStringLiteral("Remote hold"));
    remoteHold->setAlignment(Qt::AlignCenter);
    remoteHold->setWordWrap(true);
    remoteHold->setTextFormat(Qt::PlainText);
    remoteHold->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    remoteHold->setAutoFillBackground(true);
    QPalette palette = remoteHold->palette();
    palette.setColor(QPalette::Window, QColor(0xFF, 0xE0, 0x80));
    palette.setColor(QPalette::WindowText, Qt::black);
    remoteHold->setPalette(palette);
    remoteHold->hide();
}

void CKeypadDlg::ShowRemoteHold() {
    const QString text = controller.RemoteHoldText();
    if (!remoteHold)
        return;
    remoteHold->setText(text);
    remoteHold->setAccessibleDescription(text);
    remoteHold->setVisible(!text.isEmpty());
    if (!text.isEmpty())
        remoteHold->raise();
}

void CKeypadDlg::FinishInitDialog() {
    if (!controller.InitOpenPending())
        return;
    controller.FinishInitDialog();
    ShowState();
    ShowLinkFailure(controller.PortOpen());
}

CKeypadDlg::~CKeypadDlg() = default;

QWidget* CKeypadDlg::Control(int controlId) const {
    return FindControl(this, controlId);
}

void CKeypadDlg::PressKey(int controlId) {
    if (controlId == ControlId::CommunicationSet) {
        OnCommunicationSet();
        return;
    }
    ShowNotice(controller.PressKey(controlId));
    ShowState();
}

void CKeypadDlg::PressPcKey(int virtualKey) {
    ShowNotice(controller.PressPcKey(virtualKey));
    ShowState();
}

void CKeypadDlg::SendStop() {
    const Notice notice = controller.SendStop();
    stopLost = notice == Notice::TransferError;
    ShowNotice(notice);
}

QString CKeypadDlg::StopOutcome() const {
    if (!stopLost)
        return QStringLiteral("the moving camera was sent the stop");
    QString reason = controller.WriteFailureReason();
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason.isEmpty()
               ? QStringLiteral("the stop could not be sent to the moving camera")
               : QStringLiteral("the stop could not be sent to the moving camera (%1)").arg(reason);
}

QString CKeypadDlg::RunEndOutcome(bool moving, const KeypadController::RunEnd& end) const {
    QString reason = end.reason;
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    const QString because = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
    if (end.handedOver)
        return QStringLiteral(
                   "the stop owed to %1 did not go out%2: the guardian holds the "
                   "line and sends it once the program has ended")
            .arg(end.camera, because);
    if (end.stopOwed)
        return QStringLiteral("the stop owed to %1 could not be sent%2").arg(end.camera, because);
    return moving ? QStringLiteral("the moving camera was sent the stop")
                  : QStringLiteral("no camera was moving");
}

void CKeypadDlg::ShowNotice(Notice notice) {
    if (notice == Notice::None)
        return;
    if (notice == Notice::TransferError)
        ShowWriteFailure();
    ShowMessage(QString::fromLatin1(notice == Notice::TransferError ? kTransferErrorText
                                                                    : kCameraIdRangeText));
    controller.SettleFailedFrame();
    // A stop owed for a key released while the box had the keyboard goes out once the
    // handler that showed it has finished.
    QMetaObject::invokeMethod(input.get(), &KeypadInput::OnMessageClosed, Qt::QueuedConnection);
}

void CKeypadDlg::ShowMessage(const QString& text) {
    if (ending) {
        Say(text + QStringLiteral(" (on the way out)"));
        return;
    }
    showingMessage = true;
    if (messages) {
        messages->ShowMessage(text);
    } else {
        // An OK button only; it blocks until the operator dismisses it.
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                        QMessageBox::Ok, this);
        box.exec();
    }
    showingMessage = false;
}

void CKeypadDlg::done(int result) {
    // A camera is never left moving by a key whose release the program can no longer see.
    input->OnWindowClosing();
    QDialog::done(result);
}

void CKeypadDlg::StopMovement(const QString& why) {
    if (!controller.MovementActive())
        return;
    SendStop();
    Say(why + QStringLiteral(": ") + StopOutcome() + QLatin1Char('.'));
}

void CKeypadDlg::EndRun(const QString& why) {
    if (ending)
        return;
    ending = true;
    // A camera moves while the record owes its stop: a key still held after the line came
    // back with its stop sent moves nothing.
    const bool moving = controller.OwesStop();
    input->OnWindowClosing();
    const KeypadController::RunEnd end = controller.ReleasePort();
    QString word = why + QStringLiteral(": ") + RunEndOutcome(moving, end);
    if (end.wasOpen)
        word += QStringLiteral("; COM%1 released").arg(controller.LinkPort());
    Say(word + QLatin1Char('.'));
    // A box over the window runs a loop of its own; it ends first, then the window's.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QDialog*>(window);
        if (box && box != this && box->isVisible())
            box->reject();
    }
    done(QDialog::Rejected);
}

void CKeypadDlg::AddAboutEntry() {
    auto* serialPorts = new QShortcut(QKeySequence(Qt::Key_F2), this);
    connect(serialPorts, &QShortcut::activated, this, &CKeypadDlg::ShowSerialPorts);
    const QString text = LoadResourceString(kAboutStringId);
    if (!text.isEmpty())
        AddSystemMenuAbout(text);
    setWindowIcon(appIcon);
}

void CKeypadDlg::SetRemoteEntry(std::function<void()> open) {
    const bool first = !openRemote;
    openRemote = std::move(open);
    if (first && openRemote)
        AddSystemMenuRemote();
}

void CKeypadDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CKeypadDlg::ShowSerialPorts() {
    CSerialPortsDlg dialog(controller.PortEntries(), controller.PortsPresent(), this,
                           [this](const QString& device) { return controller.PortHolder(device); });
    if (dialog.exec() != QDialog::Accepted)
        return;
    controller.StorePortEntries(dialog.ChosenEntries());
    UpdatePortToolTips();
}

void CKeypadDlg::UpdatePortToolTips() {
    ShowPortToolTips(comPortCombo, controller.PortToolTips());
}

void CKeypadDlg::FillCombos() {
    for (int i = 0; i < 4; ++i) {
        comPortCombo->addItem(QStringLiteral("COM%1").arg(i + 1));
        baudRateCombo->addItem(QString::number(KeypadController::kBaudRates[i]));
    }
    for (int i = 0; i < 2; ++i) {
        cameraTypeCombo->addItem(QString::fromLatin1(kCameraTypeRows[i]));
        protocolCombo->addItem(QString::fromLatin1(kProtocolRows[i]));
    }
    // A combo box selects its first row as soon as it has one; the rows start unselected
    // so that a stored value outside them stays in force.
    for (QComboBox* combo : {comPortCombo, baudRateCombo, cameraTypeCombo, protocolCombo})
        combo->setCurrentIndex(-1);
}

void CKeypadDlg::ShowState() {
    const QStringList& lines = controller.StatusTexts();
    while (statusListBox->count() > lines.size()) delete statusListBox->takeItem(lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        if (i == statusListBox->count())
            statusListBox->addItem(lines[i]);
        else if (statusListBox->item(i)->text() != lines[i])
            statusListBox->item(i)->setText(lines[i]);
    }
    for (int id : KeypadController::kRuledKeys) Control(id)->setEnabled(controller.KeyEnabled(id));
    const ComboRows& rows = controller.Rows();
    SelectRow(comPortCombo, rows.comPort);
    SelectRow(baudRateCombo, rows.baudRate);
    SelectRow(cameraTypeCombo, rows.cameraType);
    SelectRow(protocolCombo, rows.protocol);
}

void CKeypadDlg::OnSelChangeComPort() {
    controller.OnSelChangeComPort(comPortCombo->currentIndex());
}

void CKeypadDlg::OnSelChangeBaudRate() {
    controller.OnSelChangeBaudRate(baudRateCombo->currentIndex());
}

void CKeypadDlg::OnSelChangeCameraType() {
    controller.OnSelChangeCameraType(cameraTypeCombo->currentIndex());
    ShowState();
}

void CKeypadDlg::OnSelChangeProtocol() {
    // The stop of a running movement is told of before the window shows the new protocol,
    // as the frame went out before it took effect.
    ShowNotice(controller.OnSelChangeProtocol(protocolCombo->currentIndex()));
    ShowState();
}

void CKeypadDlg::OnCommunicationSet() {
    // A movement still running is stopped on the line it was started on, before that line
    // is closed or another opened.
    ShowNotice(controller.StopMovement());
    const bool opened = controller.ApplyCommunicationSettings();
    ShowLinkFailure(opened);
    ShowState();
    ShowNotice(controller.OwedStopNotice());
    const QString abandoned = controller.AbandonedStopReason();
    if (!abandoned.isEmpty())
        Say(abandoned + QLatin1Char('.'));
}

void CKeypadDlg::OnLineChanged() {
    ShowState();
    if (controller.PortOpen()) {
        ShowLinkFailure(true);
        Say(QStringLiteral("COM%1 is open again.").arg(controller.LinkPort()));
        // A line back that does not take the stop yet (a server holding the flow) keeps it
        // owed, and says so until it goes.
        const QString owed = controller.OwedStopReason();
        if (!owed.isEmpty()) {
            statusListBox->setToolTip(WrappedToolTip(owed));
            statusListBox->setAccessibleDescription(owed);
            Say(owed);
        }
        return;
    }
    // The status lines say "Can't Open!"; the reason stays in the tooltip while it lasts.
    const QString reason = controller.LineDropReason();
    const QString warning = controller.GuardWarning();
    const QString tip = warning.isEmpty() ? reason : reason + QLatin1Char('\n') + warning;
    statusListBox->setToolTip(WrappedToolTip(tip));
    statusListBox->setAccessibleDescription(tip);
    Say(reason);
}

void CKeypadDlg::ShowLinkFailure(bool opened) {
    // The status lines keep their fixed texts; the reason goes to the list's tooltip and,
    // for whoever started the program from a terminal, to standard error.
    const QString reason = opened ? QString() : controller.OpenFailureReason();
    // What a forced kill would leave moving stays in the tooltip whatever the port did.
    const QString warning = controller.GuardWarning();
    const QString tip = warning.isEmpty()  ? reason
                        : reason.isEmpty() ? warning
                                           : reason + QLatin1Char('\n') + warning;
    statusListBox->setToolTip(WrappedToolTip(tip));
    statusListBox->setAccessibleDescription(tip);
    if (!opened)
        Say(reason);
}

void CKeypadDlg::ShowWriteFailure() {
    const QString reason = controller.WriteFailureReason();
    // A connection that dropped fails every later frame for the same reason: said once.
    // A line being opened again by itself was said when it dropped.
    if (reason.isEmpty() || reason == statusListBox->accessibleDescription() ||
        controller.PortHealing())
        return;
    statusListBox->setToolTip(WrappedToolTip(reason));
    statusListBox->setAccessibleDescription(reason);
    Say(reason);
}

QStringList CKeypadDlg::StatusTexts() const {
    QStringList texts;
    for (int i = 0; i < statusListBox->count(); ++i) texts << statusListBox->item(i)->text();
    return texts;
}

QPoint CKeypadDlg::MinimisedIconOrigin(const QSize& client, const QSize& icon) {
    return QPoint((client.width() - icon.width() + 1) / 2,
                  (client.height() - icon.height() + 1) / 2);
}

void CKeypadDlg::paintEvent(QPaintEvent* event) {
    if (!portTipsDue) {
        // The COM rows' tooltips look the devices up and try each port, milliseconds that
        // the window's first showing does not wait for. The rows' list, when it opens,
        // asks again in any case.
        portTipsDue = true;
        QMetaObject::invokeMethod(this, &CKeypadDlg::UpdatePortToolTips, Qt::QueuedConnection);
        // A port behind a serial server connects with the window on screen, painting.
        QMetaObject::invokeMethod(this, &CKeypadDlg::FinishInitDialog, Qt::QueuedConnection);
    }
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const QSize iconSize(extent, extent);
    QPainter painter(this);
    painter.drawPixmap(MinimisedIconOrigin(rect().size(), iconSize), appIcon.pixmap(iconSize));
}
