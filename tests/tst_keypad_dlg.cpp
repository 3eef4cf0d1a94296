#include <QtTest>

#include "panel_fixture.h"

class TestKeypadDlg : public QObject {
    Q_OBJECT
private slots:
    void opensOnThePty() {
        Panel panel;
        QVERIFY(panel.dlg->Link().isOpen());
        QCOMPARE(panel.dlg->StatusTexts().size(), 10);
    }
};

QTEST_MAIN(TestKeypadDlg)
#include "tst_keypad_dlg.moc"
