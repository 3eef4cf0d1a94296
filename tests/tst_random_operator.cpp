#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <array>
#include <deque>
#include <functional>

#include "panel_fixture.h"
#include "protocol/command_set.h"
#include "protocol/control_ids.h"
#include "serial/failsafe/line_timing.h"

// A seeded random operator at the real window on a real line that stalls (the far end
// stops reading), holds the flow, is unplugged and comes back, looked at and healed when the
// test says, beside two remote clients on leases. After every event the panel and the line
// must be sound: ten status lines, a camera address of 0 to 255, nothing on the line but
// whole frames with good checksums (a frame may end early only where a write was
// refused), with every key up no movement left without its stop, and the Promise kept;
// each run of events ends as the program does (Run::End).
//   VELMOR_RANDOM_SEED    the seed (1 when unset)
//   VELMOR_RANDOM_EVENTS  how many events (20000 when unset)
//   VELMOR_RANDOM_RUN     how many events before a run ends and the next starts (500)
//   VELMOR_RANDOM_FROM    the first run (0), to repeat a run that failed on its own

namespace {

int EnvInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

const QList<int> kKeys = {
    ControlId::Key1,     ControlId::Key2,      ControlId::Key3,   ControlId::Key4,
    ControlId::Key5,     ControlId::Key6,      ControlId::Key7,   ControlId::Key8,
    ControlId::Key9,     ControlId::Cam,       ControlId::Key0,   ControlId::Ent,
    ControlId::MenuUp,   ControlId::Clr,       ControlId::ZoomIn, ControlId::ZoomOut,
    ControlId::FocusFar, ControlId::FocusNear, ControlId::Set,    ControlId::Init,
    ControlId::Power,    ControlId::Reset,     ControlId::Up,     ControlId::Left,
    ControlId::Right,    ControlId::Down};
const QList<int> kCombos = {ControlId::ComPortCombo, ControlId::BaudRateCombo,
                            ControlId::CameraTypeCombo, ControlId::ProtocolCombo};
const QList<Qt::Key> kArrows = {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right};
const QList<Qt::Key> kTapped = {Qt::Key_0, Qt::Key_1,     Qt::Key_2,      Qt::Key_5,
                                Qt::Key_9, Qt::Key_Enter, Qt::Key_Return, Qt::Key_Delete};

bool IsUpperHex(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(uint8_t high, uint8_t low) {
    auto nibble = [](uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    return nibble(high) * 16 + nibble(low);
}

const QList<QByteArray> kPelcoMoves = {Hex("00200000"), Hex("00400000"), Hex("00800000"),
                                       Hex("01000000"), Hex("0023005F"), Hex("30440000")};
const QList<QByteArray> kPelcoCommands =
    kPelcoMoves +
    QList<QByteArray>{Hex("00000000"), Hex("30450000"), Hex("08000000"), Hex("88000000")};
const QList<QByteArray> kOskaMoves = {"750100", "750300", "750500", "750600", "751000", "750D00"};
// The cameras the two remote clients hold Z/I and Z/O on.
const int kClientCameras[] = {12, 5};

QByteArray Bytes(const uint8_t* data, int length) {
    return QByteArray(reinterpret_cast<const char*>(data), length);
}

// Reads the line frame by frame and knows whether a movement is waiting for its stop.
class LineChecker {
public:
    // Takes what one event put on the line; refusals is how many writes were refused in
    // that event (each may have cut one frame short). Empty when all is well. A protocol
    // and camera of -1 take frames sent under settings since changed. A frame carries the
    // camera before the event or, once CAM has committed the typed one, after it.
    QString Take(const QByteArray& bytes, int refusals, int protocol, int cameraId,
                 int protocolBefore = -1, int cameraBefore = -1) {
        int at = 0;
        int cut = 0;
        while (at < bytes.size()) {
            const int length = uint8_t(bytes[at]) == 0xFF ? 7 : 11;
            // Picking the other protocol first stops a movement in the one it started in.
            auto under = [length](int p) {
                return p < 0 || (length == 7) == (p != ProtocolOskaDefault);
            };
            const QString fault = Fault(bytes, at, cameraId, cameraBefore);
            // A frame cut short is excused below by a refusal, whatever its protocol.
            if (fault.isEmpty() && !under(protocol) && !under(protocolBefore) &&
                !Owed(bytes.mid(at, length)))
                return QStringLiteral("frame of the other protocol at %1 in %2")
                    .arg(at)
                    .arg(QString::fromLatin1(bytes.toHex()));
            if (fault.isEmpty()) {
                Note(bytes.mid(at, length));
                ++frames;
                at += length;
                continue;
            }
            if (++cut > refusals)
                return fault + QStringLiteral(" at %1 in %2")
                                   .arg(at)
                                   .arg(QString::fromLatin1(bytes.toHex()));
            // A frame cut short ends where the next whole frame begins, or with the bytes.
            ++at;
            while (at < bytes.size() && !Fault(bytes, at, cameraId, cameraBefore).isEmpty()) ++at;
        }
        if (refusals > 0)
            moving = {false, false};  // a stop may have been among the refused
        return {};
    }

    // A movement waiting for its stop, per protocol: a camera stops only on the stop of the
    // protocol its movement started in.
    std::array<bool, 2> moving = {false, false};
    bool Moving() const { return moving[0] || moving[1]; }
    qint64 frames = 0;
    // The stops owed to movements the program wrote whole: a stop still owed goes out once
    // the line takes bytes again, whatever camera and protocol are selected by then, and its
    // movement may be one never seen on the line (purged from a stalled line). Only such a
    // stop may differ from the settings. Whether a stop was owed is known when it is written;
    // a stalled line is read late, when later movements may have been written, so each frame
    // read is matched to the frames written, in order.
    QSet<QByteArray> running;  // stops of the movements written that no stop written followed
    std::deque<std::pair<QByteArray, bool>> written;  // whole frames not yet read; owed stops
    bool Owed(const QByteArray& frame) const {
        if (running.contains(frame))
            return true;
        for (const auto& [bytes, owed] : written) {
            if (bytes == frame)
                return owed;
        }
        return false;
    }
    void Written(const QByteArray& frame) {
        if (!Check(frame, -1).isEmpty())
            return;
        const QByteArray stop = StopOf(frame);
        written.emplace_back(frame, stop.isEmpty() && running.remove(frame));
        if (!stop.isEmpty())
            running.insert(stop);
        // Frames purged from a stalled line are never read.
        while (written.size() > 4096) written.pop_front();
    }
    // A frame the line took only the first bytes of: a movement owes its stop from its
    // first byte on the line.
    void Begun(const QByteArray& frame) {
        const QByteArray stop = StopOf(frame);
        if (!stop.isEmpty())
            running.insert(stop);
    }
    // The stop of a movement frame; empty for any other.
    static QByteArray StopOf(const QByteArray& frame) {
        QByteArray stop;
        if (frame.size() == 7 && kPelcoMoves.contains(frame.mid(2, 4))) {
            stop = frame.left(2) + QByteArray(4, '\0');
            stop += char(stop[1]);
        } else if (frame.size() == 11 && kOskaMoves.contains(frame.mid(3, 6))) {
            stop = frame.left(3) + "750900";
            int sum = 0;
            for (char c : stop) sum += uint8_t(c);
            stop += QByteArray::number(sum & 0xFF, 16).toUpper().rightJustified(2, '0');
        }
        return stop;
    }

private:
    QString Fault(const QByteArray& bytes, int at, int cameraId, int cameraBefore) const {
        const QString fault = Whole(bytes, at, cameraId, cameraBefore);
        return fault.isEmpty() || Owed(bytes.mid(at, uint8_t(bytes[at]) == 0xFF ? 7 : 11))
                   ? QString()
                   : fault;
    }
    // Why no whole frame for either camera starts at, or empty.
    static QString Whole(const QByteArray& bytes, int at, int cameraId, int cameraBefore) {
        const QByteArray frame = bytes.mid(at, uint8_t(bytes[at]) == 0xFF ? 7 : 11);
        const QString fault = Check(frame, cameraId);
        for (int camera : kClientCameras)
            if (Check(frame, camera).isEmpty())
                return QString();
        return cameraBefore >= 0 && Check(frame, cameraBefore).isEmpty() ? QString() : fault;
    }
    static QString Check(const QByteArray& frame, int cameraId) {
        const auto* b = reinterpret_cast<const uint8_t*>(frame.constData());
        int sum = 0;
        if (frame.size() == 7 && b[0] == 0xFF) {
            for (int i = 1; i <= 5; ++i) sum += b[i];
            if (b[6] != (sum & 0xFF))
                return QStringLiteral("bad PELCO D checksum");
            if (cameraId >= 0 && b[1] != (cameraId & 0xFF))
                return QStringLiteral("PELCO D frame for another camera");
            return kPelcoCommands.contains(frame.mid(2, 4))
                       ? QString()
                       : QStringLiteral("unknown PELCO D command");
        }
        if (frame.size() != 11 || b[0] != '*')
            return QStringLiteral("short or unknown frame");
        for (int i = 1; i <= 10; ++i) {
            if (!IsUpperHex(b[i]))
                return QStringLiteral("not a hex digit");
        }
        for (int i = 0; i <= 8; ++i) sum += b[i];
        if (HexValue(b[9], b[10]) != (sum & 0xFF))
            return QStringLiteral("bad OSKA-DEFAULT checksum");
        if (cameraId >= 0 && HexValue(b[1], b[2]) != (cameraId & 0xFF))
            return QStringLiteral("OSKA-DEFAULT frame for another camera");
        const QByteArray command = frame.mid(3, 6);
        if (!(command.startsWith("75") || command.startsWith("74") || command == "710000") ||
            !command.endsWith("00"))
            return QStringLiteral("unknown OSKA-DEFAULT command");
        return {};
    }

    void Note(const QByteArray& frame) {
        const auto match = std::find_if(written.begin(), written.end(),
                                        [&frame](const auto& w) { return w.first == frame; });
        if (match != written.end())
            written.erase(written.begin(), match + 1);
        if (frame.size() == 7) {
            const QByteArray command = frame.mid(2, 4);
            if (command == QByteArray(4, '\0'))
                moving[ProtocolPelcoD] = false;
            else if (kPelcoMoves.contains(command))
                moving[ProtocolPelcoD] = true;
        } else {
            const QByteArray command = frame.mid(3, 6);
            if (command == "750900")
                moving[ProtocolOskaDefault] = false;
            else if (kOskaMoves.contains(command))
                moving[ProtocolOskaDefault] = true;
        }
    }
};

// Counts the bytes that the device reports as gone to the line; its far end may hold the
// flow, as a serial server's FLOWCONTROL-SUSPEND does.
class CountingDevice : public ForwardingDevice {
public:
    using ForwardingDevice::ForwardingDevice;
    bool FlowHeld() const override { return held; }
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        if (held) {
            ++writesWhileHeld;
            return 0;
        }
        const uint32_t written = inner.Write(data, count, timeoutMs);
        total += written;
        shortWrites += written < count ? 1 : 0;
        if (written > 0 && took)
            took();
        if (written > 0 && afterWrite)
            afterWrite();
        return written;
    }
    qint64 total = 0;
    int shortWrites = 0;
    int writesWhileHeld = 0;  // none may come: the link writes nothing while the flow is held
    bool held = false;
    std::function<void()> took;        // the line took a byte, the record not yet told
    std::function<void()> afterWrite;  // the line may fail between two bytes of a frame
};

// The line's promise, checked against the movement record at every byte the line takes: from
// a movement frame's first byte on the line until its camera's whole stop, the record owes
// that stop; a stop refused or cut is the next frame (or a movement that keeps it owed); no
// frame starts before a receiver has dropped one cut short. Cameras by protocol and address.
class Promise {
public:
    // A byte the line took, as the record holds it until told (the byte counted).
    void Took(const MovementRecord& record, int64_t nowNs) {
        const QByteArray flight = Bytes(record.flight, record.flightLength);
        const QString frame = QString::fromLatin1(flight.toHex());
        const int64_t gapNs = nowNs - record.lastByteNs;
        if (record.flightSent == 1 && MovementLog::State(record) == MoveState::StopOwed)
            fault = QStringLiteral("frame %1 went out while the stop %2 was owed")
                        .arg(frame, QString::fromLatin1(Stop(record).toHex()));
        if (record.flightSent == 1 && record.cut && gapNs < LineTiming::kCutFramePauseNs)
            fault = QStringLiteral("frame %1 began %2 ms after a frame cut short")
                        .arg(frame)
                        .arg(gapNs / LineTiming::kNsPerMs);
        if (!LineChecker::StopOf(flight).isEmpty()) {
            touched.insert(Camera(flight));
        } else if (record.flightSent == record.flightLength &&
                   (flight.mid(Camera(flight).size(), 4) == QByteArray(4, '\0') ||
                    flight.mid(Camera(flight).size(), 4) == "7509")) {
            touched.remove(Camera(flight));
            ++stops[Camera(flight)];
        }
    }
    // After an event: every camera a movement reached is owed its stop.
    QString Kept(const MovementRecord& record) const {
        if (!fault.isEmpty())
            return fault;
        for (const QByteArray& camera : touched)
            if (!MovementLog::OwesStop(record) || Camera(Stop(record)) != camera)
                return QStringLiteral("a movement reached camera %1 and its stop is not owed")
                    .arg(QString::fromLatin1(camera.toHex()));
        return QString();
    }
    static QByteArray Camera(const QByteArray& frame) {
        return frame.left(frame.size() == 7 ? 2 : 3);
    }
    static QByteArray Stop(const MovementRecord& record) {
        return Bytes(record.stop, record.stopLength);
    }
    QSet<QByteArray> touched;      // cameras owed a stop
    QHash<QByteArray, int> stops;  // whole stops that reached the line, by camera
    QString fault;                 // the first promise broken
};

// What the runs of one seed did, in all.
struct Counts {
    qint64 frames = 0;
    int stalls = 0, holds = 0, unplugs = 0, heals = 0, clients = 0, refusals = 0, handedOver = 0;
};

// The operator, the line and what they did, one event at a time.
class Run {
public:
    Run(quint32 seed, int run, Counts& counts)
        : counts(counts), random(std::array<quint32, 2>{seed, quint32(run)}.data(), 2) {
        counter.took = [this] {
            const MovementRecord& record = guard.record;
            const QByteArray flight = Bytes(record.flight, record.flightLength);
            promise.Took(record, panel.pause.NowNs());
            checker.Begun(flight);  // a movement owes its stop from its first byte on the line
            if (record.flightSent == record.flightLength)
                checker.Written(flight);
        };
        counter.afterWrite = [this] {
            if (!stalled && !unplugged && !counter.held && random.bounded(300) == 0) {
                Collect();
                const int what = int(random.bounded(3));
                log.push_back(what == 0 ? Stall() : what == 1 ? Unplug() : Hold(true));
                log.back() += QStringLiteral(" within a frame");
                // The frame's next byte may be refused, or may still find room and go
                // out behind the filler: the frame ends early on the line either way.
                stalledWithinFrame = what == 0;
                cutWithinFrame = what != 0;
            }
        };
        for (int port = 2; port <= 4; ++port)
            panel.profile.values.insert(QStringLiteral("Ports/COM%1").arg(port),
                                        QStringLiteral("/nonexistent/velmor-tty%1").arg(port));
        // COM1 names the line by a link of its own, so that a device back under that name is
        // opened again by itself.
        QFile::link(panel.pty.slavePath(), comName);
        panel.profile.values.insert(QStringLiteral("Ports/COM1"), comName);
        panel.click(ControlId::CommunicationSet);
    }

    // One random event; returns what went wrong, or empty.
    QString Step() {
        const QString what = Act();
        log.push_back(what);
        while (log.size() > 40) log.pop_front();
        return Check();
    }
    QString Recent() const {
        QStringList lines(log.begin(), log.end());
        lines << QStringLiteral(
                     "held: key %1, arrow %2; line stalled %3, unplugged %4; released away %5")
                     .arg(leftHeld)
                     .arg(heldArrow)
                     .arg(stalled)
                     .arg(unplugged)
                     .arg(releasedAway);
        return lines.join(QLatin1Char('\n'));
    }

    // The program ends here: it sends, or hands to the guardian with the line, one whole stop
    // for each camera a movement reached (none where no line is left to take it), and no
    // camera two.
    QString End() {
        const QSet<QByteArray> touched = promise.touched;
        // The device may be gone unnoticed yet (unplugged, or another back under its name).
        const bool open = panel.dlg->Controller().PortOpen() && counter.CheckLine();
        counter.afterWrite = nullptr;
        promise.stops.clear();
        panel.dlg->EndRun(QStringLiteral("the run ends"));
        const bool handed = guard.holdsLine && MovementLog::OwesStop(guard.record);
        if (handed)
            ++promise.stops[Promise::Camera(Promise::Stop(guard.record))];
        counts.handedOver += handed ? 1 : 0;
        for (const QByteArray& camera :
             touched + QSet<QByteArray>(promise.stops.keyBegin(), promise.stops.keyEnd()))
            if (promise.stops.value(camera) > 1 || (open && promise.stops.value(camera) == 0))
                return QStringLiteral("the end sent %1 stops to camera %2")
                    .arg(promise.stops.value(camera))
                    .arg(QString::fromLatin1(camera.toHex()));
        return promise.fault;
    }

    QTemporaryDir names;
    const QString comName = names.filePath(QStringLiteral("com1"));
    LocalSerialDevice device;
    CountingDevice counter{device};
    ManualMender mender;
    HoldingGuard guard;
    Panel panel{{}, true, &counter, &mender, &guard};
    Counts& counts;
    qint64 Frames() const { return frames + checker.frames; }

private:
    QString Act() {
        if ((stalled || unplugged || counter.held) && random.bounded(6) == 0)
            return Line();
        const int roll = int(random.bounded(112));
        if (roll >= 100)
            return roll < 106 ? Client() : roll < 109 ? Look() : Mend();
        if (roll < 25)
            return leftHeld ? ReleaseLeft() : PressLeft(kKeys[random.bounded(kKeys.size())]);
        if (roll < 30)
            return RightPress();
        if (roll < 55)
            return ArrowKey();
        if (roll < 70)
            return Tap(kTapped[random.bounded(kTapped.size())]);
        // A row is picked with the mouse, so never while it holds a key down.
        if (roll < 80 && !leftHeld)
            return Pick();
        if (roll < 84 && !leftHeld) {
            panel.click(ControlId::CommunicationSet);
            // The purge may cut the frame it interrupts.
            stallPurges += stalled ? 1 : 0;
            return QStringLiteral("COMMUNICATION SET");
        }
        if (roll < 87)
            return Line();
        return PressLeft(kKeys[random.bounded(kKeys.size())]);
    }

    QString PressLeft(int id) {
        if (leftHeld)
            return ReleaseLeft();
        panel.press(id);
        leftHeld = id;
        return QStringLiteral("press %1").arg(id);
    }
    QString ReleaseLeft() {
        const int id = leftHeld;
        leftHeld = 0;
        // Mostly over the key (its click follows), sometimes elsewhere (no click, no stop).
        if (random.bounded(4) != 0) {
            panel.release(id);
            return QStringLiteral("release %1").arg(id);
        }
        QTest::mouseRelease(panel.window(), Qt::LeftButton, {}, QPoint(2, panel.dlg->height() - 2));
        if (CommandSet::IsStopKey(id) && panel.control(id)->isEnabled())
            releasedAway = true;
        return QStringLiteral("release %1 away").arg(id);
    }
    QString RightPress() {
        const int id = kKeys[random.bounded(kKeys.size())];
        QTest::mousePress(panel.window(), Qt::RightButton, {}, panel.centre(id));
        QTest::mouseRelease(panel.window(), Qt::RightButton, {}, panel.centre(id));
        return QStringLiteral("right %1").arg(id);
    }
    QString ArrowKey() {
        if (heldArrow == 0) {
            heldArrow = kArrows[random.bounded(kArrows.size())];
            panel.key(heldArrow, true);
            return QStringLiteral("arrow %1 down").arg(heldArrow);
        }
        if (random.bounded(3) != 0) {
            panel.key(heldArrow, false, true);
            panel.key(heldArrow, true, true);
            return QStringLiteral("arrow %1 repeat").arg(heldArrow);
        }
        panel.key(heldArrow, false);
        const Qt::Key key = heldArrow;
        heldArrow = Qt::Key(0);
        return QStringLiteral("arrow %1 up").arg(key);
    }
    QString Tap(Qt::Key key) {
        panel.tap(key, random.bounded(2) ? Qt::KeypadModifier : Qt::NoModifier);
        return QStringLiteral("tap %1").arg(key);
    }
    QString Pick() {
        QComboBox* box = panel.combo(kCombos[random.bounded(kCombos.size())]);
        // Mostly COM1, the port with a line behind it.
        const bool com1 = box == panel.combo(ControlId::ComPortCombo) && random.bounded(3) != 0;
        const int row = com1 ? 0 : int(random.bounded(box->count()));
        box->setCurrentIndex(row);
        emit box->activated(row);
        return QStringLiteral("pick %1 row %2").arg(box->objectName()).arg(row);
    }
    QString Line() {
        if (unplugged)
            return ComeBack();
        if (counter.held || random.bounded(5) == 0)
            return Hold(!counter.held);
        const bool unplug = random.bounded(10) >= 7;
        Collect();
        if (stalled)
            return unplug ? Unplug() : Flow();
        return unplug ? Unplug() : Stall();
    }
    QString Stall() {
        stalled = true;
        // The pseudo-terminal moves bytes on to its far end's buffer a little later,
        // which makes room again: fill until it stays full.
        filled = 0;
        for (qint64 more = line().FillUntilStalled(); more > 0; more = line().FillUntilStalled()) {
            filled += more;
            QThread::msleep(5);
        }
        ++counts.stalls;
        return QStringLiteral("line stalls");
    }
    QString Flow() {
        // COMMUNICATION SET purges the line's output queue, filler and all, and frames
        // may follow; each purge may also have cut one short.
        // Without a purge, the filler and every byte written since arrive: waited for, as the
        // terminal hands them on late under load.
        stalled = false;
        const QByteArray bytes = stallPurges > 0
                                     ? line().ReadAvailable(20)
                                     : line().Read(int(filled + counter.total - received), 5000);
        qsizetype filler = 0;
        while (filler < bytes.size() && bytes[filler] == 'x') ++filler;
        if (filler > filled || (filler < filled && stallPurges == 0))
            lineFault = QStringLiteral("%1 of %2 filler bytes came back").arg(filler).arg(filled);
        const QString fault = checker.Take(
            bytes.mid(filler), stallRefusals + stallPurges + stalledWithinFrame, -1, -1);
        if (!fault.isEmpty())
            lineFault = fault;
        stallRefusals = stallPurges = 0;
        stalledWithinFrame = false;
        received = counter.total;
        return QStringLiteral("line flows");
    }
    QString Hold(bool hold) {
        counter.held = hold;
        counts.holds += hold ? 1 : 0;
        return hold ? QStringLiteral("far end holds the flow") : QStringLiteral("far end resumes");
    }
    // The timer's look at the line, once its interval has passed.
    QString Look() {
        panel.pause.virtualNs += int64_t(mender.lookIntervalMs) * LineTiming::kNsPerMs;
        mender.Look();
        return QStringLiteral("look at the line");
    }
    // The attempt to open the dropped line again: under way, or run to its end (an opening
    // purges what the line held, as COMMUNICATION SET does).
    QString Mend() {
        const QString none = QStringLiteral("no heal attempt due");
        if (!mender.UnderWay() && random.bounded(2))
            return mender.StartAttempt() ? QStringLiteral("heal attempt under way") : none;
        if (!mender.RunAttempt())
            return none;
        stallPurges += stalled ? 1 : 0;
        counts.heals += panel.dlg->Controller().PortOpen() ? 1 : 0;
        return QStringLiteral("heal attempt ends");
    }
    // A remote client's key or lease, as the program's server hands it on.
    QString Client() {
        KeypadController& keys = panel.dlg->Controller();
        const int which = int(random.bounded(2));
        const QString client = which ? QStringLiteral("r2") : QStringLiteral("r1");
        const int key = which ? ControlId::ZoomOut : ControlId::ZoomIn;
        const int roll = int(random.bounded(10));
        ++counts.clients;
        panel.pause.virtualNs += roll == 8 ? int64_t(5001) * LineTiming::kNsPerMs : 0;
        if (roll >= 8) {
            roll == 8 ? keys.CheckLeases() : keys.ClientGone(client);
            return roll == 8 ? QStringLiteral("a lease lapses") : client + QStringLiteral(" gone");
        }
        const RemoteKeys::Reply reply = roll < 4
                                            ? keys.Down(client, key, kClientCameras[which], 5000)
                                        : roll < 6 ? keys.Up(client, key)
                                                   : keys.Renew(client, 5000);
        return QStringLiteral("%1 %2: outcome %3")
            .arg(client, QLatin1String(roll < 4   ? "down"
                                       : roll < 6 ? "up"
                                                  : "renew"))
            .arg(int(reply.outcome));
    }
    QString Unplug() {
        line().CloseMaster();
        unplugged = true;
        stalled = false;
        received = counter.total;
        stallRefusals = stallPurges = 0;
        stalledWithinFrame = false;
        ++counts.unplugs;
        return QStringLiteral("line unplugged");
    }
    // A new device under the same port name, mostly taken up again at once by the
    // operator: COM1 picked and COMMUNICATION SET.
    QString ComeBack() {
        frames += checker.frames;
        // COM1 is the line to the cameras, whatever device now stands for it: a stop owed
        // on the old one may go out on the new; what the old one held is never read.
        const QSet<QByteArray> running = checker.running;
        checker = LineChecker();
        checker.running = running;
        // One unplugged stays allocated: an attempt under way that looked it up finds it hung
        // up, never another program's terminal under its number.
        retired.push_back(std::move(spare));
        spare = std::make_unique<PtyPair>();
        QFile::remove(comName);
        QFile::link(spare->slavePath(), comName);
        received = counter.total;
        unplugged = false;
        if (random.bounded(4) == 0)
            return QStringLiteral("line back");
        QComboBox* ports = panel.combo(ControlId::ComPortCombo);
        ports->setCurrentIndex(0);
        emit ports->activated(0);
        panel.click(ControlId::CommunicationSet);
        stallPurges += stalled ? 1 : 0;  // stalled by its first frame, then opened again
        return QStringLiteral("line back, COM1 taken up");
    }

    PtyPair& line() { return spare ? *spare : panel.pty; }
    // Reads what the device has written so far, while the line flows. The pseudo-terminal
    // hands bytes on to its far end asynchronously: wait for all that the device counts.
    void Collect() {
        const qint64 owed = counter.total - received;
        if (unplugged || stalled || owed <= 0)
            return;
        const QByteArray bytes = line().Read(int(owed), 5000);
        received += bytes.size();
        pending += bytes;
        if (bytes.size() < owed && lineFault.isEmpty())
            lineFault = QStringLiteral("%1 of %2 bytes written never arrived")
                            .arg(owed - bytes.size())
                            .arg(owed);
    }
    // Checks what the event put on the line and the refusals it met; a refusal excuses a
    // stop that never went out.
    void TakeEvent() {
        Collect();
        // Refusals the operator was told of, and those of a client's frame, a look or a heal.
        const int refused = int(panel.messages.shown.count(QStringLiteral("Transfer Error!"))) +
                            counter.shortWrites - shortWrites + cutWithinFrame;
        shortWrites = counter.shortWrites;
        cutWithinFrame = false;
        panel.messages.shown.clear();
        counts.refusals += refused;
        if (stalled)
            stallRefusals += refused;
        const QString fault =
            checker.Take(pending, refused + stalledWithinFrame, panel.state().protocol,
                         panel.state().cameraId, protocolBefore, cameraBefore);
        pending.clear();
        protocolBefore = panel.state().protocol;
        cameraBefore = panel.state().cameraId;
        if (!fault.isEmpty() && lineFault.isEmpty())
            lineFault = fault;
    }

    QString Check() {
        QCoreApplication::processEvents();
        TakeEvent();
        panel.pause.pauses.clear();
        if (!lineFault.isEmpty())
            return lineFault;
        if (counter.writesWhileHeld > 0)
            return QStringLiteral("a byte was written while the far end held the flow");
        const QString broken = promise.Kept(guard.record);
        if (!broken.isEmpty())
            return broken;
        if (panel.dlg->StatusTexts().size() != 10)
            return QStringLiteral("status list of %1 lines").arg(panel.dlg->StatusTexts().size());
        if (panel.state().cameraId < 0 || panel.state().cameraId > 255)
            return QStringLiteral("camera address %1").arg(panel.state().cameraId);
        if (!checker.Moving())
            releasedAway = false;
        // What a dead line holds is seen only once it flows again.
        const bool clientHolds =
            panel.dlg->Controller().CurrentHold().holder == KeyHolds::Holder::Client;
        if (leftHeld == 0 && heldArrow == 0 && checker.Moving() && !releasedAway && !stalled &&
            !unplugged && !counter.held && !clientHolds)
            return QStringLiteral("all keys up, movement without its stop (%1 frames on this line)")
                .arg(checker.frames);
        return {};
    }

    QRandomGenerator random;
    LineChecker checker;
    std::unique_ptr<PtyPair> spare;
    std::vector<std::unique_ptr<PtyPair>> retired;
    std::deque<QString> log;
    QString lineFault;
    qint64 frames = 0;
    qint64 filled = 0;
    int stallRefusals = 0;  // refused writes and purges since the line stalled
    int stallPurges = 0;
    bool stalledWithinFrame = false;
    bool cutWithinFrame = false;
    int shortWrites = 0;  // the device's count at the last event
    Promise promise;
    int cameraBefore = 0;
    int protocolBefore = 0;
    qint64 received = 0;  // bytes read from the line, in step with the device's count
    QByteArray pending;   // read during the event, not yet checked
    int leftHeld = 0;
    Qt::Key heldArrow = Qt::Key(0);
    bool releasedAway = false;  // a movement key released off the key: no click, no stop
    bool stalled = false;
    bool unplugged = false;
};

}  // namespace

class TestRandomOperator : public QObject {
    Q_OBJECT
private slots:
    void randomRun();
};

void TestRandomOperator::randomRun() {
    const quint32 seed = quint32(EnvInt("VELMOR_RANDOM_SEED", 1));
    const int events = EnvInt("VELMOR_RANDOM_EVENTS", 20000);
    const int perRun = std::max(1, EnvInt("VELMOR_RANDOM_RUN", 500));
    Counts counts;
    const int first = EnvInt("VELMOR_RANDOM_FROM", 0);
    for (int runNo = first; (runNo - first) * perRun < events; ++runNo) {
        Run run(seed, runNo, counts);
        QVERIFY(run.panel.exposed);
        const int count = std::min(perRun, events - (runNo - first) * perRun);
        for (int event = 0; event <= count; ++event) {
            const QString fault = event < count ? run.Step() : run.End();
            if (!fault.isEmpty()) {
                QFAIL(qPrintable(QStringLiteral("seed %1, run %2, event %3: %4\nlast events:\n%5")
                                     .arg(seed)
                                     .arg(runNo)
                                     .arg(event)
                                     .arg(fault, run.Recent())));
            }
        }
        counts.frames += run.Frames();
    }
    qInfo(
        "seed %u: %d events, %lld frames, %d stalls, %d holds, %d unplugs, %d heals, %d client "
        "events, %d refused writes, %d stops handed over at the end",
        seed, events, counts.frames, counts.stalls, counts.holds, counts.unplugs, counts.heals,
        counts.clients, counts.refusals, counts.handedOver);
}

QTEST_MAIN(TestRandomOperator)
#include "tst_random_operator.moc"
