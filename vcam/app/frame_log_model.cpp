#include "frame_log_model.h"

#include <QBrush>
#include <QColor>
#include <QFontDatabase>

#include "frame_text.h"

FrameLogModel::FrameLogModel(QObject* parent) : QAbstractTableModel(parent) {
    batch.setInterval(100);
    batch.setSingleShot(true);
    connect(&batch, &QTimer::timeout, this, &FrameLogModel::InsertPending);
}

void FrameLogModel::AddFrames(const QVector<DecodedFrame>& frames) {
    pending += frames;
    if (!batch.isActive())
        batch.start();
}

void FrameLogModel::InsertPending() {
    if (pending.isEmpty())
        return;
    beginInsertRows(QModelIndex(), rows.size(), rows.size() + pending.size() - 1);
    rows += pending;
    pending.clear();
    endInsertRows();
    emit RowsAppended();
}

int FrameLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows.size();
}

int FrameLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FrameLogModel::Text(const DecodedFrame& frame, int column) const {
    switch (column) {
        case Time:
            return startedAt.addMSecs(frame.startUs / 1000)
                .toString(QStringLiteral("HH:mm:ss.zzz"));
        case Gap:
            return frame.gapUs < 0 ? QString()
                                   : QStringLiteral("%1 ms").arg(frame.gapUs / 1000.0, 0, 'f', 1);
        case Protocol:
            return ProtocolName(frame.protocol);
        case Address:
            return frame.address < 0 ? QString() : QString::number(frame.address);
        case Meaning:
            return MeaningText(frame);
        case Bytes:
            return HexBytes(frame.bytes);
        case Check:
            return StatusName(frame.status);
        default:
            return QVariant();
    }
}

QVariant FrameLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const DecodedFrame& frame = rows[index.row()];
    switch (role) {
        case Qt::DisplayRole:
            return Text(frame, index.column());
        case Qt::ToolTipRole:
            if (index.column() == Gap)
                return tr("Pause before the frame, from the last byte before it (at least "
                          "25 ms between frames); shortest pause between its own bytes: %1 "
                          "ms (at least 2 ms; bytes read together show as 0)")
                    .arg(frame.minByteGapUs / 1000.0, 0, 'f', 1);
            return index.column() == Meaning ? Text(frame, Meaning) : QVariant();
        case Qt::ForegroundRole:
            if (!frame.IsGood() && index.column() == Check)
                return QBrush(QColor(0xB0, 0x00, 0x20));
            if (index.column() == Gap && !frame.FramePauseKept())
                return QBrush(QColor(0xA0, 0x60, 0x00));
            // A good frame whose code the protocol leaves undefined (or reserved).
            if (index.column() == Meaning && frame.IsGood() && !frame.command.known)
                return QBrush(QColor(0xA0, 0x60, 0x00));
            return QVariant();
        case Qt::BackgroundRole:
            return frame.IsGood() ? QVariant() : QBrush(QColor(0xFF, 0xE8, 0xE8));
        case Qt::FontRole:
            if (index.column() == Bytes)
                return QFontDatabase::systemFont(QFontDatabase::FixedFont);
            return QVariant();
        default:
            return QVariant();
    }
}

QVariant FrameLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char* const kNames[] = {"Time",    "Gap",   "Protocol", "Address",
                                         "Meaning", "Bytes", "Check"};
    return section >= 0 && section < ColumnCount ? tr(kNames[section]) : QVariant();
}
