#include "keypad_dlg.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <functional>

#include "app/about_dlg.h"
#include "dialog_navigation.h"
#include "dialog_template.h"
#include "keypad_input.h"
#include "protocol/control_ids.h"
#include "serial/port_catalog.h"
#include "serial/port_name.h"
#include "serial_ports_dlg.h"

namespace {

constexpr int kKeypadDialogId = 102;
constexpr int kAboutStringId = 101;
const char* const kWindowTitle = "OSKA-ZORVIK";
const char* const kBannerLine = "=====================";
const char* const kStatusTitleLine = "  OSKA-ZORVIK STATUS ";
const char* const kBlankLine = " ";
const char* const kStartFailureLine = "Can't OPEN!";
const char* const kSetFailureLine = "Can't Open!";

const char* const kComPortRows[] = {"COM1", "COM2", "COM3", "COM4"};
const uint32_t kBaudRates[] = {2400, 4800, 9600, 19200};
const char* const kCameraTypeRows[] = {"ZOOM", "B/D"};
const char* const kProtocolRows[] = {"OSKA-DEFAULT", "PELCO D"};

// A row outside the list clears the selection, as the combo box of the original did.
void SelectRow(QComboBox* combo, int row) {
    combo->setCurrentIndex(row >= 0 && row < combo->count() ? row : -1);
}

// Runs a function whenever the watched widget is shown.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QObject* parent, std::function<void()> onShow)
        : QObject(parent), onShow(std::move(onShow)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            onShow();
        return false;
    }

private:
    std::function<void()> onShow;
};

// A tooltip as rich text: a sentence (a reason) wraps instead of running across the
// screen, while lines that name devices are kept whole, so that no path breaks.
QString WrappedToolTip(const QString& text) {
    constexpr int kLongSentence = 60;
    if (text.isEmpty())
        return text;
    const bool sentence = !text.contains(QLatin1Char('\n')) && text.size() > kLongSentence;
    return (sentence ? QStringLiteral("<p>%1</p>")
                     : QStringLiteral("<p style=\"white-space:pre\">%1</p>"))
        .arg(text.toHtmlEscaped());
}

QList<SerialPortFacts> PortsPresent(const PortCatalog* catalog) {
    return catalog ? catalog->Ports() : QList<SerialPortFacts>();
}

QIcon LoadAppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/res/icon-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace

void CKeypadDlg::DialogMessages::ShowMessage(const QString& text) {
    if (ending) {
        qWarning().noquote() << QCoreApplication::applicationName() + QStringLiteral(": ") + text +
                                    QStringLiteral(" (on the way out)");
        return;
    }
    showing = true;
    if (sink) {
        sink->ShowMessage(text);
    } else {
        // An OK button only; it blocks until the operator dismisses it.
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                        QMessageBox::Ok, &dialog);
        box.exec();
    }
    showing = false;
    emit dialog.MessageClosed();
}

CKeypadDlg::CKeypadDlg(const KeypadServices& services, QWidget* parent)
    : QDialog(parent),
      state(services.state),
      profile(services.profile),
      ports(services.ports),
      messages(*this, services.messages),
      link(services.state, services.device, services.pause, messages,
           [this](int port) { return ResolvePort(port, profile); }),
      entry(services.state, *this, messages),
      commands(services.state, link, entry, messages),
      settings(services.profile, services.state),
      appIcon(LoadAppIcon()) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogTemplate layout = LoadDialogTemplate(kKeypadDialogId);
    setWindowTitle(layout.caption);
    navigation = std::make_unique<DialogNavigation>(layout, BuildControls(this, layout));
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

    // A device plugged in while the program runs shows in the tooltips as the list opens.
    comPortCombo->view()->installEventFilter(
        new ShowWatcher(this, [this] { UpdatePortToolTips(); }));

    input = std::make_unique<KeypadInput>(*this);
    OnInitDialog();
}

CKeypadDlg::~CKeypadDlg() = default;

QWidget* CKeypadDlg::Control(int controlId) const {
    return FindControl(this, controlId);
}

void CKeypadDlg::SendStop() {
    commands.SendStop();
    input->OnStopSent();
}

void CKeypadDlg::done(int result) {
    // A camera is never left moving by a key whose release the program can no longer see.
    input->OnWindowClosing();
    QDialog::done(result);
}

void CKeypadDlg::StopMovement(const QString& why) {
    if (!input->MovementActive())
        return;
    SendStop();
    qWarning().noquote() << QCoreApplication::applicationName() + QStringLiteral(": ") + why +
                                QStringLiteral(": the moving camera was sent the stop.");
}

