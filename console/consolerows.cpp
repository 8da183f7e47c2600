#include "consolerows.h"

#include "codepage.h"
#include "consoletext.h"

#include <QtMath>

#include <algorithm>

void ConsoleRows::setByteView(bool shown)
{
    m_byteView = shown;
    if (!shown)
        m_byteRows.clear();
}

qsizetype ConsoleRows::count()
{
    return m_byteView ? m_byteRows.count() : m_buffer.lineCount();
}

qsizetype ConsoleRows::firstRowOf(qsizetype line)
{
    return m_byteView ? m_byteRows.firstRow(line) : line;
}

qsizetype ConsoleRows::lineOfRow(qsizetype row)
{
    return m_byteView ? m_byteRows.lineOf(row) : std::min(row, m_buffer.lineCount() - 1);
}

qsizetype ConsoleRows::rowOf(qsizetype position)
{
    return m_byteView ? m_byteRows.rowOf(position) : m_buffer.lineOf(position);
}

double ConsoleRows::xInRow(qsizetype row, qsizetype position)
{
    if (!m_byteView)
        return m_buffer.x(row, position);
    return double(consoletext::hexCells * (position - m_byteRows.rowStart(row))) * m_cellWidth;
}

qsizetype ConsoleRows::positionInRow(qsizetype row, double x)
{
    if (!m_byteView)
        return m_buffer.positionAt(row, x);
    // Either column of a byte stands for it; a caret goes to the nearest boundary between bytes.
    const double column = x / m_cellWidth;
    const double hexCells = consoletext::hexCells;
    const qsizetype index = column < consoletext::byteRowTextColumn - 1 ? qFloor((column + hexCells / 2) / hexCells)
                                                                        : qRound(column - consoletext::byteRowTextColumn);
    const qsizetype start = m_byteRows.rowStart(row);
    const qsizetype last = std::min(m_byteRows.rowEnd(row), m_buffer.lineEnd(lineOfRow(row)));
    return std::clamp(start + index, start, std::max(start, last));
}

QByteArray ConsoleRows::bytes(qsizetype from, qsizetype to) const
{
    if (m_buffer.isNarrow())
        return m_buffer.narrowText().sliced(from, to - from).toByteArray();
    return codepage::fromUnicode(m_buffer.mid(from, to - from));
}

QString ConsoleRows::byteViewText(qsizetype from, qsizetype to)
{
    // Made at its final size, so that the copy holds the text once and no piece of it beside.
    const qsizetype firstRow = m_byteRows.rowOf(from);
    qsizetype lastRow = firstRow;
    qsizetype length = -1;
    for (; lastRow < m_byteRows.count() && m_byteRows.rowStart(lastRow) < to; ++lastRow) {
        const qsizetype rowFrom = std::max(from, m_byteRows.rowStart(lastRow));
        const qsizetype rowTo = std::min(to, m_byteRows.rowEnd(lastRow));
        if (rowFrom < rowTo)
            length += consoletext::byteRowLength(rowTo - rowFrom) + 1;
    }
    QString shown(std::max<qsizetype>(length, 0), Qt::Uninitialized);
    QChar *out = shown.data();
    for (qsizetype row = firstRow; row < lastRow; ++row) {
        const qsizetype rowFrom = std::max(from, m_byteRows.rowStart(row));
        const qsizetype rowTo = std::min(to, m_byteRows.rowEnd(row));
        if (rowFrom >= rowTo)
            continue;
        if (out != shown.data())
            *out++ = QChar(u'\n');
        consoletext::writeByteRow(out, bytes(rowFrom, rowTo));
        out += consoletext::byteRowLength(rowTo - rowFrom);
    }
    return shown;
}
