#include <QtTest>

#include "fakes.h"
#include "panel/camera_id_entry.h"
#include "protocol/command_set.h"
#include "serial/serial_link.h"

class Test_serial_pty : public QObject {
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(Test_serial_pty)
#include "tst_serial_pty.moc"
