#include <fcntl.h>
#include <unistd.h>
#include <QAccessible>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

#include <QtTest>

#include "camera_table_model.h"
#include "frame_log_model.h"
#include "line_source.h"
#include "vcam_session.h"
#include "vcam_window.h"

// The analyser's window on a real line: bytes written into its pseudo-terminal (or into a
// line it listens to) show up in the frame log, the counters and the camera table.

namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

struct Rig {
    Rig() : window(session, QStringLiteral("test line")) {
        QObject::connect(&line, &LineSource::BytesRead, &session, &VcamSession::OnBytes);
    }
    // Writes through the far end and waits until the log holds rows frames.
    bool Send(const QString& path, const QByteArray& bytes, int rows) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY);
        if (fd < 0)
            return false;
        const bool written = ::write(fd, bytes.constData(), bytes.size()) == bytes.size();
        ::close(fd);
        return written && QTest::qWaitFor([&] {
                   window.frameLog()->InsertPending();
                   return window.frameLog()->rowCount() >= rows;
               });
    }
    QString Cell(QAbstractItemModel* model, int row, int column) {
        return model->index(row, column).data().toString();
    }
    QAbstractItemModel* Cameras() {
        return window.findChild<QTableView*>(QStringLiteral("cameras"))->model();
    }
    QString Counters() {
        for (QLabel* label : window.findChildren<QLabel*>()) {
            if (label->text().startsWith(QStringLiteral("Good frames")))
                return label->text();
        }
        return QString();
    }

    LineSource line;
    VcamSession session;
    VcamWindow window;
};

}  // namespace

class TestVcamWindow : public QObject {
    Q_OBJECT
private slots:
    void frameOnTheLine_data();
    void frameOnTheLine();
    void listenReadsAnExistingLine();
    void refusals();
    void accessibleNames();
    void hundredThousandFrames();
};

void TestVcamWindow::frameOnTheLine_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("camera");
    QTest::addColumn<QString>("counters");
    // log: protocol, address, meaning, bytes, check; camera: address, power, zoom position.
    QTest::newRow("OSKA-DEFAULT select and power")
        << QByteArray("*00740C00C8*0C750A00DA")
        << QStringList{"OSKA-DEFAULT", "12", "power", "2A 30 43 37 35 30 41 30 30 44 41", "good"}
        << QStringList{"12 (selected)", "off", "0 %"}
        << "Good frames: 2    Bad: 0    Selected camera: 12";
    QTest::newRow("PELCO D camera off, bad checksum")
        << Hex("FF 05 08 00 00 00 0D FF 05 00 20 00 00 26")
        << QStringList{"PELCO D", "5", "checksum 26, expected 25", "FF 05 00 20 00 00 26",
                       "bad checksum"}
        << QStringList{"5", "off", "0 %"} << "Good frames: 1    Bad: 1    Selected camera: none";
}

void TestVcamWindow::frameOnTheLine() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, log);
    QFETCH(QStringList, camera);
    QFETCH(QString, counters);
    Rig rig;
    QVERIFY(rig.line.OpenPseudoTerminal());
    QVERIFY(rig.Send(rig.line.devicePath(), bytes, 2));
    FrameLogModel* model = rig.window.frameLog();
    QCOMPARE(model->rowCount(), 2);
    QStringList shown;
    for (int column = FrameLogModel::Protocol; column <= FrameLogModel::Check; ++column)
        shown << rig.Cell(model, 1, column);
    QCOMPARE(shown, log);
    const int row = rig.Cameras()->rowCount() - 1;
    QCOMPARE((QStringList{rig.Cell(rig.Cameras(), row, CameraTableModel::Address),
                          rig.Cell(rig.Cameras(), row, CameraTableModel::Power),
                          rig.Cell(rig.Cameras(), row, CameraTableModel::ZoomPosition)}),
             camera);
    QCOMPARE(rig.Counters(), counters);
}

