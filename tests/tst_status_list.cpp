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

const int kListWidthUnits = 93;  // as the layout draws it

// Qt's item views draw an item's text this far inside the item, on the left and the right.
int TextMargin(const QListWidget* list) {
    return list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
}

}  // namespace

// The status list shows all ten lines whole, across and down, in the font the window gets.
// CTest runs this at 96 dpi and at 192 dpi, with Qt's scaling and without it.
class TestStatusList : public QObject {
    Q_OBJECT
private slots:
    void linesShowWhole_data();
    void linesShowWhole();
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

    // A list wider than its rectangle is no wider than its widest line needs.
    if (list->width() > DialogUnits::ForFont(panel.dlg->font()).X(kListWidthUnits)) {
        int widest = 0;
        for (const QString& line : kWidestLines)
            widest = qMax(widest, metrics.horizontalAdvance(line));
        QCOMPARE(room, widest);
    }
}

QTEST_MAIN(TestStatusList)
#include "tst_status_list.moc"
