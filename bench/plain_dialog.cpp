// The yardstick for the keypad window's start-up: a dialog with about as many controls as
// the keypad (30 buttons, 4 combo boxes, a 10-line list) and nothing else: no profile, no
// port, no pictures, no icon.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("plain dialog"));
    auto* grid = new QGridLayout(&dialog);
    constexpr int kButtonColumns = 6;
    for (int i = 0; i < 30; ++i)
        grid->addWidget(new QPushButton(QString::number(i), &dialog), i / kButtonColumns,
                        i % kButtonColumns);
    for (int i = 0; i < 4; ++i) {
        auto* combo = new QComboBox(&dialog);
        combo->addItems({QStringLiteral("first"), QStringLiteral("second")});
        grid->addWidget(combo, i, kButtonColumns);
    }
    auto* list = new QListWidget(&dialog);
    for (int i = 0; i < 10; ++i) list->addItem(QStringLiteral("line %1").arg(i));
    grid->addWidget(list, 0, kButtonColumns + 1, 5, 1);
    dialog.show();
    return app.exec();
}