// --listen opens a device that another program writes to; here the far end of a pty.
void TestVcamWindow::listenReadsAnExistingLine() {
    int master = -1;
    Rig rig;
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    QVERIFY(rig.line.OpenDevice(QString::fromLocal8Bit(::ptsname(master)), 2400));
    const QByteArray frame = Hex("FF 01 00 40 00 00 41");
    QCOMPARE(::write(master, frame.constData(), frame.size()), frame.size());
    QVERIFY(QTest::qWaitFor([&] {
        rig.window.frameLog()->InsertPending();
        return rig.window.frameLog()->rowCount() == 1;
    }));
    QCOMPARE(rig.Cell(rig.window.frameLog(), 0, FrameLogModel::Meaning), "zoom wide");
    ::close(master);
}

void TestVcamWindow::refusals() {
    LineSource notSerial;
    QVERIFY(!notSerial.OpenDevice(QStringLiteral("/dev/null"), 9600));
    QCOMPARE(notSerial.errorText(), "/dev/null is not a serial device");
    LineSource badRate;
    QVERIFY(!badRate.OpenDevice(QStringLiteral("/dev/null"), 9601));
    QCOMPARE(badRate.errorText(), "unsupported baud rate 9601");

    QTemporaryDir dir;
    LineSource pty;
    QVERIFY(pty.OpenPseudoTerminal());
    const QString file = dir.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);
    QVERIFY(!pty.MakeLink(file));
    QVERIFY(QFileInfo(file).isFile());
    const QString link = dir.filePath(QStringLiteral("line"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent"), link));
    QVERIFY(pty.MakeLink(link));
    QCOMPARE(QFileInfo(link).symLinkTarget(), pty.devicePath());
    pty.RemoveLink();
    QVERIFY(!QFileInfo(link).isSymLink());
}

// What a screen reader announces for the window's parts.
void TestVcamWindow::accessibleNames() {
    Rig rig;
    rig.window.show();
    QStringList names;
    for (QWidget* widget : {static_cast<QWidget*>(rig.window.findChild<QLineEdit*>()),
                            static_cast<QWidget*>(rig.window.findChild<QTableView*>("cameras")),
                            static_cast<QWidget*>(rig.window.findChild<QTableView*>("frameLog"))})
        names << QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    QCOMPARE(names, (QStringList{"Line:", "Cameras", "Frame log"}));
}

// The log stays usable with a long run: a batch of new frames, inserted and painted,
// costs about the same with 100,000 rows in the log as with 1,000. Times are printed as
// medians and their ratio, not judged.
void TestVcamWindow::hundredThousandFrames() {
    Rig rig;
    rig.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
    const QByteArray batch = Hex("FF 0C 00 20 00 00 2C").repeated(100);
    const auto medianBatchUs = [&rig, &batch] {
        QVector<qint64> times;
        QElapsedTimer timer;
        for (int i = 0; i < 21; ++i) {
            timer.start();
            rig.session.OnBytes(batch);
            rig.window.frameLog()->InsertPending();
            rig.window.repaint();
            QCoreApplication::processEvents();
            times << timer.nsecsElapsed() / 1000;
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const qint64 early = medianBatchUs();
    while (rig.window.frameLog()->rowCount() < 100000 - 2100) {
        const int left = 100000 - 2100 - rig.window.frameLog()->rowCount();
        rig.session.OnBytes(batch.repeated(qMin(10, left / 100)));
        rig.window.frameLog()->InsertPending();
    }
    const qint64 late = medianBatchUs();
    qInfo(
        "a batch of 100 frames, inserted and painted: median %lld us at 2,100 rows, "
        "%lld us at 100,000 rows (ratio %.2f)",
        early, late, double(late) / double(early));
    QCOMPARE(rig.window.frameLog()->rowCount(), 100000);
    QCOMPARE(rig.Counters(), "Good frames: 100000    Bad: 0    Selected camera: none");
    QCOMPARE(rig.Cameras()->rowCount(), 1);
}

QTEST_MAIN(TestVcamWindow)
#include "tst_vcam_window.moc"