void CKeypadDlg::EndRun(const QString& why) {
    if (messages.ending)
        return;
    messages.ending = true;
    const bool moving = input->MovementActive();
    input->OnWindowClosing();
    const bool wasOpen = link.isOpen();
    if (wasOpen)
        link.ClosePort();
    QString word = QCoreApplication::applicationName() + QStringLiteral(": ") + why +
                   (moving ? QStringLiteral(": the moving camera was sent the stop")
                           : QStringLiteral(": no camera was moving"));
    if (wasOpen)
        word += QStringLiteral("; COM%1 released").arg(state.comPort);
    qWarning().noquote() << word + QLatin1Char('.');
    // A box over the window runs a loop of its own; it ends first, then the window's.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QDialog*>(window);
        if (box && box != this && box->isVisible())
            box->reject();
    }
    done(QDialog::Rejected);
}

void CKeypadDlg::OnInitDialog() {
    AddAboutEntry();
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    entry.Reset();
    commands.powerToggle = 0;
    FillCombos();
#ifndef Q_OS_WIN
    // COMn names a device here; a first start maps the devices found, visibly and stably.
    MapPortsOnFirstStart(profile, PortsPresent(ports));
#endif
    UpdatePortToolTips();
    SelectStoredRows(settings.LoadStoredSettings());
    OnSelChangeComPort();
    OnSelChangeBaudRate();
    OnSelChangeCameraType();
    OnSelChangeProtocol();
    InsertLine(0, QString::fromLatin1(kBannerLine));
    InsertLine(1, QString::fromLatin1(kStatusTitleLine));
    InsertLine(2, QString::fromLatin1(kBannerLine));
    const bool opened = link.OpenWithSettings() != 0;
    if (opened)
        entry.camIdText = CameraIdEntry::CamIdLine(state.cameraId);
    WriteLinkLines(opened, QString::fromLatin1(kStartFailureLine));
}

void CKeypadDlg::AddAboutEntry() {
    auto* serialPorts = new QShortcut(QKeySequence(Qt::Key_F2), this);
    connect(serialPorts, &QShortcut::activated, this, &CKeypadDlg::ShowSerialPorts);
    const QString text = LoadResourceString(kAboutStringId);
    if (!text.isEmpty())
        AddSystemMenuAbout(text);
    setWindowIcon(appIcon);
}

#ifndef Q_OS_WIN
void CKeypadDlg::AddSystemMenuAbout(const QString&) {
    // The window manager owns the system menu here: F1 opens the About box instead.
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CKeypadDlg::ShowAbout);
}
#endif

void CKeypadDlg::ShowAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CKeypadDlg::ShowSerialPorts() {
    CSerialPortsDlg dialog(profile, PortsPresent(ports), this);
    if (dialog.exec() == QDialog::Accepted)
        UpdatePortToolTips();
}

void CKeypadDlg::UpdatePortToolTips() {
    const QList<SerialPortFacts> present = PortsPresent(ports);
    for (int row = 0; row < comPortCombo->count(); ++row)
        comPortCombo->setItemData(
            row, WrappedToolTip(PortToolTip(row + 1, ResolvePort(row + 1, profile), present)),
            Qt::ToolTipRole);
}

