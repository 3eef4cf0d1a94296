#pragma once

#include <QStyledItemDelegate>

// Paints the zoom position as a progress bar inside the cell: no widget per row.
class ZoomBarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
