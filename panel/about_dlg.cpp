#include "about_dlg.h"

#include <QPushButton>

#include "dialog/dialog_template.h"

namespace {
constexpr int kAboutDialogId = 100;
constexpr int kOkButtonId = 1;
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogTemplate layout = LoadDialogTemplate(kAboutDialogId);
    setWindowTitle(layout.caption);
    BuildControls(this, layout);
    if (auto* ok = qobject_cast<QPushButton*>(FindControl(this, kOkButtonId)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
