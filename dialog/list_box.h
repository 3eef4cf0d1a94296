#pragma once

#include <QStringList>

class QListWidget;
class QRect;
class QWidget;

// A list of text lines drawn the way a list box draws its items: one row per line, as tall
// as the font, a line wider than the list cut at the edge rather than shortened.
QListWidget* CreateListBox(QWidget* parent, const QRect& pixels);

// The width at which list shows each of lines whole in its font: the widest line, the
// room its style leaves between an item's edge and its text on both sides, and its frame.
int ListBoxWidthFor(const QListWidget* list, const QStringList& lines);
