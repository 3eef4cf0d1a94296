#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QTimer>
#include <QVector>

#include "frame_decoder.h"

// Every frame seen, one row each. New frames are gathered and inserted in one batch a few
// times a second, so a busy line costs one insertion per batch, not one per frame.
class FrameLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Gap, Protocol, Address, Meaning, Bytes, Check, ColumnCount };

    explicit FrameLogModel(QObject* parent = nullptr);

    void AddFrames(const QVector<DecodedFrame>& frames);
    // Inserts what has been gathered; the timer calls it, tests may call it directly.
    void InsertPending();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void RowsAppended();

private:
    QVariant Text(const DecodedFrame& frame, int column) const;

    QVector<DecodedFrame> rows;
    QVector<DecodedFrame> pending;
    QTimer batch;
    QDateTime startedAt = QDateTime::currentDateTime();
};
