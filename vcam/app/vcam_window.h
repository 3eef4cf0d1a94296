#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QTableView;
class CameraTableModel;
class FrameLogModel;
class VcamSession;

// The analyser's one window: where the line is, the cameras seen, and the frame log.
class VcamWindow : public QWidget {
    Q_OBJECT
public:
    VcamWindow(VcamSession& session, const QString& lineText, QWidget* parent = nullptr);

    FrameLogModel* frameLog() const { return log; }
    // The device went away (a USB adapter unplugged): says so beside its name.
    void OnLineClosed();

private:
    void OnFramesDecoded();
    void OnRowsAppended();
    void UpdateCounters();

    VcamSession& session;
    QLineEdit* lineField = nullptr;
    QLabel* counters = nullptr;
    QTableView* cameraView = nullptr;
    QTableView* logView = nullptr;
    CameraTableModel* cameras = nullptr;
    FrameLogModel* log = nullptr;
};
