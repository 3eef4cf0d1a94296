#include "resource_image.h"

#include <QImageReader>
#include <QPixmap>

QImage ReadResourcePng(const QString& path) {
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon LoadAppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(
            QPixmap::fromImage(ReadResourcePng(QStringLiteral(":/res/icon-%1.png").arg(size))));
    return icon;
}
