#pragma once

#include <QDialog>
#include <QHash>
#include <QList>
#include <functional>

#include "serial/ports/port_catalog.h"

class QComboBox;
class QLabel;

// Lists the serial ports found and lets the operator assign one, or a typed name, to each
// of COM1 to COM4, saying beside each row what it names, whether that is missing, and who
// holds it. OK is taken only when every entry can be used; ChosenEntries then has them in
// the form they are kept in. The link takes the new ports at the next COMMUNICATION SET.
class CSerialPortsDlg : public QDialog {
    Q_OBJECT
public:
    // Who holds a device, in words; empty when nobody does.
    using HolderOf = std::function<QString(const QString& device)>;

    // entries: the stored entries of COM1 to COM4, empty where a row has none.
    CSerialPortsDlg(const QStringList& entries, const QList<SerialPortFacts>& ports,
                    QWidget* parent = nullptr, HolderOf holderOf = nullptr);

    // The entry field of COM<port>, 1 to 4.
    QComboBox* Entry(int port) const { return entries.value(port - 1); }
    // What the row of COM<port> says of the port its entry names.
    QString Note(int port) const;
    // Why the last OK was refused; empty when none was.
    QString Refusal() const;
    // The entries of COM1 to COM4 as the last accepted OK left them.
    const QStringList& ChosenEntries() const { return chosen; }

    void accept() override;

private:
    void AddDeviceTable(class QVBoxLayout* layout);
    void AddEntries(class QVBoxLayout* layout);
    void UpdateNote(int port);
    // What a port is called here: "device", or "port" on Windows.
    static QString Word();

    QStringList stored;
    QStringList chosen;
    QList<SerialPortFacts> ports;
    HolderOf holderOf;
    QList<QComboBox*> entries;
    QList<QLabel*> notes;
    QHash<QString, QString> holders;  // device -> who holds it, as asked
    QLabel* refusal = nullptr;
};
