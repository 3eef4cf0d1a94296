#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QComboBox;

// A tooltip as rich text: a sentence (a reason) wraps instead of running across the
// screen, while lines that name devices are kept whole, so that no path breaks.
QString WrappedToolTip(const QString& text);

// Gives the box's rows their tooltips, one text a row, in order.
void ShowPortToolTips(QComboBox* box, const QStringList& tips);

// Runs refresh whenever the box's list opens, so that a device plugged in while the
// program runs shows at once.
void RefreshOnListOpen(QComboBox* box, std::function<void()> refresh);
