#include "camera_command.h"

#include <QStringList>

namespace {

QString Hex(int value) {
    return QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0')) +
           QLatin1Char('h');
}

// The published extended commands (command 2, always odd). The argument column says which
// data byte carries the number: 2 for data 2, 0 for none, 3 for both as a pair.
struct ExtendedCommand {
    quint8 code;
    const char* words;
    int argument;
};

const ExtendedCommand kExtended[] = {
    {0x03, "set preset", 2},
    {0x05, "clear preset", 2},
    {0x07, "go to preset", 2},
    {0x09, "set auxiliary", 2},
    {0x0B, "clear auxiliary", 2},
    {0x0F, "remote reset", 0},
    {0x11, "set zone start", 2},
    {0x13, "set zone end", 2},
    {0x15, "write character to screen", 3},
    {0x17, "clear screen", 0},
    {0x19, "alarm acknowledge", 2},
    {0x1B, "zone scan on", 0},
    {0x1D, "zone scan off", 0},
    {0x1F, "set pattern start", 2},
    {0x21, "set pattern stop", 2},
    {0x23, "run pattern", 2},
    {0x25, "set zoom speed", 2},
    {0x27, "set focus speed", 2},
    {0x29, "reset camera to defaults", 0},
    {0x2B, "auto focus", 2},
    {0x2D, "auto iris", 2},
    {0x2F, "AGC", 2},
    {0x31, "backlight compensation", 2},
    {0x33, "auto white balance", 2},
};

CameraCommand DecodeExtended(quint8 command1, quint8 command2, quint8 data1, quint8 data2) {
    CameraCommand command;
    const ExtendedCommand* found = nullptr;
    for (const ExtendedCommand& row : kExtended) {
        if (row.code == command2)
            found = &row;
    }
    if (found == nullptr) {
        command.known = false;
        command.words = QStringLiteral("unknown extended command %1, data %2 %3")
                            .arg(Hex(command2), Hex(data1), Hex(data2));
    } else if (found->argument == 2) {
        command.words = QStringLiteral("%1 %2").arg(QLatin1String(found->words)).arg(data2);
        if (data1 != 0)
            command.words += QStringLiteral(", data 1 %1").arg(Hex(data1));
    } else if (found->argument == 3) {
        command.words = QStringLiteral("%1, data %2 %3")
                            .arg(QLatin1String(found->words), Hex(data1), Hex(data2));
    } else {
        command.words = QLatin1String(found->words);
    }
    if (command1 != 0)
        command.words += QStringLiteral(", command 1 %1").arg(Hex(command1));
    return command;
}

}  // namespace

CameraCommand DecodePelcoCommand(quint8 command1, quint8 command2, quint8 data1, quint8 data2) {
    if (command2 & 0x01)
        return DecodeExtended(command1, command2, data1, data2);

    CameraCommand command;
    command.replacesMotion = true;
    QStringList parts;
    const bool sense = command1 & 0x80;
    // The sense bit says whether bits 4 and 3 switch scan and camera on or off.
    if (command1 & 0x10)
        parts << (sense ? QStringLiteral("auto scan") : QStringLiteral("manual scan"));
    if (command1 & 0x08) {
        parts << (sense ? QStringLiteral("camera on") : QStringLiteral("camera off"));
        command.power = sense;
    }
    if (command1 & 0x60) {
        parts << QStringLiteral("reserved bits %1").arg(Hex(command1 & 0x60));
        command.known = false;
    }
    if (sense && !(command1 & 0x18))
        parts << QStringLiteral("sense");
    if (command1 & 0x04)
        parts << QStringLiteral("iris close");
    if (command1 & 0x02)
        parts << QStringLiteral("iris open");

    const bool near = command1 & 0x01;
    const bool far = command2 & 0x80;
    const bool wide = command2 & 0x40;
    const bool tele = command2 & 0x20;
    if (far)
        parts << QStringLiteral("focus far");
    if (near)
        parts << QStringLiteral("focus near");
    if (wide)
        parts << QStringLiteral("zoom wide");
    if (tele)
        parts << QStringLiteral("zoom tele");
    command.focus = (far && !near) ? 1 : (near && !far) ? -1 : 0;
    command.zoom = (tele && !wide) ? 1 : (wide && !tele) ? -1 : 0;

    const char* moves[] = {nullptr, "pan right", "pan left", "tilt up", "tilt down"};
    for (int bit = 1; bit <= 4; ++bit) {
        if (command2 & (1 << bit))
            parts << QLatin1String(moves[bit]);
    }
    command.panOrTilt = command2 & 0x1E;
    if (command2 & 0x06)
        parts << QStringLiteral("pan speed %1").arg(data1);
    if (command2 & 0x18)
        parts << QStringLiteral("tilt speed %1").arg(data2);
    else if (!(command2 & 0x06) && (data1 != 0 || data2 != 0))
        parts << QStringLiteral("data %1 %2").arg(Hex(data1), Hex(data2));

    const bool moving = near || (command2 & 0xFE) || (command1 & 0x06);
    if (!moving && !(command1 & 0x18))
        parts.prepend(QStringLiteral("stop"));
    command.words = parts.join(QStringLiteral(", "));
    return command;
}

CameraCommand DecodeOskaCommand(const QByteArray& chars) {
    CameraCommand command;
    const QByteArray family = chars.left(2);
    const QByteArray code = chars.mid(2, 2);
    const bool tailZero = chars.mid(4, 2) == "00";
    if (family == "75" && tailZero) {
        struct Row {
            const char* code;
            const char* words;
            int zoom;
            int focus;
        };
        static const Row kRows[] = {
            {"01", "zoom tele", 1, 0},   {"03", "zoom wide", -1, 0}, {"05", "focus far", 0, 1},
            {"06", "focus near", 0, -1}, {"09", "stop", 0, 0},       {"10", "menu", 0, 0},
            {"0D", "set", 0, 0},         {"0E", "init", 0, 0},       {"0A", "power", 0, 0},
        };
        for (const Row& row : kRows) {
            if (code != row.code)
                continue;
            command.words = QLatin1String(row.words);
            if (row.zoom != 0)
                command.zoom = row.zoom;
            if (row.focus != 0)
                command.focus = row.focus;
            command.replacesMotion = code == "09";
            if (command.replacesMotion)
                command.zoom = command.focus = 0;
            command.powerToggle = code == "0A";
            return command;
        }
    } else if (family == "74" && tailZero) {
        command.selectCamera = code.toInt(nullptr, 16);
        command.words = QStringLiteral("select camera %1").arg(command.selectCamera);
        return command;
    } else if (chars == "710000") {
        command.words = QStringLiteral("reset");
        return command;
    }
    command.known = false;
    command.words = QStringLiteral("unknown command %1").arg(QLatin1String(chars));
    return command;
}
