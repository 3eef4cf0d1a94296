#include <QtTest>
#include <functional>
#include <memory>

#include "control/keypad_controller.h"
#include "fakes.h"
#include "frame_decoder.h"
#include "protocol/control_ids.h"
#include "serial/failsafe/line_guard.h"

// The line and its movement record walked through every order of the events that change
// them, breadth first, until no new state comes: an operator who holds and releases keys for
// two cameras in either protocol, a line that stalls, cuts a frame short, is lost, holds the
// flow and resumes, attempts to open it again that succeed or fail or are under way, the
// timer's looks, COMMUNICATION SET on the same or another port. The camera end of the line is
// velmor-vcam's decoder, fed every byte at the time the pauses put it on the line. After
// every step: from the first byte of a movement frame on the line until the camera has
// decoded a whole stop, the record owes that stop. At every state reached, three endings: a
// stop sender (the crash handler, the guardian after a kill), and the end of the run (with
// the guardian after it when the stop is handed over): once the line takes their bytes,
// every camera a movement reached has decoded its stop, and the senders send no stop that
// is not owed.
//   VELMOR_MODEL_DEPTH  the deepest sequence walked (the whole space when unset)

namespace {

constexpr int kCameraA = 5;
constexpr int kCameraB = 12;

enum class Event {
    DownA,     // Up pressed (or repeated) with camera A in force
    DownB,     // the same for camera B
    Release,   // the key let go: the stop
    Protocol,  // the other protocol row picked (a movement is stopped first)
    Stall,     // the far end stops reading: every byte refused, the line still there
    Flow,      // it reads again
    Cut,       // the line takes three more bytes and then refuses one
    Lose,      // the device goes away
    Suspend,   // FLOWCONTROL-SUSPEND
    Resume,    // FLOWCONTROL-RESUME
    Look,      // the timer's look at the line, after its interval
    Start,     // the scheduled attempt to open the dropped line again is under way
    Back,      // the attempt (scheduled or under way) opens the device, which is back
    Fail,      // it finds no device
    ComSet,    // COMMUNICATION SET on the same port
    ComSet2,   // COMMUNICATION SET with COM2 picked
    Remote,    // client r1 holds Z/I down on camera B, on a lease of 1 s (or renews it)
    Remote2,   // client r2 holds Z/O down on camera A
    RemoteUp,  // r1 lets go
    Lapse,     // more than a lease passes with nothing heard
    Gone,      // r1's connection ends
};
constexpr int kEvents = int(Event::Gone) + 1;
const char* const kEventNames[] = {"downA",    "downB", "up",      "protocol", "stall",  "flow",
                                   "cut",      "lose",  "suspend", "resume",   "look",   "start",
                                   "back",     "fail",  "comset",  "comset2",  "remote", "remote2",
                                   "remoteUp", "lapse", "gone"};

// The virtual clock: every pause moves it on, and so does the timer's look.
// A kill can land at any pause and at any write: probe runs at each.
class ClockPause : public Pause {
public:
    void Sleep(int ms) override {
        if (probe)
            probe();
        nowNs += int64_t(ms) * LineTiming::kNsPerMs;
    }
    int64_t NowNs() const override { return nowNs; }
    int64_t nowNs = int64_t(1000) * LineTiming::kNsPerMs;
    std::function<void()> probe;
};

// The camera end: every byte the line took, at its time, through the decoder. A camera is
// owed its stop from the first byte of a movement frame for it until it decodes a whole stop.
class Cameras {
public:
    explicit Cameras(const ClockPause& clock) : clock(clock) {}
    void Byte(uint8_t byte, const MovementRecord& record) {
        const QByteArray flight(reinterpret_cast<const char*>(record.flight), record.flightLength);
        if (!IsStop(flight))
            touched.insert(Target(flight));
        for (const DecodedFrame& frame : decoder.Feed(QByteArray(1, char(byte)), Us()))
            Decoded(frame);
    }
    void Settle() {
        for (const DecodedFrame& frame : decoder.Expire(Us())) Decoded(frame);
    }
    static bool IsStop(const QByteArray& frame) {
        return frame.size() == 7 ? frame.mid(2, 4) == QByteArray(4, '\0')
                                 : frame.mid(3, 4) == "7509";
    }
    // "P5", "O12": the protocol's initial and the address.
    static QByteArray Target(const QByteArray& frame) {
        if (frame.size() == 7)
            return "P" + QByteArray::number(uint8_t(frame[1]));
        return "O" + QByteArray::number(frame.mid(1, 2).toInt(nullptr, 16));
    }
    QSet<QByteArray> touched;     // owed a stop
    QMap<QByteArray, int> stops;  // whole stops decoded, by camera
    FrameDecoder decoder;

private:
    qint64 Us() const { return clock.nowNs / 1000; }
    void Decoded(const DecodedFrame& frame) {
        if (!frame.IsGood() || !IsStop(frame.bytes))
            return;
        touched.remove(Target(frame.bytes));
        ++stops[Target(frame.bytes)];
    }
    const ClockPause& clock;
};

// A line whose far end does what the walk says, and which tells the cameras every byte.
class ScriptedLine : public RecordingDevice {
public:
    ScriptedLine(Cameras& cameras, const MovementRecord& record)
        : cameras(cameras), record(record) {}
    uint32_t Write(const uint8_t* data, uint32_t count, int timeoutMs) override {
        if (probe)
            probe();
        if (stalled || held || (cutIn > 0 && --cutIn == 0)) {
            ++refusals;
            return 0;
        }
        const uint32_t written = RecordingDevice::Write(data, count, timeoutMs);
        for (uint32_t i = 0; i < written; ++i) cameras.Byte(data[i], record);
        return written;
    }
    bool FlowHeld() const override { return held; }
    bool CheckLine() override { return !lost; }
    bool stalled = false;
    bool held = false;
    int cutIn = 0;  // the write that is refused, counting down; 0: none
    int refusals = 0;
    std::function<void()> probe;

private:
    Cameras& cameras;
    const MovementRecord& record;
};

// One run of the keypad's core from a fresh start through a sequence of events.
struct World {
    World() {
        profile.values.insert(QStringLiteral("Settings/PROTOCOL"), 1);
        controller.OnInitDialog();
        clock.probe = line.probe = [this] { Probe(); };
    }
    // Were the program killed here, the stop sender would owe every camera a movement reached
    // its stop.
    void Probe() {
        MovementRecord copy = guard.record;
        MovementLog::TakeOver(copy);
        for (const QByteArray& camera : cameras.touched)
            if (!MovementLog::OwesStop(copy) ||
                Cameras::Target(QByteArray(reinterpret_cast<const char*>(copy.stop),
                                           copy.stopLength)) != camera)
                killedUnowed << QString::fromLatin1(camera);
    }
    QStringList killedUnowed;  // cameras a kill at a pause or a write would have left moving
    void Tell(Notice notice) {
        if (notice != Notice::None)
            controller.SettleFailedFrame();
    }
    void Down(int camera) {
        if (controller.Settings().cameraId != camera) {
            for (QChar digit : QString::number(camera))
                controller.PressKey(digit == QLatin1Char('5')   ? ControlId::Key5
                                    : digit == QLatin1Char('1') ? ControlId::Key1
                                                                : ControlId::Key2);
            controller.PressKey(ControlId::Ent);
        }
        Tell(controller.PressPcKey(VirtualKey::Up));
    }
    void ComSet(int row) {
        controller.OnSelChangeComPort(row);
        Tell(controller.StopMovement());
        controller.ApplyCommunicationSettings();
        Tell(controller.OwedStopNotice());
        // A stop let go for another port is said; that camera is not this line's any more.
        if (!controller.AbandonedStopReason().isEmpty())
            cameras.touched.clear();
    }
    void Apply(Event event) {
        switch (event) {
            case Event::DownA:
                return Down(kCameraA);
            case Event::DownB:
                return Down(kCameraB);
            case Event::Release:
                if (controller.MovementActive())
                    Tell(controller.SendStop());
                return;
            case Event::Protocol:
                return Tell(controller.OnSelChangeProtocol(1 - controller.Rows().protocol));
            case Event::Stall:
            case Event::Flow:
                line.stalled = event == Event::Stall;
                return;
            case Event::Cut:
                line.cutIn = 4;
                return;
            case Event::Lose:
                line.lost = true;
                line.isOpen = false;
                return;
            case Event::Suspend:
            case Event::Resume:
                line.held = event == Event::Suspend;
                return;
            case Event::Look:
                clock.Sleep(mender.lookIntervalMs);
                cameras.Settle();
                return mender.Look();
            case Event::Start:
                mender.StartAttempt();
                return;
            case Event::Back:
            case Event::Fail:
                line.openResult = event == Event::Back;
                mender.RunAttempt();
                line.openResult = true;
                return;
            case Event::ComSet:
                return ComSet(0);
            case Event::ComSet2:
                return ComSet(1);
            case Event::Remote:
                controller.Down(QStringLiteral("r1"), ControlId::ZoomIn, kCameraB, 1000);
                return;
            case Event::Remote2:
                controller.Down(QStringLiteral("r2"), ControlId::ZoomOut, kCameraA, 1000);
                return;
            case Event::RemoteUp:
                controller.Up(QStringLiteral("r1"), ControlId::ZoomIn);
                return;
            case Event::Lapse:
                clock.Sleep(1001);
                cameras.Settle();
                return controller.CheckLeases();
            case Event::Gone:
                return controller.ClientGone(QStringLiteral("r1"));
        }
    }
    // Whether the line would carry a stop sender's bytes now.
    bool LineTakes() const { return guard.holdsLine && !line.stalled && !line.held && !line.lost; }
    // What a stop sender (the crash handler, the guardian) sends from the record, as the line
    // carries it; false when it sends a stop that was not owed.
    bool SenderSends(MovementRecord copy) {
        clock.probe = line.probe = nullptr;
        copy.taken = 1;
        MovementLog::TakeOver(copy);
        const MovementLog::Owed owed = MovementLog::OwedBytes(copy);
        if (owed.count > owed.stopAt && !MovementLog::OwesStop(copy))
            return false;
        clock.nowNs = std::max(clock.nowNs, copy.lastByteNs + owed.firstGapNs);
        for (int i = 0; i < owed.count; ++i) {
            if (i == owed.stopAt) {
                MovementLog::BeginStop(copy);
                if (i > 0)
                    clock.Sleep(LineTiming::kFramePauseMs);
            }
            MovementLog::BeginByte(copy);
            cameras.Byte(owed.bytes[i], copy);
            MovementLog::ByteSent(copy, clock.nowNs);
            clock.Sleep(LineTiming::kBytePauseMs);
        }
        clock.Sleep(LineTiming::kCutFramePauseMs);
        cameras.Settle();
        return true;
    }

