#include "tool_tips.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>

#include "profile/port_map.h"

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

void ShowPortToolTips(QComboBox* box, const ProfileStore& profile,
                      const QList<SerialPortFacts>& present) {
    for (int row = 0; row < box->count(); ++row)
        box->setItemData(
            row, WrappedToolTip(PortToolTip(row + 1, ResolvePort(row + 1, profile), present)),
            Qt::ToolTipRole);
}

void RefreshOnListOpen(QComboBox* box, std::function<void()> refresh) {
    box->view()->installEventFilter(new ShowWatcher(box, std::move(refresh)));
}
