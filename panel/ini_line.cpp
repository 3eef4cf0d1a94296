#include "ini_line.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {
// Far above any profile this program writes; a larger file is not read line by line.
constexpr qint64 kMaxIniBytes = 1 << 20;
}  // namespace

QString IniLineText(const QByteArray& content, const QString& section, const QString& key) {
    const QByteArray header = '[' + section.toUtf8() + ']';
    const QByteArray name = key.toUtf8();
    bool inSection = false;
    QString found;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inSection = line == header;
            continue;
        }
        if (!inSection || line.startsWith(';') || line.startsWith('#'))
            continue;
        const int equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == name)
            found = QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return found;
}

QString IniFileLineText(const QString& filePath, const QString& section, const QString& key) {
    const QFileInfo info(filePath);
    if (!info.isFile() || info.size() > kMaxIniBytes)
        return QString();
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return IniLineText(file.read(kMaxIniBytes), section, key);
}
