#include "dialog_font.h"

namespace {

bool SameFace(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

QString UsableFace(const QString& wanted, const QStringList& dialogFaces,
                   const std::function<QString(const QString&)>& drawnAs) {
    const QString drawn = drawnAs(wanted);
    if (SameFace(drawn, wanted) || dialogFaces.contains(drawn, Qt::CaseInsensitive))
        return wanted;
    for (const QString& face : dialogFaces) {
        if (SameFace(drawnAs(face), face))
            return face;
    }
    return wanted;
}
