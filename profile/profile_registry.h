#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// The Windows profile read straight from HKEY_CURRENT_USER\<keyPath>\<section>, value by
// value, as the program writes it: a REG_DWORD or REG_QWORD is a number, a REG_SZ is text.
// QSettings would turn text of the form "@Variant(...)", in a REG_SZ or as UTF-16 in a
// REG_BINARY, into whatever it describes, to any depth (a deep enough list overflows the
// stack). Here such a value, one of another registry type, or text too long to be the
// program's own, is refused with a reason, and the caller uses its default.
namespace ProfileRegistry {

struct Read {
    QVariant value;   // invalid when absent or refused
    QString problem;  // why it was refused; empty otherwise
};

Read ReadValue(const QString& keyPath, const QString& section, const QString& name);
QStringList ValueNames(const QString& keyPath, const QString& section);

}  // namespace ProfileRegistry