    ClockPause clock;
    Cameras cameras{clock};
    HoldingGuard guard;
    ScriptedLine line{cameras, guard.record};
    MemoryProfile profile;
    ManualMender mender;
    KeypadController controller{KeypadServices{line, clock, profile, nullptr, &guard, &mender}};
};

using Sequence = QVector<Event>;

QString Describe(const Sequence& sequence) {
    QStringList names;
    for (Event event : sequence) names << QString::fromLatin1(kEventNames[int(event)]);
    return names.join(QLatin1Char(' '));
}

// Everything that decides what the world does next; the clock and counts aside.
QByteArray Key(const World& world) {
    const MovementRecord& r = world.guard.record;
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << int(world.controller.Settings().protocol) << world.controller.Settings().cameraId
        << world.controller.LinkPort() << int(world.controller.LineState());
    const KeyHolds::Hold& hold = world.controller.CurrentHold();
    out << int(hold.holder) << hold.client << hold.controlId << hold.camera;
    out << r.state << QByteArray(reinterpret_cast<const char*>(r.stop), r.stopLength)
        << QByteArray(reinterpret_cast<const char*>(r.flight), r.flightLength) << r.flightSent
        << r.cut;
    out << world.line.isOpen << world.line.lost << world.line.stalled << world.line.held
        << world.line.cutIn << world.guard.holdsLine;
    out << world.mender.Scheduled() << world.mender.UnderWay() << world.mender.lookIntervalMs;
    QStringList touched(world.cameras.touched.begin(), world.cameras.touched.end());
    touched.sort();
    out << touched.join(QLatin1Char(','));
    return key;
}

}  // namespace

