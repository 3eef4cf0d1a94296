#pragma once

#include <QString>
#include <QStringList>

// The panel's keys as a remote client names them: the caption without its slash, in any case
// ("ZI", "zo", "SET", "UP").
namespace KeyNames {

// The control ID of a name; 0 for none.
int FromName(const QString& name);
// The name of a key ("ZI"); empty for a key no client may press.
QString Name(int controlId);
// All names, in the panel's order.
QStringList All();
// "unknown key "XX"; the keys are ZI, ZO, ..."
QString UnknownWords(const QString& name);

}  // namespace KeyNames
