#include "list_box.h"

#include <QListWidget>
#include <QStyledItemDelegate>

namespace {

// A list box's item is as tall as its font. Qt's styles add a pixel or more to each row
// (the text layout's height rounded up), which takes the tenth line of the status list
// past its bottom edge.
class ListBoxItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(option.fontMetrics.height());
        return size;
    }
};

}  // namespace

QListWidget* CreateListBox(QWidget* parent, const QRect& pixels) {
    auto* list = new QListWidget(parent);
    list->setGeometry(pixels);
    list->setFrameStyle(QFrame::Panel | QFrame::Raised);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->setTextElideMode(Qt::ElideNone);
    list->setItemDelegate(new ListBoxItemDelegate(list));
    return list;
}
