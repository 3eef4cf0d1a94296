#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <functional>

// The face to draw a font asked for as `wanted` in: wanted itself when the platform draws it
// as itself or as one of the faces of a dialog; otherwise the first of those faces that the
// platform draws as itself; wanted when none is. drawnAs names the face the platform draws
// for a family. Faces compare without regard to case.
QString UsableFace(const QString& wanted, const QStringList& dialogFaces,
                   const std::function<QString(const QString&)>& drawnAs);

// The font as given, or with the face UsableFace picks where the platform's own fallback for
// a missing face can be any face it has: on Windows the first in its list, which can be a
// symbol or mathematics face whose line box is taller than a text field.
QFont WithUsableFace(const QFont& font);

// The same for the application's font, which windows without a template (the Serial ports
// dialog, message boxes) draw in. Call once the application object exists.
void UseUsableApplicationFace();
