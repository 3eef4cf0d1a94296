#include <QDialog>
#include <QListWidget>
#include <QStyle>
#include <QtTest>

#include "dialog/dialog_template.h"
#include "panel_fixture.h"
#include "protocol/control_ids.h"

using Stored = QVariantHash;

namespace {

// The widest line of each kind the status list shows.
const QStringList kWidestLines = {"=====================",
                                  "  OSKA-ZORVIK STATUS ",
                                  "      PELCO D PROTOCOL",
                                  "   OSKA-DEF PROTOCOL",
                                  "PORT : COM1",
                                  "BAUD : 19200 bps",
                                  "B/D CAM CONTROL",
                                  "ZOOM CAM CONTROL",
                                  "CAM ID : 255",
                                  "Can't OPEN!"};

// Qt's item views draw an item's text this far inside the item, on the left and the right.
int TextMargin(const QListWidget* list) {
    return list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
}

// The room a list leaves for an item's text.
int TextRoom(const QListWidget* list) {
    return list->contentsRect().width() - 2 * TextMargin(list);
}

int Widest(const QFontMetrics& metrics) {
    int widest = 0;
    for (const QString& line : kWidestLines) widest = qMax(widest, metrics.horizontalAdvance(line));
    return widest;
}

// The keypad's layout, its status list as wide as listUnits (or as the layout draws it),
// built into dialog with the lines the list holds or without any.
QListWidget* BuildKeypad(QDialog& dialog, bool holdsLines, int listUnits = 0) {
    DialogTemplate layout = LoadDialogTemplate(102);
    for (ControlTemplate& control : layout.controls) {
        if (control.id != ControlId::StatusList)
            continue;
        if (!holdsLines)
            control.holds.clear();
        if (listUnits > 0)
            control.rect.setWidth(listUnits);
    }
    BuildControls(&dialog, layout);
    return qobject_cast<QListWidget*>(FindControl(&dialog, ControlId::StatusList));
}

}  // namespace

// The status list shows all ten lines whole, across and down, in the font the window gets.
// CTest runs this at 96 dpi and at 192 dpi, with Qt's scaling and without it.
class TestStatusList : public QObject {
    Q_OBJECT
private slots:
    void linesShowWhole_data();
    void linesShowWhole();
    void narrowListWidensToItsLines();
};

void TestStatusList::linesShowWhole_data() {
    QTest::addColumn<Stored>("stored");
    QTest::addColumn<bool>("lineAvailable");
    QTest::addColumn<QString>("cameraId");  // typed on the digit keys and committed
    // Only a protocol other than the two keeps a stored rate; it shows the PELCO D line.
    QTest::newRow("protocol 2 at 19200 bps, ZOOM, camera 255")
        << Stored{{"PROTOCOL", 2}, {"BAUDRATE", 19200}} << true << "255";
    QTest::newRow("OSKA-DEFAULT, B/D") << Stored{{"CAMTYPE", 1}} << true << "";
    QTest::newRow("port missing") << Stored{} << false << "";
}

void TestStatusList::linesShowWhole() {
    QFETCH(Stored, stored);
    QFETCH(bool, lineAvailable);
    QFETCH(QString, cameraId);
    Panel panel(stored, lineAvailable);
    QVERIFY(panel.exposed);
    for (QChar digit : cameraId) panel.tap(Qt::Key(Qt::Key_0 + digit.digitValue()));
    if (!cameraId.isEmpty())
        panel.tap(Qt::Key_Return);
    auto* list = qobject_cast<QListWidget*>(panel.control(ControlId::StatusList));
    QVERIFY(list);
    QCOMPARE(list->count(), 10);

    const QFontMetrics metrics(list->font());
    const int room = list->viewport()->width() - 2 * TextMargin(list);
    for (const QString& text : panel.dlg->StatusTexts() + kWidestLines) {
        const int width = metrics.horizontalAdvance(text);
        QVERIFY2(width <= room, qPrintable(QStringLiteral("\"%1\" is %2 px wide, the list shows %3")
                                               .arg(text)
                                               .arg(width)
                                               .arg(room)));
    }
    const QRect lastRow = list->visualRect(list->model()->index(9, 0));
    QVERIFY2(lastRow.bottom() < list->viewport()->height(),
             qPrintable(QStringLiteral("row 10 ends at %1, the list shows %2 px")
                            .arg(lastRow.bottom() + 1)
                            .arg(list->viewport()->height())));
    QVERIFY(lastRow.height() >= metrics.height());

    // The list keeps its rectangle where the lines fit in it, and grows just enough for the
    // widest where they do not.
    QDialog plain;
    const QListWidget* unwidened = BuildKeypad(plain, false);
    if (Widest(metrics) <= TextRoom(unwidened))
        QCOMPARE(list->width(), unwidened->width());
    else
        QCOMPARE(room, Widest(metrics));
}

// A list too narrow for its lines in any font grows to the widest; every control beyond its
// right edge moves right by as much, the rest stay, and the window grows with it.
void TestStatusList::narrowListWidensToItsLines() {
    QDialog widened, kept;
    const QListWidget* list = BuildKeypad(widened, true, 20);
    const QListWidget* narrow = BuildKeypad(kept, false, 20);
    const int growth = list->width() - narrow->width();
    QVERIFY(growth > 0);
    QCOMPARE(TextRoom(list), Widest(QFontMetrics(list->font())));
    QCOMPARE(widened.size(), kept.size() + QSize(growth, 0));
    const int edge = narrow->x() + narrow->width();
    const QList<QWidget*> before =
        kept.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    const QList<QWidget*> after =
        widened.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        const int shift = before[i]->x() >= edge ? growth : 0;
        QCOMPARE(after[i]->pos(), before[i]->pos() + QPoint(shift, 0));
    }
}

QTEST_MAIN(TestStatusList)
#include "tst_status_list.moc"
