#pragma once

#include <QString>
#include <QStringList>

// The ten-line status list as text, addressed by index, with the list box's rules: a
// line is replaced by deleting it and inserting the new text at the same index.
class StatusList {
public:
    // Inserts at index when 0 <= index <= line count; otherwise nothing happens.
    void InsertLine(int index, const QString& text) {
        if (index >= 0 && index <= lines.size())
            lines.insert(index, text);
    }
    // Deletes the line at index when it exists; otherwise nothing happens.
    void DeleteLine(int index) {
        if (index >= 0 && index < lines.size())
            lines.removeAt(index);
    }
    void ReplaceLine(int index, const QString& text) {
        DeleteLine(index);
        InsertLine(index, text);
    }
    const QStringList& Lines() const { return lines; }

private:
    QStringList lines;
};
