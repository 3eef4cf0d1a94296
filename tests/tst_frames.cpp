#include <QtTest>

#include "fakes.h"
#include "panel/camera_id_entry.h"
#include "protocol/command_set.h"
#include "serial/serial_link.h"

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(true); }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
