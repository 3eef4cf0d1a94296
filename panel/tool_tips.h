#pragma once

#include <QList>
#include <QString>
#include <functional>

#include "serial/port_catalog.h"

class ProfileStore;
class QComboBox;

// A tooltip as rich text: a sentence (a reason) wraps instead of running across the
// screen, while lines that name devices are kept whole, so that no path breaks.
QString WrappedToolTip(const QString& text);

// Gives each COM row of the box the device it stands for and what the system knows of it.
void ShowPortToolTips(QComboBox* box, const ProfileStore& profile,
                      const QList<SerialPortFacts>& present);

// Runs refresh whenever the box's list opens, so that a device plugged in while the
// program runs shows at once.
void RefreshOnListOpen(QComboBox* box, std::function<void()> refresh);
