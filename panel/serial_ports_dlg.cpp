#include "serial_ports_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "serial/ports/port_name.h"
#include "serial/ports/problem_words.h"

namespace {
constexpr int kPortCount = 4;
constexpr int kMaxTableWidth = 960;
constexpr int kMaxTableHeight = 240;
}  // namespace

CSerialPortsDlg::CSerialPortsDlg(const QStringList& entries, const QList<SerialPortFacts>& ports,
                                 QWidget* parent, HolderOf holderOf)
    : QDialog(parent), stored(entries), ports(ports), holderOf(std::move(holderOf)) {
    setWindowTitle(QStringLiteral("Serial ports"));
    auto* layout = new QVBoxLayout(this);
    AddDeviceTable(layout);
    AddEntries(layout);
    refusal = new QLabel(this);
    refusal->setWordWrap(true);
    refusal->setAccessibleName(QStringLiteral("Problem"));
    refusal->hide();
    layout->addWidget(refusal);
    layout->addWidget(new QLabel(
        QStringLiteral("The %1s take effect at the next COMMUNICATION SET.").arg(Word()), this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSerialPortsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSerialPortsDlg::reject);
    layout->addWidget(buttons);
}

void CSerialPortsDlg::AddDeviceTable(QVBoxLayout* layout) {
    auto* caption =
        new QLabel((ports.isEmpty() ? QStringLiteral("No serial %1s found on this machine.")
                                    : QStringLiteral("Serial %1s found on this machine:"))
                       .arg(Word()),
                   this);
    layout->addWidget(caption);
    if (ports.isEmpty())
        return;
    QString first = Word();
    first[0] = first[0].toUpper();
    const QStringList headers = {first,
                                 QStringLiteral("Description"),
                                 QStringLiteral("Maker"),
                                 QStringLiteral("Serial number"),
                                 QStringLiteral("Stable name"),
                                 QStringLiteral("Driver name")};
    auto* table = new QTableWidget(ports.size(), headers.size(), this);
    table->setHorizontalHeaderLabels(headers);
    table->setAccessibleName(caption->text());
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the rows below rather than walking its cells.
    table->setTabKeyNavigation(false);
    table->verticalHeader()->hide();
    for (int row = 0; row < ports.size(); ++row) {
        const SerialPortFacts& facts = ports[row];
        const QStringList cells = {facts.device,       facts.description, facts.manufacturer,
                                   facts.serialNumber, facts.byId,        facts.driverName};
        for (int column = 0; column < cells.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    // A column the system fills for no port (stable names on Windows, driver names
    // elsewhere) is left out.
    for (int column = 1; column < headers.size(); ++column) {
        bool empty = true;
        for (int row = 0; row < ports.size() && empty; ++row)
            empty = table->item(row, column)->text().isEmpty();
        table->setColumnHidden(column, empty);
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for the long stable names, tall enough for the rows, within reason.
    int width = 2 * table->frameWidth();
    for (int column = 0; column < headers.size(); ++column)
        if (!table->isColumnHidden(column))
            width += table->columnWidth(column);
    int height = 2 * table->frameWidth() + table->horizontalHeader()->sizeHint().height();
    for (int row = 0; row < ports.size(); ++row) height += table->rowHeight(row);
    table->setMinimumSize(std::min(width, kMaxTableWidth), std::min(height, kMaxTableHeight));
    caption->setBuddy(table);
    layout->addWidget(table);
}

void CSerialPortsDlg::AddEntries(QVBoxLayout* layout) {
    auto* form = new QFormLayout;
    for (int port = 1; port <= kPortCount; ++port) {
        auto* entry = new QComboBox(this);
        entry->setEditable(true);
        entry->setInsertPolicy(QComboBox::NoInsert);
        entry->setMinimumContentsLength(40);
        const QString builtIn = BuiltInPortName(port);
        entry->addItem(builtIn);
        const SerialPortFacts* own = FindPort(ports, builtIn);
        entry->setItemData(0,
                           own && !own->description.isEmpty() ? own->description
                                                              : QStringLiteral("The built-in port"),
                           Qt::ToolTipRole);
        for (const SerialPortFacts& facts : ports) {
            if (facts.PreferredName() == builtIn)
                continue;
            entry->addItem(facts.PreferredName());
            entry->setItemData(entry->count() - 1,
                               facts.description.isEmpty() ? facts.device : facts.description,
                               Qt::ToolTipRole);
        }
        const QString current = stored.value(port - 1).trimmed();
        entry->setEditText(current.isEmpty() ? builtIn : current);
        const QString label = QStringLiteral("COM%1").arg(port);
        entry->setAccessibleName(label);
        auto* note = new QLabel(this);
        note->setObjectName(QStringLiteral("note %1").arg(label));
        auto* row = new QVBoxLayout;
        row->setSpacing(0);
        row->addWidget(entry);
        row->addWidget(note);
        // The label names the entry for a screen reader, as the form's own would.
        auto* caption = new QLabel(label, this);
        caption->setBuddy(entry);
        form->addRow(caption, row);
        entries << entry;
        notes << note;
        UpdateNote(port);
        connect(entry, &QComboBox::editTextChanged, this, [this, port] { UpdateNote(port); });
    }
    layout->addLayout(form);
}

QString CSerialPortsDlg::Word() {
    return SystemPortWords().device;
}

QString CSerialPortsDlg::Note(int port) const {
    return notes.value(port - 1) ? notes[port - 1]->text() : QString();
}

void CSerialPortsDlg::UpdateNote(int port) {
    const QString text = Entry(port)->currentText().trimmed();
    const PortTarget target = CheckPortEntry(text.isEmpty() ? BuiltInPortName(port) : text);
    // Asked once per port while the dialog is open: on Windows the answer costs a trial open.
    if (holderOf && target.problem.isNone() && !holders.contains(target.device))
        holders.insert(target.device, holderOf(target.device));
    const QString holder = holders.value(target.device);
    notes[port - 1]->setText(PortNote(target, ports, holder));
}

QString CSerialPortsDlg::Refusal() const {
    return refusal->isHidden() ? QString() : refusal->text();
}

void CSerialPortsDlg::accept() {
    QStringList entries;
    for (int port = 1; port <= kPortCount; ++port) {
        const QString text = Entry(port)->currentText().trimmed();
        const PortTarget target = CheckPortEntry(text.isEmpty() ? BuiltInPortName(port) : text);
        if (!target.problem.isNone()) {
            PortProblem problem = target.problem;
            if (problem.fault == PortFault::UnusableEntry)
                problem.detail = QStringLiteral("\"%1\" %2").arg(text, problem.detail);
            refusal->setText(
                DescribeProblem(port, problem)
                    .replace(SystemPortWords().entryPlace, QStringLiteral("this entry")));
            refusal->show();
            Entry(port)->setFocus();
            return;
        }
        entries << AbsolutePortEntry(text.isEmpty() ? BuiltInPortName(port) : text);
    }
    chosen = entries;
    QDialog::accept();
}
