#include <QtTest>

#include "fakes.h"
#include "panel/camera_id_entry.h"
#include "protocol/command_set.h"
#include "serial/serial_link.h"

class Test_camera_id : public QObject {
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(Test_camera_id)
#include "tst_camera_id.moc"
