#include "dialog_template.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "dialog_font.h"
#include "list_box.h"
#include "resource_image.h"

namespace {

const char* const kControlIdProperty = "controlId";

QJsonObject ResourceTable() {
    static const QJsonObject table = [] {
        QFile file(QStringLiteral(":/res/dialogs.json"));
        file.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return table;
}

QRect RectOf(const QJsonValue& value) {
    const QJsonArray a = value.toArray();
    return QRect(a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt(), a.at(3).toInt());
}

QStringList StringsOf(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray()) list << item.toString();
    return list;
}

Qt::Alignment LabelAlignment(const QStringList& style) {
    Qt::Alignment alignment =
        style.contains(QLatin1String("center")) ? Qt::AlignHCenter : Qt::AlignLeft;
    return alignment | (style.contains(QLatin1String("vcenter")) ? Qt::AlignVCenter : Qt::AlignTop);
}

QWidget* CreateControl(QDialog* dialog, const ControlTemplate& control, const DialogUnits& du) {
    const QRect pixels = du.ToPixels(control.rect);
    if (control.kind == QLatin1String("button")) {
        auto* button = new QPushButton(control.caption, dialog);
        button->setGeometry(pixels);
        button->setDefault(control.style.contains(QLatin1String("default")));
        return button;
    }
    if (control.kind == QLatin1String("combo")) {
        // The template's height is that of the dropped-down list; the closed combo is as
        // tall as its text field.
        auto* combo = new QComboBox(dialog);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // Text typed into the field is never read: without this the combo box would pick
        // a row whose text matches when editing ends, as if the operator had chosen it.
        combo->setCompleter(nullptr);
        combo->lineEdit()->blockSignals(true);
        combo->setGeometry(pixels.x(), pixels.y(), pixels.width(), combo->sizeHint().height());
        return combo;
    }
    if (control.kind == QLatin1String("list"))
        return CreateListBox(dialog, pixels);
    auto* label = new QLabel(dialog);
    label->setGeometry(pixels);
    if (control.kind == QLatin1String("picture") || control.kind == QLatin1String("icon")) {
        QPixmap image = QPixmap::fromImage(ReadResourcePng(ResourceImagePath(control.image)));
        if (control.kind == QLatin1String("icon"))
            image = image.scaled(pixels.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        label->setPixmap(image);
        label->setAlignment(Qt::AlignCenter);
        if (control.kind == QLatin1String("picture"))
            label->setFrameStyle(QFrame::Panel | QFrame::Raised);
        return label;
    }
    label->setText(control.caption);
    label->setAlignment(LabelAlignment(control.style));
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A list too narrow in the dialog's font for the lines the layout says it holds grows to
// hold them whole. Every control that starts beyond its right edge moves right by as much,
// and so does the dialog's right edge, so the columns and the gaps between them stay as the
// layout draws them. Returns how many pixels the dialog grows.
int WidenListsForLines(const DialogTemplate& layout, const QVector<QWidget*>& widgets) {
    int widening = 0;
    for (int i = 0; i < widgets.size(); ++i) {
        auto* list = qobject_cast<QListWidget*>(widgets.at(i));
        const QStringList& lines = layout.controls.at(i).holds;
        if (!list || lines.isEmpty())
            continue;
        const int extra = ListBoxWidthFor(list, lines) - list->width();
        if (extra <= 0)
            continue;
        const int edge = list->x() + list->width();
        for (QWidget* widget : widgets) {
            if (widget->x() >= edge)
                widget->move(widget->x() + extra, widget->y());
        }
        list->resize(list->width() + extra, list->height());
        widening += extra;
    }
    return widening;
}

}  // namespace

DialogTemplate LoadDialogTemplate(int dialogId) {
    const QJsonObject dialog = ResourceTable()
                                   .value(QLatin1String("dialogs"))
                                   .toObject()
                                   .value(QString::number(dialogId))
                                   .toObject();
    DialogTemplate layout;
    layout.caption = dialog.value(QLatin1String("caption")).toString();
    const QJsonArray size = dialog.value(QLatin1String("size")).toArray();
    layout.size = QSize(size.at(0).toInt(), size.at(1).toInt());
    const QJsonObject font = dialog.value(QLatin1String("font")).toObject();
    layout.fontFace = font.value(QLatin1String("face")).toString();
    layout.fontPoints = font.value(QLatin1String("points")).toInt();
    for (const QJsonValue& value : dialog.value(QLatin1String("controls")).toArray()) {
        const QJsonObject c = value.toObject();
        ControlTemplate control;
        control.id = c.value(QLatin1String("id")).toInt(-1);
        control.kind = c.value(QLatin1String("kind")).toString();
        control.caption = c.value(QLatin1String("caption")).toString();
        control.rect = RectOf(c.value(QLatin1String("rect")));
        control.style = StringsOf(c.value(QLatin1String("style")));
        control.image = c.value(QLatin1String("image")).toInt();
        control.buddy = c.value(QLatin1String("buddy")).toInt(-1);
        control.holds = StringsOf(c.value(QLatin1String("holds")));
        layout.controls.append(control);
    }
    return layout;
}

QString LoadResourceString(int stringId) {
    return ResourceTable()
        .value(QLatin1String("strings"))
        .toObject()
        .value(QString::number(stringId))
        .toString();
}

QString ResourceImagePath(int imageId) {
    switch (imageId) {
        case 128:
            return QStringLiteral(":/res/icon128.png");
        case 138:
            return QStringLiteral(":/res/logo138.png");
        default:
            return QString();
    }
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    DialogUnits du;
    du.baseX = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    du.baseY = metrics.height();
    return du;
}

int DialogUnits::X(int units) const {
    return (units * baseX + 2) / 4;  // rounded like the dialog manager's MulDiv
}

int DialogUnits::Y(int units) const {
    return (units * baseY + 4) / 8;
}

QRect DialogUnits::ToPixels(const QRect& units) const {
    return QRect(X(units.x()), Y(units.y()), X(units.width()), Y(units.height()));
}

QSize DialogUnits::ToPixels(const QSize& units) const {
    return QSize(X(units.width()), Y(units.height()));
}

QFont DialogFont(const DialogTemplate& layout) {
    QFont font(layout.fontFace, layout.fontPoints);
    font.setStyleHint(QFont::SansSerif);
    return WithUsableFace(font);
}

QVector<QWidget*> BuildControls(QDialog* dialog, const DialogTemplate& layout) {
    dialog->setFont(DialogFont(layout));
    const DialogUnits du = DialogUnits::ForFont(dialog->font());
    QHash<QLabel*, int> buddies;
    QVector<QWidget*> widgets;
    for (const ControlTemplate& control : layout.controls) {
        QWidget* widget = CreateControl(dialog, control, du);
        widgets.append(widget);
        if (control.id != -1) {
            widget->setObjectName(ControlObjectName(control.id));
            widget->setProperty(kControlIdProperty, control.id);
        }
        if (control.buddy != -1)
            buddies.insert(static_cast<QLabel*>(widget), control.buddy);
    }
    // A label names the combo box beside it, also for screen readers.
    for (auto it = buddies.cbegin(); it != buddies.cend(); ++it)
        it.key()->setBuddy(FindControl(dialog, it.value()));
    const int widening = WidenListsForLines(layout, widgets);
    dialog->setFixedSize(du.ToPixels(layout.size) + QSize(widening, 0));
    return widgets;
}

QWidget* FindControl(const QWidget* dialog, int controlId) {
    return dialog->findChild<QWidget*>(ControlObjectName(controlId), Qt::FindDirectChildrenOnly);
}

int ControlIdOf(const QWidget* widget) {
    const QVariant id = widget ? widget->property(kControlIdProperty) : QVariant();
    return id.isValid() ? id.toInt() : -1;
}

QString ControlObjectName(int controlId) {
    return QStringLiteral("control%1").arg(controlId);
}
