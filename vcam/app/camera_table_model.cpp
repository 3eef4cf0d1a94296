#include "camera_table_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include "vcam_session.h"

namespace {

QString Motion(int direction, const char* plus, const char* minus, qint64 forUs) {
    const QString seconds = QString::number(forUs / 1e6, 'f', 1);
    if (direction == 0)
        return QStringLiteral("stopped (%1 s)").arg(seconds);
    return QStringLiteral("%1 for %2 s").arg(QLatin1String(direction > 0 ? plus : minus), seconds);
}

}  // namespace

CameraTableModel::CameraTableModel(const VcamSession& session, QObject* parent)
    : QAbstractTableModel(parent), session(session) {}

void CameraTableModel::Refresh() {
    const int count = session.Cameras().Cameras().size();
    if (count > shownRows) {
        beginInsertRows(QModelIndex(), shownRows, count - 1);
        shownRows = count;
        endInsertRows();
    }
    if (shownRows > 0)
        emit dataChanged(index(0, 0), index(shownRows - 1, ColumnCount - 1));
}

int CameraTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownRows;
}

int CameraTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CameraTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shownRows)
        return QVariant();
    const CameraModel& model = session.Cameras();
    const CameraState& camera = model.Cameras()[index.row()];
    const qint64 now = session.NowUs();
    if (role == kBarRole && index.column() == ZoomPosition)
        return camera.zoomPosition;
    if (role == Qt::ForegroundRole && index.column() == Warning)
        return QBrush(QColor(0xB0, 0x00, 0x20));
    if (role == Qt::FontRole && index.column() == Address &&
        camera.address == model.selectedCamera) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    switch (index.column()) {
        case Address:
            return camera.address == model.selectedCamera
                       ? QStringLiteral("%1 (selected)").arg(camera.address)
                       : QString::number(camera.address);
        case Power:
            return camera.powerOn ? tr("on") : tr("off");
        case Zoom:
            return Motion(camera.zoom, "tele", "wide", now - camera.zoomSinceUs);
        case Focus:
            return Motion(camera.focus, "far", "near", now - camera.focusSinceUs);
        case ZoomPosition:
            return QStringLiteral("%1 %").arg(camera.zoomPosition * 100 / CameraModel::kZoomRange);
        case LastCommand:
            return camera.lastCommand;
        case Frames:
            return camera.frames;
        case Warning:
            return camera.warning;
        default:
            return QVariant();
    }
}

QVariant CameraTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char* const kNames[] = {"Camera",        "Power",        "Zoom",   "Focus",
                                         "Zoom position", "Last command", "Frames", "Warning"};
    return section >= 0 && section < ColumnCount ? tr(kNames[section]) : QVariant();
}
