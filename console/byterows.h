#pragma once

#include <QtGlobal>

#include <algorithm>
#include <vector>

class ConsoleBuffer;

// The rows of the byte view: every line of the text from its start, consoletext::bytesPerRow
// bytes to a row, its CR LF counted in; an empty line is one row. Built only while the byte
// view is shown, and extended from the first line that changed.
class ByteRows
{
public:
    explicit ByteRows(const ConsoleBuffer &buffer) : m_buffer(buffer) {}

    // The lines from `line` on are no longer what the rows were built from.
    void changedFrom(qsizetype line) { m_valid = std::min<qsizetype>(m_valid, std::max<qsizetype>(0, line)); }
    // Forgets the rows and gives back their memory.
    void clear();

    qsizetype count();
    qsizetype firstRow(qsizetype line);
    qsizetype lineOf(qsizetype row);
    qsizetype rowOf(qsizetype position);
    // The text positions of the row's first byte and of the one after its last.
    qsizetype rowStart(qsizetype row);
    qsizetype rowEnd(qsizetype row);

private:
    void update();

    const ConsoleBuffer &m_buffer;
    // The first row of each line, and the number of rows after the last one.
    std::vector<qsizetype> m_first{0};
    qsizetype m_valid = 0;
};
