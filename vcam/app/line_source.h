#pragma once

#include <QObject>
#include <QString>

#include "telnet_filter.h"

class QSocketNotifier;

// The line the analyser reads: a pseudo-terminal it creates for the keypad to write to,
// an existing serial device opened read-only, or one TCP connection it accepts, as a
// serial server would (raw, or Telnet with the COM-PORT-OPTION). Either way it only reads.
class LineSource : public QObject {
    Q_OBJECT
public:
    explicit LineSource(QObject* parent = nullptr);
    ~LineSource() override;

    // Creates a pseudo-terminal; devicePath() is then the name to give the keypad.
    bool OpenPseudoTerminal();
    // Opens a serial device read-only, raw, 8 data bits, no parity, at the given rate.
    bool OpenDevice(const QString& path, int baud);
    // Listens on "HOST:PORT" ("[v6]:PORT"; port 0 picks a free one) and takes the first
    // connection that comes; devicePath() is then where it listens.
    bool ListenTcp(const QString& hostPort);
    // Makes a symbolic link at path to the device; an existing link there is replaced,
    // anything else is left alone and refused.
    bool MakeLink(const QString& path);
    void RemoveLink();

    QString devicePath() const { return device; }
    QString errorText() const { return error; }

signals:
    void BytesRead(const QByteArray& bytes);
    void LineClosed();

private:
    void OnReadable();
    void OnConnection();
    void Watch();

    int readFd = -1;
    int heldSlaveFd = -1;  // keeps a pseudo-terminal alive while no keypad has it open
    int listenFd = -1;
    bool overTcp = false;
    TelnetFilter telnet;
    QSocketNotifier* notifier = nullptr;
    QString device;
    QString link;
    QString error;
};

// Rates that --baud accepts; 0 for anything else.
int BaudConstant(int baud);
