#pragma once

#include <QDialog>
#include <QList>

#include "serial/port_catalog.h"

class ProfileStore;
class QComboBox;
class QLabel;

// Lists the serial devices found and lets the operator assign one, or a typed path, to
// each of COM1 to COM4; OK writes the profile's "Ports" section. The link takes the new
// devices at the next COMMUNICATION SET.
class CSerialPortsDlg : public QDialog {
    Q_OBJECT
public:
    CSerialPortsDlg(ProfileStore& profile, const QList<SerialPortFacts>& ports,
                    QWidget* parent = nullptr);

    // The entry field of COM<port>, 1 to 4.
    QComboBox* Entry(int port) const { return entries.value(port - 1); }
    // Why the last OK was refused; empty when none was.
    QString Refusal() const;

    void accept() override;

private:
    void AddDeviceTable(class QVBoxLayout* layout);
    void AddEntries(class QVBoxLayout* layout);

    ProfileStore& profile;
    QList<SerialPortFacts> ports;
    QList<QComboBox*> entries;
    QLabel* refusal = nullptr;
};
