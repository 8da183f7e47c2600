#pragma once

#include "byterows.h"
#include "consolebuffer.h"

#include <QByteArray>
#include <QString>

// The rows the console shows, without a screen: in the text view a line each, in the byte view
// a line's bytes in rows of consoletext::bytesPerRow; and where in a row a position stands.
class ConsoleRows
{
public:
    explicit ConsoleRows(const ConsoleBuffer &buffer) : m_buffer(buffer) {}

    bool byteView() const { return m_byteView; }
    void setByteView(bool shown);
    // The width of a cell of the byte view's fixed-pitch font.
    void setCellWidth(double pixels) { m_cellWidth = pixels; }
    double cellWidth() const { return m_cellWidth; }
    // The lines from `line` on are no longer what the rows were built from.
    void changedFrom(qsizetype line) { m_byteRows.changedFrom(line); }

    qsizetype count();
    qsizetype firstRowOf(qsizetype line);
    qsizetype lineOfRow(qsizetype row);
    qsizetype rowOf(qsizetype position);
    qsizetype rowStart(qsizetype row) { return m_byteRows.rowStart(row); }
    qsizetype rowEnd(qsizetype row) { return m_byteRows.rowEnd(row); }
    // Distance from the row's left end to the caret place before `position`, and back.
    double xInRow(qsizetype row, qsizetype position);
    qsizetype positionInRow(qsizetype row, double x);
    // The text from..to as Windows-1254 bytes.
    QByteArray bytes(qsizetype from, qsizetype to) const;
    // What the byte view shows of the text from..to, a line per row.
    QString byteViewText(qsizetype from, qsizetype to);

private:
    const ConsoleBuffer &m_buffer;
    ByteRows m_byteRows{m_buffer};
    bool m_byteView = false;
    double m_cellWidth = 1;
};
