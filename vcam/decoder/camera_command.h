#pragma once

#include <QString>
#include <optional>

// What a good frame asks of the camera it addresses, in terms both protocols share.
// Motion values: +1 zoom tele / focus far, -1 zoom wide / focus near, 0 stopped.
struct CameraCommand {
    QString words;  // the meaning as the log shows it
    // A PELCO D standard command states the whole motion at once; an OSKA-DEFAULT
    // command names one motion, and its stop ends them all.
    bool replacesMotion = false;
    std::optional<int> zoom;
    std::optional<int> focus;
    bool panOrTilt = false;
    std::optional<bool> power;  // camera on (true) or off (false)
    bool powerToggle = false;   // OSKA-DEFAULT POWER: one command that flips it
    int selectCamera = -1;      // OSKA-DEFAULT camera select: the camera chosen
    bool known = true;          // false for codes the protocol does not define
};

// PELCO D: command 1, command 2, data 1, data 2 by the published meaning of each bit;
// command 2 odd is an extended command with the data bytes as its argument.
CameraCommand DecodePelcoCommand(quint8 command1, quint8 command2, quint8 data1, quint8 data2);

// OSKA-DEFAULT: the six command characters of an 11-character frame (bytes 3 to 8).
CameraCommand DecodeOskaCommand(const QByteArray& commandChars);
