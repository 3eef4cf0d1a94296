#pragma once

class QListWidget;
class QRect;
class QWidget;

// A list of text lines drawn the way a list box draws its items: one row per line, as tall
// as the font, a line wider than the list cut at the edge rather than shortened.
QListWidget* CreateListBox(QWidget* parent, const QRect& pixels);
