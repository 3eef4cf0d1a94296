#include "zoom_bar_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionProgressBar>

#include "camera_model.h"
#include "camera_table_model.h"

void ZoomBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(3, 3, -3, -3);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = CameraModel::kZoomRange;
    bar.progress = index.data(CameraTableModel::kBarRole).toInt();
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
}
