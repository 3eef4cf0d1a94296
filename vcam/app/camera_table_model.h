#pragma once

#include <QAbstractTableModel>

class VcamSession;

// The cameras seen on the line, one row per address.
class CameraTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Address,
        Power,
        Zoom,
        Focus,
        ZoomPosition,
        LastCommand,
        Frames,
        Warning,
        ColumnCount
    };
    // The zoom position column gives the position from 0 to this for the bar.
    static constexpr int kBarRole = Qt::UserRole + 1;

    explicit CameraTableModel(const VcamSession& session, QObject* parent = nullptr);

    void Refresh();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const VcamSession& session;
    int shownRows = 0;
};
