#include "vcam_window.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>

#include <QVBoxLayout>

#include "camera_table_model.h"
#include "frame_log_model.h"
#include "vcam_session.h"
#include "zoom_bar_delegate.h"

VcamWindow::VcamWindow(VcamSession& session, const QString& lineText, QWidget* parent)
    : QWidget(parent), session(session) {
    setWindowTitle(tr("Velmor virtual camera"));

    auto* lineLabel = new QLabel(tr("&Line:"), this);
    lineField = new QLineEdit(lineText, this);
    lineField->setReadOnly(true);
    lineLabel->setBuddy(lineField);
    counters = new QLabel(this);

    cameras = new CameraTableModel(session, this);
    cameraView = new QTableView(this);
    cameraView->setModel(cameras);
    cameraView->setObjectName(QStringLiteral("cameras"));
    cameraView->setAccessibleName(tr("Cameras"));
    cameraView->setItemDelegateForColumn(CameraTableModel::ZoomPosition,
                                         new ZoomBarDelegate(cameraView));
    cameraView->verticalHeader()->hide();
    cameraView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    cameraView->verticalHeader()->setDefaultSectionSize(cameraView->fontMetrics().height() + 10);
    cameraView->setSelectionBehavior(QAbstractItemView::SelectRows);
    cameraView->horizontalHeader()->setStretchLastSection(true);
    const int cameraWidths[] = {100, 50, 130, 130, 130, 180, 60};
    for (int column = 0; column < 7; ++column)
        cameraView->setColumnWidth(column, cameraWidths[column]);

    log = new FrameLogModel(this);
    logView = new QTableView(this);
    logView->setModel(log);
    logView->setObjectName(QStringLiteral("frameLog"));
    logView->setAccessibleName(tr("Frame log"));
    // Every row is one text line high: the view never measures rows, so a long log
    // costs no more per new row than a short one.
    logView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    logView->verticalHeader()->setDefaultSectionSize(logView->fontMetrics().height() + 4);
    logView->verticalHeader()->hide();
    logView->horizontalHeader()->setStretchLastSection(true);
    logView->setShowGrid(false);
    logView->setWordWrap(false);
    logView->setAlternatingRowColors(true);
    logView->setSelectionBehavior(QAbstractItemView::SelectRows);
    const int widths[] = {100, 70, 110, 65, 260, 240};
    for (int column = 0; column < 6; ++column) logView->setColumnWidth(column, widths[column]);

    auto* cameraLabel = new QLabel(tr("&Cameras"), this);
    cameraLabel->setBuddy(cameraView);
    auto* logLabel = new QLabel(tr("&Frames"), this);
    logLabel->setBuddy(logView);
    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(cameraLabel);
    topLayout->addWidget(cameraView);
    auto* bottom = new QWidget(this);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(logLabel);
    bottomLayout->addWidget(logView);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(top);
    splitter->addWidget(bottom);
    splitter->setSizes({200, 400});

    auto* lineRow = new QHBoxLayout;
    lineRow->addWidget(lineLabel);
    lineRow->addWidget(lineField, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lineRow);
    layout->addWidget(counters);
    layout->addWidget(splitter, 1);
    resize(980, 640);

    connect(&session, &VcamSession::FramesDecoded, log, &FrameLogModel::AddFrames);
    connect(&session, &VcamSession::FramesDecoded, this, &VcamWindow::OnFramesDecoded);
    connect(&session, &VcamSession::CamerasChanged, cameras, &CameraTableModel::Refresh);
    connect(log, &FrameLogModel::RowsAppended, this, &VcamWindow::OnRowsAppended);
    UpdateCounters();
}

void VcamWindow::OnFramesDecoded() {
    UpdateCounters();
}

// Follows the newest frame while the log is scrolled to its end; leaves it alone while
// the user reads further up.
void VcamWindow::OnRowsAppended() {
    QScrollBar* bar = logView->verticalScrollBar();
    if (bar->value() >= bar->maximum() - logView->fontMetrics().height() * 3)
        logView->scrollToBottom();
}

void VcamWindow::OnLineClosed() {
    lineField->setText(tr("%1  (closed)").arg(lineField->text()));
}

void VcamWindow::UpdateCounters() {
    const int selected = session.Cameras().selectedCamera;
    counters->setText(tr("Good frames: %1    Bad: %2    Selected camera: %3")
                          .arg(session.goodFrames)
                          .arg(session.badFrames)
                          .arg(selected < 0 ? tr("none") : QString::number(selected)));
}
