#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <array>
#include <deque>
#include <functional>

#include "panel_fixture.h"
#include "protocol/command_set.h"
#include "protocol/control_ids.h"

// A seeded random operator at the real window on a real line that stalls (the far end
// stops reading), is unplugged and comes back. After every event the panel and the line
// must be sound: ten status lines, a camera address of 0 to 255, nothing on the line but
// whole frames with good checksums (a frame may end early only where a write was
// refused), and with every key up no movement left without its stop.
//   VELMOR_RANDOM_SEED    the seed (1 when unset)
//   VELMOR_RANDOM_EVENTS  how many events (20000 when unset)

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

// Counts the bytes that the device reports as gone to the line.
class CountingDevice : public SerialDevice {
public:
    explicit CountingDevice(SerialDevice& inner) : inner(inner) {}
    bool Open(const QString& name, uint32_t baud) override { return inner.Open(name, baud); }
    void Close() override { inner.Close(); }
    PortProblem LastProblem() const override { return inner.LastProblem(); }
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        const uint32_t written = inner.Write(data, count, timeoutMs);
        total += written;
        for (uint32_t i = 0; i < written; ++i) Wrote(data[i]);
        if (written < count) {
            // Cut short on the line: what the program meant to send is its record's flight.
            if (!frame.isEmpty() && flight && wroteBegun && flight().startsWith(frame))
                wroteBegun(flight());
            frame.clear();
        }
        if (written > 0 && afterWrite)
            afterWrite();
        return written;
    }
    qint64 total = 0;
    std::function<void()> afterWrite;  // the line may fail between two bytes of a frame
    std::function<void(const QByteArray&)> wroteWhole;  // each frame the line took whole
    std::function<void(const QByteArray&)> wroteBegun;  // each one it took only part of
    std::function<QByteArray()> flight;                 // the frame the program is writing

private:
    void Wrote(uint8_t byte) {
        if (frame.isEmpty() && byte != 0xFF && byte != '*')
            return;
        frame.append(char(byte));
        if (frame.size() < (uint8_t(frame[0]) == 0xFF ? 7 : 11))
            return;
        if (wroteWhole)
            wroteWhole(frame);
        frame.clear();
    }
    QByteArray frame;
    SerialDevice& inner;
};

// The operator, the line and what they did, one event at a time.
class Run {
public:
    explicit Run(quint32 seed) : random(seed) {
        counter.wroteWhole = [this](const QByteArray& frame) { checker.Written(frame); };
        counter.wroteBegun = [this](const QByteArray& frame) { checker.Begun(frame); };
        counter.flight = [this] {
            const MovementRecord& record = panel.dlg->Controller().LineRecord();
            return QByteArray(reinterpret_cast<const char*>(record.flight), record.flightLength);
        };
        counter.afterWrite = [this] {
            if (!stalled && !unplugged && random.bounded(300) == 0) {
                Collect();
                const bool stall = random.bounded(2);
                log.push_back(stall ? Stall() : Unplug());
                log.back() += QStringLiteral(" within a frame");
                // The frame's next byte may be refused, or may still find room and go
                // out behind the filler: the frame ends early on the line either way.
                stalledWithinFrame = stall;
            }
        };
        for (int port = 2; port <= 4; ++port)
            panel.profile.values.insert(QStringLiteral("Ports/COM%1").arg(port),
                                        QStringLiteral("/nonexistent/velmor-tty%1").arg(port));
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

    LocalSerialDevice device;
    CountingDevice counter{device};
    Panel panel{{}, true, &counter};
    int stalls = 0, unplugs = 0, refusals = 0;
    qint64 Frames() const { return frames + checker.frames; }

private:
    QString Act() {
        if ((stalled || unplugged) && random.bounded(6) == 0)
            return Line();
        const int roll = int(random.bounded(100));
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
        ++stalls;
        return QStringLiteral("line stalls");
    }
    QString Flow() {
        // COMMUNICATION SET purges the line's output queue, filler and all, and frames
        // may follow; each purge may also have cut one short.
        stalled = false;
        const QByteArray bytes = line().ReadAvailable(20);
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
    QString Unplug() {
        line().CloseMaster();
        unplugged = true;
        stalled = false;
        received = counter.total;
        stallRefusals = stallPurges = 0;
        stalledWithinFrame = false;
        ++unplugs;
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
        spare = std::make_unique<PtyPair>();
        panel.profile.values.insert(QStringLiteral("Ports/COM1"), spare->slavePath());
        received = counter.total;
        unplugged = false;
        if (random.bounded(4) == 0)
            return QStringLiteral("line back");
        QComboBox* ports = panel.combo(ControlId::ComPortCombo);
        ports->setCurrentIndex(0);
        emit ports->activated(0);
        panel.click(ControlId::CommunicationSet);
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
        const int refused = int(panel.messages.shown.count(QStringLiteral("Transfer Error!")));
        panel.messages.shown.clear();
        refusals += refused;
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
        if (panel.dlg->StatusTexts().size() != 10)
            return QStringLiteral("status list of %1 lines").arg(panel.dlg->StatusTexts().size());
        if (panel.state().cameraId < 0 || panel.state().cameraId > 255)
            return QStringLiteral("camera address %1").arg(panel.state().cameraId);
        if (!checker.Moving())
            releasedAway = false;
        // What a dead line holds is seen only once it flows again.
        if (leftHeld == 0 && heldArrow == 0 && checker.Moving() && !releasedAway && !stalled &&
            !unplugged)
            return QStringLiteral("all keys up, movement without its stop (%1 frames on this line)")
                .arg(checker.frames);
        return {};
    }

    QRandomGenerator random;
    LineChecker checker;
    std::unique_ptr<PtyPair> spare;
    std::deque<QString> log;
    QString lineFault;
    qint64 frames = 0;
    qint64 filled = 0;
    int stallRefusals = 0;  // refused writes and purges since the line stalled
    int stallPurges = 0;
    bool stalledWithinFrame = false;
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
    Run run(seed);
    QVERIFY(run.panel.exposed);
    for (int event = 0; event < events; ++event) {
        const QString fault = run.Step();
        if (!fault.isEmpty()) {
            QFAIL(qPrintable(QStringLiteral("seed %1, event %2: %3\nlast events:\n%4")
                                 .arg(seed)
                                 .arg(event)
                                 .arg(fault, run.Recent())));
        }
    }
    qInfo("seed %u: %d events, %lld frames, %d stalls, %d unplugs, %d refused writes", seed, events,
          run.Frames(), run.stalls, run.unplugs, run.refusals);
}

QTEST_MAIN(TestRandomOperator)
#include "tst_random_operator.moc"
