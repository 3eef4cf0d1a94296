#pragma once

#include <QObject>
#include <QVector>

class QComboBox;
class QWidget;
struct DialogTemplate;

// Keeps the arrow keys and the mouse wheel to what they mean on the panel. The arrow
// keys steer cameras, so they must never change a setting as a side effect:
// - on a push button they move the focus inside its group only, so no number of presses
//   or repeats walks the focus from the keys into a combo box;
// - on a closed combo box they change nothing (its list still opens with Alt+Down or F4,
//   and the arrows then move through the list as usual);
// - the wheel over a combo box that does not have the focus changes nothing.
class DialogNavigation : public QObject {
    Q_OBJECT
public:
    // controls: the widgets of layout's controls, in the same (tab) order.
    DialogNavigation(const DialogTemplate& layout, const QVector<QWidget*>& controls);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MoveFocusInGroup(QWidget* from, bool forward);
    QComboBox* ComboOf(QObject* watched) const;

    QVector<QWidget*> controls;
    QVector<bool> groupStarts;
};
