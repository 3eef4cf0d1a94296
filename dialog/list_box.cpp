#include "list_box.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QStyle>
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

// Qt's item views draw an item's text this far inside the item, on the left and the right.
int ItemTextMargin(const QWidget* view) {
    return view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
}

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

int ListBoxWidthFor(const QListWidget* list, const QStringList& lines) {
    const QFontMetrics metrics(list->font());
    int widest = 0;
    for (const QString& line : lines) widest = qMax(widest, metrics.horizontalAdvance(line));
    const int frame = list->width() - list->contentsRect().width();
    return widest + 2 * ItemTextMargin(list) + frame;
}
