#pragma once

#include <QByteArray>
#include <QString>

// The text after "key=" in [section] of an INI file, trimmed and otherwise as written: no
// list splitting, no unquoting. The last such line counts. A null QString when the key is
// absent or the content cannot be had.
QString IniLineText(const QByteArray& content, const QString& section, const QString& key);
// The same for a file, read only when it is a regular file of modest size.
QString IniFileLineText(const QString& filePath, const QString& section, const QString& key);
