#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// A PNG compiled into the program (":/res/..."), read by the PNG reader built into QtGui.
// Left to find the format itself, QImageReader loads every image-format plugin installed
// (SVG, GIF, JPEG, ICO...) to ask each whether it can read the file, which the program's
// start pays for. A null image when the file is missing or no PNG.
QImage ReadResourcePng(const QString& path);

// The window icon, 16 to 128 pixels: the largest a window manager or task bar draws at 200 %.
// The 256 px picture is for the installed icon theme only; decoding it costs the start a
// millisecond.
QIcon LoadAppIcon();
