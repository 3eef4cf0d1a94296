#include "tool_tips.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>

namespace {

// Runs a function whenever the watched widget is shown.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QObject* parent, std::function<void()> onShow)
        : QObject(parent), onShow(std::move(onShow)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            onShow();
        return false;
    }

private:
    std::function<void()> onShow;
};

}  // namespace

QString WrappedToolTip(const QString& text) {
    constexpr int kLongSentence = 60;
    if (text.isEmpty())
        return text;
    const bool sentence = !text.contains(QLatin1Char('\n')) && text.size() > kLongSentence;
    return (sentence ? QStringLiteral("<p>%1</p>")
                     : QStringLiteral("<p style=\"white-space:pre\">%1</p>"))
        .arg(text.toHtmlEscaped());
}

void ShowPortToolTips(QComboBox* box, const QStringList& tips) {
    for (int row = 0; row < box->count() && row < tips.size(); ++row)
        box->setItemData(row, WrappedToolTip(tips[row]), Qt::ToolTipRole);
}

void RefreshOnListOpen(QComboBox* box, std::function<void()> refresh) {
    box->view()->installEventFilter(new ShowWatcher(box, std::move(refresh)));
}
