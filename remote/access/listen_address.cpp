#include "listen_address.h"

#include <QStringList>

bool ListenAddress::Loopback() const {
    return host.startsWith(QLatin1String("127."));
}

QString ListenAddress::Text() const {
    return host + QLatin1Char(':') + QString::number(port);
}

ListenAddress ParseListenAddress(const QString& text) {
    ListenAddress address;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        address.error = QStringLiteral("\"%1\" is not host:port").arg(text.left(64));
        return address;
    }
    QString host = text.left(colon).trimmed();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    bool portOk = false;
    const uint port = text.mid(colon + 1).trimmed().toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535) {
        address.error = QStringLiteral("the port of \"%1\" is not 1 to 65535").arg(text.left(64));
        return address;
    }
    const QStringList parts = host.split(QLatin1Char('.'));
    bool dotted = parts.size() == 4;
    for (const QString& part : parts) {
        bool partOk = false;
        const uint value = part.toUInt(&partOk);
        dotted = dotted && partOk && value <= 255 && part.size() <= 3;
    }
    if (!dotted) {
        address.error =
            QStringLiteral("\"%1\" is not an IPv4 address such as 127.0.0.1").arg(host.left(64));
        return address;
    }
    address.ok = true;
    address.host = host;
    address.port = uint16_t(port);
    return address;
}