void CKeypadDlg::FillCombos() {
    for (int i = 0; i < 4; ++i) {
        comPortCombo->addItem(QString::fromLatin1(kComPortRows[i]));
        baudRateCombo->addItem(QString::number(kBaudRates[i]));
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

void CKeypadDlg::SelectStoredRows(bool storedValuesRead) {
    if (storedValuesRead) {
        ForceProtocolBaudRate();
        // Widened first: a hand-edited port of -2147483648 has no row and must not wrap.
        SelectRow(comPortCombo,
                  static_cast<int>(std::clamp<int64_t>(int64_t(state.comPort) - 1, -1, 4)));
        SelectBaudRow();
        SelectRow(protocolCombo, state.protocol);
        SelectRow(cameraTypeCombo, state.cameraType);
    } else {
        SelectRow(comPortCombo, 0);
        SelectRow(baudRateCombo, 2);
        SelectRow(cameraTypeCombo, 0);
        SelectRow(protocolCombo, 0);
    }
}

void CKeypadDlg::OnSelChangeComPort() {
    const int row = comPortCombo->currentIndex();
    if (row >= 0 && row < 4)
        state.comPort = row + 1;
}

void CKeypadDlg::OnSelChangeBaudRate() {
    const int row = baudRateCombo->currentIndex();
    if (row >= 0 && row < 4)
        state.baudRate = kBaudRates[row];
}

void CKeypadDlg::OnSelChangeCameraType() {
    const int row = cameraTypeCombo->currentIndex();
    if (row == 0 || row == 1) {
        state.cameraType = row;
        ReplaceLine(7, QString::fromLatin1(row == 0 ? "ZOOM CAM CONTROL" : "B/D CAM CONTROL"));
        for (int id : {ControlId::FocusFar, ControlId::FocusNear, ControlId::Set, ControlId::Init,
                       ControlId::Power})
            EnableKey(id, row == 0);
    }
    settings.StoreCameraType();
}

void CKeypadDlg::OnSelChangeProtocol() {
    const int row = protocolCombo->currentIndex();
    if (row != 0 && row != 1)
        return;
    // A camera only understands the stop of the protocol its movement started in.
    if (row != state.protocol && input && input->MovementActive())
        SendStop();
    state.protocol = row;
    ForceProtocolBaudRate();
    if (row == ProtocolOskaDefault && state.cameraType == CameraTypeBd)
        return;
    if (row == ProtocolPelcoD)
        EnableKey(ControlId::Power, true);
    for (int id : {ControlId::Init, ControlId::Reset, ControlId::Cam, ControlId::Set})
        EnableKey(id, row == ProtocolOskaDefault);
}

void CKeypadDlg::ForceProtocolBaudRate() {
    const uint32_t rate = SettingsStore::ProtocolBaudRate(state.protocol);
    if (rate == 0 || state.baudRate == rate)
        return;
    SelectRow(baudRateCombo, rate == 9600 ? 2 : 0);
    OnSelChangeBaudRate();
}

void CKeypadDlg::SelectBaudRow() {
    for (int row = 0; row < 4; ++row) {
        if (state.baudRate == kBaudRates[row])
            SelectRow(baudRateCombo, row);
    }
}

void CKeypadDlg::OnCommunicationSet() {
    // A movement still running is stopped on the line it was started on, before that line
    // is closed or another opened.
    if (input->MovementActive())
        SendStop();
    const bool opened = settings.ApplyCommunicationSettings(link);
    for (int line = 3; line <= 9; ++line) DeleteLine(3);
    // A panel whose start failed has never shown a camera ID; show the one in force
    // rather than an empty line.
    if (opened && entry.camIdText.isEmpty())
        entry.camIdText = CameraIdEntry::CamIdLine(state.cameraId);
    WriteLinkLines(opened, QString::fromLatin1(kSetFailureLine));
}

void CKeypadDlg::ShowLinkFailure(bool opened) {
    // The status lines keep their fixed texts; the reason goes to the list's tooltip and,
    // for whoever started the program from a terminal, to standard error.
    const QString reason = opened ? QString() : link.FailureReason();
    statusListBox->setToolTip(WrappedToolTip(reason));
    statusListBox->setAccessibleDescription(reason);
    if (!opened)
        qWarning().noquote() << QCoreApplication::applicationName() + QStringLiteral(": ") + reason;
}

void CKeypadDlg::WriteLinkLines(bool opened, const QString& failureText) {
    const QString blank = QString::fromLatin1(kBlankLine);
    ShowLinkFailure(opened);
    if (!opened) {
        InsertLine(3, failureText);
        for (int line = 4; line <= 9; ++line) InsertLine(line, blank);
        return;
    }
    InsertLine(3, state.protocol != ProtocolOskaDefault ? QStringLiteral("      PELCO D PROTOCOL")
                                                        : QStringLiteral("   OSKA-DEF PROTOCOL"));
    InsertLine(4, QStringLiteral("PORT : COM%1").arg(state.comPort));
    InsertLine(5, QStringLiteral("BAUD : %1 bps").arg(state.baudRate));
    InsertLine(6, blank);
    InsertLine(7, state.cameraType != CameraTypeZoom ? QStringLiteral("B/D CAM CONTROL")
                                                     : QStringLiteral("ZOOM CAM CONTROL"));
    InsertLine(8, entry.camIdText);
    InsertLine(9, blank);
}

void CKeypadDlg::EnableKey(int controlId, bool enable) {
    if (QWidget* key = Control(controlId))
        key->setEnabled(enable);
}

void CKeypadDlg::InsertLine(int index, const QString& text) {
    if (index >= 0 && index <= statusListBox->count())
        statusListBox->insertItem(index, text);
}

void CKeypadDlg::DeleteLine(int index) {
    if (index >= 0 && index < statusListBox->count())
        delete statusListBox->takeItem(index);
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
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const QSize iconSize(extent, extent);
    QPainter painter(this);
    painter.drawPixmap(MinimisedIconOrigin(rect().size(), iconSize), appIcon.pixmap(iconSize));
}