class TestLineModel : public QObject {
    Q_OBJECT
private slots:
    void everyOrderOfEvents();
};

// The record owes the stop of every camera a movement reached; a stop let go when another
// port was opened is said in words, and that camera is no longer this line's.
static QString BrokenPromise(const World& world) {
    if (!world.killedUnowed.isEmpty())
        return QStringLiteral("a kill mid-event would have left %1 moving")
            .arg(world.killedUnowed.join(QLatin1Char(',')));
    const MovementRecord& record = world.guard.record;
    for (const QByteArray& camera : world.cameras.touched) {
        const bool owed = MovementLog::OwesStop(record) &&
                          Cameras::Target(QByteArray(reinterpret_cast<const char*>(record.stop),
                                                     record.stopLength)) == camera;
        if (!owed)
            return QStringLiteral("%1 was reached by a movement and its stop is not owed")
                .arg(QString::fromLatin1(camera));
    }
    return QString();
}

// A stop owed goes out as soon as the line takes bytes again: once it is back, opened again
// or COMMUNICATION SET on its port, at once; after a refusal or a RESUME, at the first look
// after the pauses it owes (a frame cut short, a frame that failed).
static QString LateStop(const World& world, Event event, bool wasLost, int refusals) {
    if (!world.LineTakes() || !world.controller.PortOpen() ||
        !MovementLog::OwesStop(world.guard.record))
        return QString();
    const MovementRecord& record = world.guard.record;
    const bool opened = ((event == Event::Back && wasLost) || event == Event::ComSet) &&
                        world.line.refusals == refusals;
    const bool looked = event == Event::Look && MovementLog::State(record) == MoveState::StopOwed &&
                        world.clock.nowNs >= record.lastByteNs + LineTiming::kCutFramePauseNs +
                                                 LineTiming::kFramePauseNs;
    return opened || looked ? QStringLiteral("the line takes bytes and the stop is still owed")
                            : QString();
}

