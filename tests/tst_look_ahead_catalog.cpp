// The catalog that looks ahead: one look, started as it is made, serves the start; once the
// program has handled its events, every call asks again.
#include <QMutex>
#include <QThread>
#include <QtTest>

#include "serial/look_ahead_catalog.h"

namespace {

// Counts its looks, which may come from another thread; a look takes a while.
class SlowCatalog : public PortCatalog {
public:
    QList<SerialPortFacts> Ports() const override {
        QThread::msleep(30);
        QMutexLocker hold(&mutex);
        ++looks;
        return ports;
    }
    void Plug(const QString& device) {
        QMutexLocker hold(&mutex);
        SerialPortFacts facts;
        facts.device = device;
        ports << facts;
    }
    int Looks() const {
        QMutexLocker hold(&mutex);
        return looks;
    }

private:
    mutable QMutex mutex;
    mutable int looks = 0;
    QList<SerialPortFacts> ports;
};

QStringList Devices(const QList<SerialPortFacts>& ports) {
    QStringList names;
    for (const SerialPortFacts& facts : ports) names << facts.device;
    return names;
}

}  // namespace

class TestLookAheadCatalog : public QObject {
    Q_OBJECT
private slots:
    void oneLookServesTheStart();
    void eventsHandledBeforeTheFirstCall();
    void goesWithALookRunning();
};

void TestLookAheadCatalog::oneLookServesTheStart() {
    SlowCatalog system;
    system.Plug(QStringLiteral("/dev/ttyS0"));
    LookAheadPortCatalog ahead(system);
    // Unasked, and with no events handled: QTRY_COMPARE would handle them.
    for (int waited = 0; system.Looks() == 0 && waited < 5000; waited += 10) QThread::msleep(10);
    QCOMPARE(system.Looks(), 1);
    QCOMPARE(Devices(ahead.Ports()), QStringList{"/dev/ttyS0"});
    system.Plug(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(Devices(ahead.Ports()), QStringList{"/dev/ttyS0"});
    QCOMPARE(system.Looks(), 1);

    QCoreApplication::processEvents();
    QCOMPARE(Devices(ahead.Ports()), (QStringList{"/dev/ttyS0", "/dev/ttyUSB0"}));
    QCOMPARE(Devices(ahead.Ports()), (QStringList{"/dev/ttyS0", "/dev/ttyUSB0"}));
    QCOMPARE(system.Looks(), 3);
}

void TestLookAheadCatalog::eventsHandledBeforeTheFirstCall() {
    SlowCatalog system;
    LookAheadPortCatalog ahead(system);
    QCoreApplication::processEvents();
    system.Plug(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(Devices(ahead.Ports()), QStringList{"/dev/ttyUSB0"});
}

// The look reads the other catalog: it has ended by the time this catalog has gone.
void TestLookAheadCatalog::goesWithALookRunning() {
    SlowCatalog system;
    { LookAheadPortCatalog ahead(system); }
    QCOMPARE(system.Looks(), 1);
    QThread::msleep(60);
    QCOMPARE(system.Looks(), 1);
}

QTEST_GUILESS_MAIN(TestLookAheadCatalog)
#include "tst_look_ahead_catalog.moc"
