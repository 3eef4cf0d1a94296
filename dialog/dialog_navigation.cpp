#include "dialog_navigation.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include "dialog_groups.h"
#include "dialog_template.h"

namespace {

bool IsArrowKey(int key) {
    return key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right || key == Qt::Key_Down;
}

bool CanFocus(const QWidget* widget) {
    return widget->isEnabled() && widget->isVisible() &&
           (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

}  // namespace

DialogNavigation::DialogNavigation(const DialogTemplate& layout, const QVector<QWidget*>& controls)
    : controls(controls) {
    for (int i = 0; i < controls.size(); ++i) {
        groupStarts.append(i < layout.controls.size() &&
                           layout.controls[i].style.contains(QLatin1String("group")));
        QWidget* control = controls[i];
        if (auto* combo = qobject_cast<QComboBox*>(control)) {
            // A combo box takes the focus from a click or Tab, never from the wheel.
            combo->setFocusPolicy(Qt::StrongFocus);
            combo->installEventFilter(this);
            if (combo->lineEdit())
                combo->lineEdit()->installEventFilter(this);
        } else if (qobject_cast<QAbstractButton*>(control)) {
            control->installEventFilter(this);
        }
    }
}

QComboBox* DialogNavigation::ComboOf(QObject* watched) const {
    if (auto* combo = qobject_cast<QComboBox*>(watched))
        return combo;
    if (auto* edit = qobject_cast<QLineEdit*>(watched))
        return qobject_cast<QComboBox*>(edit->parentWidget());
    return nullptr;
}

bool DialogNavigation::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        const QComboBox* combo = ComboOf(watched);
        return combo && !combo->hasFocus();
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!IsArrowKey(key->key()))
        return false;
    const bool alt = key->modifiers().testFlag(Qt::AltModifier);
    if (ComboOf(watched))
        return !(alt && key->key() == Qt::Key_Down);  // Alt+Down opens the list
    if (!alt)
        MoveFocusInGroup(static_cast<QWidget*>(watched),
                         key->key() == Qt::Key_Right || key->key() == Qt::Key_Down);
    return true;
}

void DialogNavigation::MoveFocusInGroup(QWidget* from, bool forward) {
    const int current = static_cast<int>(controls.indexOf(from));
    if (current < 0)
        return;
    QVector<GroupMember> members;
    for (int i = 0; i < controls.size(); ++i)
        members.append(GroupMember{groupStarts[i], CanFocus(controls[i])});
    const int next = NextInGroup(members, current, forward);
    if (next != current)
        controls[next]->setFocus(Qt::TabFocusReason);
}
