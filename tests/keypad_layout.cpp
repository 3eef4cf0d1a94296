#include <QApplication>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>
#include <cstdio>

#include "dialog/dialog_template.h"

namespace {
constexpr int kKeypadDialogId = 102;
}

// Prints the keypad window's layout as the program builds it on this display, in this
// display's fonts: the dialog's size and each control's rectangle, in pixels, in the order
// and with the captions and kinds of the resource table. The X server tests click on
// controls from it, since the rectangles follow the fonts.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const DialogTemplate layout = LoadDialogTemplate(kKeypadDialogId);
    QDialog dialog;
    const QVector<QWidget*> widgets = BuildControls(&dialog, layout);
    QJsonArray controls;
    for (int i = 0; i < widgets.size(); ++i) {
        const ControlTemplate& control = layout.controls.at(i);
        const QRect r = widgets.at(i)->geometry();
        controls.append(QJsonObject{{"id", control.id},
                                    {"kind", control.kind},
                                    {"caption", control.caption},
                                    {"rect", QJsonArray{r.x(), r.y(), r.width(), r.height()}}});
    }
    const QJsonObject out{{"size", QJsonArray{dialog.width(), dialog.height()}},
                          {"controls", controls}};
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Indented).constData(), stdout);
    return 0;
}
