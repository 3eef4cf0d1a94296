#pragma once

#include <QHash>
#include <QList>
#include <QStringList>
#include <QVariant>

#include "control/keypad_controller.h"
#include "fakes.h"

using Stored = QHash<QString, QVariant>;

// The keypad's core driven as the dialog drives it, its seams recorded. One time line holds
// what happened, in order: "open <device> <baud>", "close", "2A" for a byte that left, "p2"
// for a pause of 2 ms, and "TransferError" or "CameraIdRange" for a notice the operator was
// shown.
struct KeypadRig {
    // The profile's values go in before the dialog starts: "PROTOCOL" -> 1 in section
    // Settings, "Ports/COM1" -> a device. Bytes go to line when given, else to device.
    // guard, when given, keeps the movement record.
    explicit KeypadRig(const Stored& stored = {}, SerialDevice* line = nullptr,
                       LineGuard* guard = nullptr);

    // Carries out keys by caption, separated by spaces: the digits, ENT, CLR and the keys
    // with a frame ("Z/I", "CAM"); PC keys ("PC-Up", "PC-Enter", "PC-Del", "PC-7" on the
    // main block, "PC-Num7" on the numeric pad); "stop", a key released; "OSKA" and
    // "PELCO", a protocol row picked; "refuse@N", the recorder refuses the N-th byte from
    // here ("refuse" is "refuse@1"); "drop@N", the line is lost at the N-th byte from here
    // ("drop" is "drop@1"); "unplug", the line is lost with no frame going
    // and the link looks at it, "look", it looks at a line still there; "heal", the attempt to open
    // the line again runs and succeeds, "nodevice", it runs and finds no device; "COMSET",
    // COMMUNICATION SET (the movement stopped first); "COM2", the second port row picked; "end",
    // the port released as at the program's end; "lines" and "port", status line 3 or 4 as "<text>"
    // into the time line; "r1:Z/I@12" and the like, a remote client's (see Remote). False at the
    // first caption it does not know.
    bool Press(const QString& keys);
    // A remote client's request, as "r1:Z/I@12" (a down on camera 12, or a press for a key
    // that does not move), "r1:up", "r1:renew", "r1:gone"; "lapse" lets more than a lease
    // pass. The reply goes into the time line as "r1:ok" or "r1:HeldByOther(r2)", and each
    // event the client is told as "r1:taken-over".
    void Remote(const QString& client, const QString& what);
    // Runs the scheduled attempt to open the dropped line again, the device back or not.
    void Heal(bool deviceBack);
    // Commits a camera address as the operator does: its digits, then ENT.
    void Select(int cameraId);
    // As the panel does with a notice: the operator is told, then the failed frame's
    // closing pause follows.
    void Tell(Notice notice);

    // What reached the device since the last call, and the time line since the last call.
    QByteArray TakeLine();
    QString TakeLog();
    int Camera() const { return controller.Settings().cameraId; }
    QString Line8() const { return controller.StatusTexts().value(8); }

    QStringList log;
    RecordingDevice device;
    RecordingPause pause;
    LoggedDevice loggedDevice;
    LoggedPause loggedPause{pause, log};
    MemoryProfile profile;
    ManualMender mender;
    LineGuard* guard;
    KeypadController controller{
        KeypadServices{loggedDevice, loggedPause, profile, nullptr, guard, &mender}};
    QList<Notice> notices;
};

// The pauses of a frame whose bytes all left: 2 ms after each byte, 25 ms after the frame.
QVector<int> FramePauses(int bytes);
