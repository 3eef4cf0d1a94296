#pragma once

#include <QFont>
#include <QHash>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

class QDialog;
class QWidget;

// One control of a dialog layout; rectangles are in dialog units.
struct ControlTemplate {
    int id = -1;   // -1 for static controls that nothing addresses
    QString kind;  // "button", "label", "combo", "list", "picture", "icon"
    QString caption;
    QRect rect;
    QStringList style;
    int image = 0;      // resource number of a picture or icon
    int buddy = -1;     // the control a label names
    QStringList holds;  // lines a list must show whole: the widest of each kind it shows
};

// A dialog layout as kept in the resource table: caption, size, font and controls in
// tab order.
struct DialogTemplate {
    QString caption;
    QSize size;
    QString fontFace;
    int fontPoints = 0;
    QVector<ControlTemplate> controls;
};

// Layouts and strings of the program's resource table.
DialogTemplate LoadDialogTemplate(int dialogId);
QString LoadResourceString(int stringId);
QString ResourceImagePath(int imageId);

// Dialog units the way the Windows dialog manager converts them: the horizontal base is
// the font's average character width, the vertical base its height; x px = x * baseX / 4
// and y px = y * baseY / 8. So the panel scales with its font.
struct DialogUnits {
    int baseX = 0;
    int baseY = 0;

    static DialogUnits ForFont(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect ToPixels(const QRect& units) const;
    QSize ToPixels(const QSize& units) const;
};

// The template's font, falling back to the platform's sans-serif face when the named
// face is missing, and on Windows to a face dialogs are drawn in (see WithUsableFace).
QFont DialogFont(const DialogTemplate& layout);

// Creates every control of the layout as a child of dialog, in tab order, placed and
// named so that FindControl finds it by its number. Returns them in the layout's order.
// A list that cannot hold its lines whole in the dialog's font is made wider, and the
// controls to its right and the dialog with it.
QVector<QWidget*> BuildControls(QDialog* dialog, const DialogTemplate& layout);
QWidget* FindControl(const QWidget* dialog, int controlId);
int ControlIdOf(const QWidget* widget);  // -1 when the widget is no numbered control
QString ControlObjectName(int controlId);