// What each ending leaves: empty when every camera a movement reached decoded its stop (or
// the record still owes it where the line takes nothing), else what went wrong.
static QString EndingFault(const Sequence& sequence, bool endOfRun) {
    World world;
    for (Event event : sequence) world.Apply(event);
    const QMap<QByteArray, int> before = world.cameras.stops;
    if (endOfRun) {
        world.Tell(world.controller.StopMovement());
        const KeypadController::RunEnd end = world.controller.ReleasePort();
        if (end.stopOwed && end.camera.isEmpty())
            return QStringLiteral("the end of the run owes a stop it does not name");
        if (!end.handedOver)
            return world.cameras.touched.isEmpty() || end.stopOwed
                       ? QString()
                       : QStringLiteral("the end of the run let a moving camera go unsaid");
        world.guard.holdsLine = true;  // the guardian keeps the line the program left it
        world.line.isOpen = true;
    }
    if (!world.LineTakes())
        return BrokenPromise(world);
    if (!world.SenderSends(world.guard.record))
        return QStringLiteral("a stop sender sent a stop that was not owed");
    if (!world.cameras.touched.isEmpty())
        return QStringLiteral("after the stop sender, %1 never decoded its stop")
            .arg(QString::fromLatin1(world.cameras.touched.values().join(",")));
    for (auto it = world.cameras.stops.begin(); it != world.cameras.stops.end(); ++it)
        if (it.value() > before.value(it.key()) + 1)
            return QStringLiteral("%1 decoded two stops from one ending")
                .arg(QString::fromLatin1(it.key()));
    return QString();
}

void TestLineModel::everyOrderOfEvents() {
    const int maxDepth = qEnvironmentVariableIsSet("VELMOR_MODEL_DEPTH")
                             ? qEnvironmentVariableIntValue("VELMOR_MODEL_DEPTH")
                             : 64;
    QSet<QByteArray> seen;
    QVector<Sequence> frontier{Sequence()};
    {
        World start;
        seen.insert(Key(start));
    }
    qint64 walked = 0;
    int depth = 0;
    while (!frontier.isEmpty() && depth < maxDepth) {
        QVector<Sequence> next;
        for (const Sequence& prefix : frontier) {
            for (int e = 0; e < kEvents; ++e) {
                Sequence sequence = prefix;
                sequence << Event(e);
                World world;
                for (Event event : sequence) {
                    const bool wasLost = world.controller.PortHealing();
                    const int refusals = world.line.refusals;
                    world.Apply(event);
                    const QString broken =
                        BrokenPromise(world) + LateStop(world, event, wasLost, refusals);
                    QVERIFY2(broken.isEmpty(),
                             qPrintable(Describe(sequence) + QStringLiteral(": ") + broken));
                }
                ++walked;
                if (seen.contains(Key(world)))
                    continue;
                seen.insert(Key(world));
                next << sequence;
                for (bool endOfRun : {false, true}) {
                    const QString fault = EndingFault(sequence, endOfRun);
                    QVERIFY2(fault.isEmpty(),
                             qPrintable(Describe(sequence) +
                                        (endOfRun ? QStringLiteral(", end of run: ")
                                                  : QStringLiteral(", stop sender: ")) +
                                        fault));
                }
            }
        }
        frontier = next;
        ++depth;
    }
    qInfo("%d states, every one reached within %d events; %lld sequences walked", int(seen.size()),
          depth, walked);
    QVERIFY(frontier.isEmpty() || maxDepth < 64);
}

QTEST_GUILESS_MAIN(TestLineModel)
#include "tst_line_model.moc"
