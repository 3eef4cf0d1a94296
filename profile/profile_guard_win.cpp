#include "profile_guard_read.h"

#include <QFile>
#include <QFileInfo>

namespace ProfileGuard {

Finding ReadRegular(const QString& path, QByteArray& content) {
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile())
        return Unreadable(QStringLiteral("is not a regular file"));
    if (info.size() > kSizeLimit)
        return {Verdict::Corrupt, QStringLiteral("is far larger than any profile")};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Unreadable(QStringLiteral("cannot be read"));
    content = file.read(kSizeLimit + 1);
    if (content.size() > kSizeLimit)
        return {Verdict::Corrupt, QStringLiteral("is far larger than any profile")};
    return {};
}

}  // namespace ProfileGuard
