#include "ser2net_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QThread>

namespace {

constexpr int kStartMs = 5000;

// Whether something listens on the loopback port, from the kernel's table: a probing
// connect would make ser2net open the device, and hold it a moment after.
bool Listening(uint16_t port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}

}  // namespace

uint16_t FreeLoopbackPort() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(listener);
    return ntohs(address.sin_port);
}

Ser2NetServer::Ser2NetServer(const QString& device) {
    rawPort = FreeLoopbackPort();
    telnetPort = FreeLoopbackPort();
    // The serial side starts at 9600n81 and ignores the modem lines ("local"); the
    // Telnet accepter lets the client set the port.
    const QString config =
        QStringLiteral(
            "%YAML 1.1\n---\n"
            "connection: &raw\n  accepter: tcp,127.0.0.1,%1\n"
            "  connector: serialdev,%3,9600n81,local\n  options:\n    mdns: false\n"
            "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
            "  connector: serialdev,%3,9600n81,local\n  options:\n    mdns: false\n")
            .arg(rawPort)
            .arg(telnetPort)
            .arg(device);
    QFile file(dir.filePath(QStringLiteral("ser2net.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) != config.size()) {
        error = QStringLiteral("cannot write the configuration");
        return;
    }
    file.close();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(
        QStringLiteral("ser2net"),
        {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), file.fileName(),
         QStringLiteral("-P"), dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!process.waitForStarted(kStartMs)) {
        error = QStringLiteral("ser2net did not start: %1").arg(process.errorString());
        return;
    }
    QElapsedTimer clock;
    clock.start();
    while (!(Listening(rawPort) && Listening(telnetPort))) {
        if (clock.elapsed() > kStartMs || process.state() != QProcess::Running) {
            error = QStringLiteral("ser2net is not listening: %1")
                        .arg(QString::fromLocal8Bit(process.readAll()));
            return;
        }
        QThread::msleep(10);
    }
}

Ser2NetServer::~Ser2NetServer() {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(kStartMs))
        process.kill();
    process.waitForFinished(kStartMs);
}

QString Ser2NetServer::Entry(bool telnet) const {
    return telnet ? QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPort)
                  : QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort);
}
