#include "byterows.h"

#include "consolebuffer.h"
#include "consoletext.h"

#include <algorithm>

namespace {

// Where the line's bytes end, its CR LF included.
qsizetype bytesEnd(const ConsoleBuffer &buffer, qsizetype line)
{
    return line + 1 < buffer.lineCount() ? buffer.lineStart(line + 1) : buffer.size();
}

} // namespace

void ByteRows::clear()
{
    m_first = {0};
    m_valid = 0;
}

void ByteRows::update()
{
    const qsizetype lines = m_buffer.lineCount();
    m_valid = std::min(m_valid, lines);
    m_first.resize(size_t(m_valid) + 1);
    for (qsizetype line = m_valid; line < lines; ++line) {
        const qsizetype bytes = bytesEnd(m_buffer, line) - m_buffer.lineStart(line);
        const qsizetype rows = std::max<qsizetype>(1, (bytes + consoletext::bytesPerRow - 1) / consoletext::bytesPerRow);
        m_first.push_back(m_first.back() + rows);
    }
    m_valid = lines;
}

qsizetype ByteRows::count()
{
    update();
    return m_first.back();
}

qsizetype ByteRows::firstRow(qsizetype line)
{
    update();
    return m_first[size_t(line)];
}

qsizetype ByteRows::lineOf(qsizetype row)
{
    update();
    const auto after = std::upper_bound(m_first.begin(), m_first.end() - 1, row);
    return std::max<qsizetype>(0, qsizetype(after - m_first.begin()) - 1);
}

qsizetype ByteRows::rowOf(qsizetype position)
{
    const qsizetype line = m_buffer.lineOf(position);
    const qsizetype last = firstRow(line + 1) - 1;
    return std::min(last, firstRow(line) + (position - m_buffer.lineStart(line)) / consoletext::bytesPerRow);
}

qsizetype ByteRows::rowStart(qsizetype row)
{
    const qsizetype line = lineOf(row);
    return m_buffer.lineStart(line) + (row - firstRow(line)) * consoletext::bytesPerRow;
}

qsizetype ByteRows::rowEnd(qsizetype row)
{
    return std::min(bytesEnd(m_buffer, lineOf(row)), rowStart(row) + consoletext::bytesPerRow);
}
