#include "keypad_rig.h"

#include "protocol/command_set.h"
#include "protocol/control_ids.h"

namespace {

const QHash<QString, int>& KeysByCaption() {
    using namespace ControlId;
    static const QHash<QString, int> keys = {
        {"1", Key1},       {"2", Key2},        {"3", Key3},  {"4", Key4},     {"5", Key5},
        {"6", Key6},       {"7", Key7},        {"8", Key8},  {"9", Key9},     {"0", Key0},
        {"ENT", Ent},      {"CLR", Clr},       {"CAM", Cam}, {"Z/I", ZoomIn}, {"Z/O", ZoomOut},
        {"F/F", FocusFar}, {"F/N", FocusNear}, {"SET", Set}, {"INIT", Init},  {"M/U", MenuUp},
        {"POWER", Power},  {"RESET", Reset},   {"UP", Up},   {"DOWN", Down},  {"LEFT", Left},
        {"RIGHT", Right},
    };
    return keys;
}

const QHash<QString, int>& PcKeysByCaption() {
    static const QHash<QString, int> keys = [] {
        QHash<QString, int> k = {
            {"PC-Up", VirtualKey::Up},       {"PC-Down", VirtualKey::Down},
            {"PC-Left", VirtualKey::Left},   {"PC-Right", VirtualKey::Right},
            {"PC-Enter", VirtualKey::Enter}, {"PC-Del", VirtualKey::Delete},
        };
        for (int digit = 0; digit <= 9; ++digit) {
            k.insert(QStringLiteral("PC-%1").arg(digit), VirtualKey::Digit0 + digit);
            k.insert(QStringLiteral("PC-Num%1").arg(digit), VirtualKey::Numpad0 + digit);
        }
        return k;
    }();
    return keys;
}

QString OutcomeName(RemoteKeys::Outcome outcome) {
    static const char* const names[] = {"ok",          "TransferError", "CameraRange",
                                        "UnknownKey",  "KeyDisabled",   "NotMovement",
                                        "HeldByOther", "NotHolder",     "LineDown"};
    return QString::fromLatin1(names[int(outcome)]);
}

QString NoticeName(Notice notice) {
    return notice == Notice::TransferError ? QStringLiteral("TransferError")
                                           : QStringLiteral("CameraIdRange");
}

}  // namespace

KeypadRig::KeypadRig(const Stored& stored, SerialDevice* line, LineGuard* guard)
    : loggedDevice(line ? *line : device, log), guard(guard) {
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        const QString key =
            it.key().contains(QLatin1Char('/')) ? it.key() : QStringLiteral("Settings/") + it.key();
        profile.values.insert(key, it.value());
    }
    controller.OnInitDialog();
    controller.FinishInitDialog();
    controller.SetEventSink([this](const RemoteKeys::Event& event) {
        static const char* const kinds[] = {"stopped", "lease-ended", "taken-over", "line"};
        if (event.kind != RemoteKeys::EventKind::LineState)
            log << QStringLiteral("%1:%2").arg(event.client, kinds[int(event.kind)]);
    });
    log.clear();
    profile.written.clear();
}

void KeypadRig::Tell(Notice notice) {
    if (notice == Notice::None)
        return;
    notices << notice;
    log << NoticeName(notice);
    controller.SettleFailedFrame();
}

bool KeypadRig::Press(const QString& keys) {
    for (const QString& key : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (KeysByCaption().contains(key))
            Tell(controller.PressKey(KeysByCaption().value(key)));
        else if (PcKeysByCaption().contains(key))
            Tell(controller.PressPcKey(PcKeysByCaption().value(key)));
        else if (key == QLatin1String("stop"))
            Tell(controller.SendStop());
        else if (key == QLatin1String("OSKA") || key == QLatin1String("PELCO"))
            Tell(controller.OnSelChangeProtocol(key == QLatin1String("PELCO") ? 1 : 0));
        else if (key == QLatin1String("refuse"))
            device.refuseNth = device.attempts + 1;
        else if (key.startsWith(QLatin1String("refuse@")))
            device.refuseNth = device.attempts + key.mid(7).toInt();
        else if (key == QLatin1String("drop") || key.startsWith(QLatin1String("drop@")))
            device.dropNth = device.attempts + (key.size() > 5 ? key.mid(5).toInt() : 1);
        else if (key == QLatin1String("unplug") || key == QLatin1String("look")) {
            // The device goes away (or not) with no frame going; the link's next look.
            if (key == QLatin1String("unplug"))
                device.lost = true, device.isOpen = false;
            pause.virtualNs += int64_t(mender.lookIntervalMs) * 1000000;
            mender.Look();
        } else if (key == QLatin1String("heal") || key == QLatin1String("nodevice"))
            Heal(key == QLatin1String("heal"));
        else if (key == QLatin1String("COM2"))
            controller.OnSelChangeComPort(1);
        else if (key == QLatin1String("end"))
            controller.ReleasePort();
        else if (key == QLatin1String("lines") || key == QLatin1String("port"))
            log << QLatin1Char('<') +
                       controller.StatusTexts()
                           .value(key == QLatin1String("port") ? 4 : 3)
                           .trimmed() +
                       QLatin1Char('>');
        else if (key.contains(QLatin1Char(':')))
            Remote(key.section(QLatin1Char(':'), 0, 0), key.section(QLatin1Char(':'), 1));
        else if (key == QLatin1String("lapse")) {
            pause.virtualNs += int64_t(1001) * 1000000;
            controller.CheckLeases();
        } else if (key == QLatin1String("COMSET")) {
            Tell(controller.StopMovement());
            controller.ApplyCommunicationSettings();
            Tell(controller.OwedStopNotice());
        } else
            return false;
    }
    return true;
}

void KeypadRig::Remote(const QString& client, const QString& what) {
    RemoteKeys::Reply reply;
    const int key = KeysByCaption().value(what.section(QLatin1Char('@'), 0, 0));
    const int camera = what.section(QLatin1Char('@'), 1).toInt();
    if (what == QLatin1String("up"))
        reply = controller.Up(client, 0);
    else if (what == QLatin1String("gone"))
        return controller.ClientGone(client);
    else if (what == QLatin1String("renew"))
        reply = controller.Renew(client, 1000);
    else if (CommandSet::IsStopKey(key))
        reply = controller.Down(client, key, camera, 1000);
    else
        reply = controller.Press(client, key, camera, camera);
    log << QStringLiteral("%1:%2").arg(client, OutcomeName(reply.outcome)) +
               (reply.holder.isEmpty() ? QString() : QLatin1Char('(') + reply.holder + ')');
}

void KeypadRig::Heal(bool deviceBack) {
    if (!mender.Scheduled()) {
        log << QStringLiteral("no-attempt");
        return;
    }
    log << QStringLiteral("attempt");
    // The attempt comes after its pause.
    pause.virtualNs += int64_t(mender.delays.last()) * 1000000;
    device.openResult = deviceBack;
    mender.RunAttempt();
    device.openResult = true;
}

void KeypadRig::Select(int cameraId) {
    QStringList keys;
    for (QChar digit : QString::number(cameraId)) keys << digit;
    Press(keys.join(QLatin1Char(' ')) + QStringLiteral(" ENT"));
}

QByteArray KeypadRig::TakeLine() {
    const QByteArray bytes = device.Bytes();
    device.ClearRecord();
    return bytes;
}

QString KeypadRig::TakeLog() {
    const QString text = log.join(QLatin1Char(' '));
    log.clear();
    return text;
}

QVector<int> FramePauses(int bytes) {
    QVector<int> pauses(bytes, 2);
    pauses << 25;
    return pauses;
}
