#include "dialog_font.h"

#include <QApplication>
#include <QFontInfo>

namespace {

// The faces a Windows dialog is drawn in, Tahoma and Microsoft Sans Serif on every Windows
// since 2000; then those a Wine prefix without Windows fonts finds on its host.
const QStringList& DialogFaces() {
    static const QStringList faces = {
        QStringLiteral("Tahoma"),          QStringLiteral("Microsoft Sans Serif"),
        QStringLiteral("Segoe UI"),        QStringLiteral("Arial"),
        QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")};
    return faces;
}

}  // namespace

QFont WithUsableFace(const QFont& font) {
    const QString face = UsableFace(font.family(), DialogFaces(), [&font](const QString& family) {
        QFont probe(font);
        probe.setFamily(family);
        return QFontInfo(probe).family();
    });
    if (face == font.family())
        return font;
    QFont usable(font);
    usable.setFamily(face);
    return usable;
}

void UseUsableApplicationFace() {
    const QFont usable = WithUsableFace(QApplication::font());
    if (usable.family() != QApplication::font().family())
        QApplication::setFont(usable);
}
