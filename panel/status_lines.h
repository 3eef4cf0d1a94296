#pragma once

#include <QString>

// The ten-line status list, addressed by index, each line replaced by deleting it and
// inserting the new text at the same index.
class StatusLines {
public:
    virtual ~StatusLines() = default;
    // Inserts at index when 0 <= index <= line count; otherwise nothing happens.
    virtual void InsertLine(int index, const QString& text) = 0;
    // Deletes the line at index when it exists; otherwise nothing happens.
    virtual void DeleteLine(int index) = 0;

    void ReplaceLine(int index, const QString& text) {
        DeleteLine(index);
        InsertLine(index, text);
    }
};
