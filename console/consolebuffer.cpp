#include "consolebuffer.h"

#include <algorithm>

namespace {

constexpr float unmeasured = -1;
constexpr size_t codeCount = 0x10000;
// The text and the line index grow in large blocks: a block this size is mapped afresh by the
// allocator, costs memory only as it is written, and is given back whole. Small steps would
// leave each outgrown copy behind in the heap.
constexpr size_t growthBytes = 64 * 1024 * 1024;

qsizetype grownCapacity(qsizetype needed, size_t elementSize)
{
    return std::max(qsizetype(growthBytes / elementSize), 2 * needed);
}

} // namespace

ConsoleBuffer::ConsoleBuffer(Advance advance)
    : m_advance(std::move(advance)), m_advances(codeCount, unmeasured)
{
}

double ConsoleBuffer::firstAdvance(QChar ch) const
{
    float &width = m_advances[ch.unicode()];
    width = float(m_advance(ch));
    return width;
}

void ConsoleBuffer::setText(QStringView text)
{
    // A fresh string and index give back the memory of a long text that is cleared.
    m_text = text.toString();
    m_lines = std::vector<Line>(1);
    for (qsizetype i = 0; i + 1 < m_text.size(); ++i) {
        if (breakAt(i))
            m_lines.push_back(Line{i + 2, 0, {}});
    }
    for (qsizetype line = 0; line < lineCount(); ++line)
        measure(m_lines[size_t(line)], lineEnd(line), lineStart(line));
    measureWidest();
}

void ConsoleBuffer::setAdvance(Advance advance)
{
    m_advance = std::move(advance);
    m_advances.assign(codeCount, unmeasured);
    for (qsizetype line = 0; line < lineCount(); ++line)
        measure(m_lines[size_t(line)], lineEnd(line), lineStart(line));
    measureWidest();
}

void ConsoleBuffer::replace(qsizetype position, qsizetype length, QStringView with)
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    length = std::clamp<qsizetype>(length, 0, m_text.size() - position);
    const bool appending = position == m_text.size();
    const qsizetype delta = with.size() - length;
    if (appending) {
        if (m_text.capacity() < m_text.size() + with.size())
            m_text.reserve(grownCapacity(m_text.size() + with.size(), sizeof(QChar)));
        m_text.append(with);
    }
    else
        m_text.replace(position, length, with.data(), with.size());

    // A line starts after each CR LF pair. Only pairs whose CR lies from position - 1 to the
    // end of the replaced part can have changed; the others keep their lines, shifted.
    const auto startsBefore = [](const Line &line, qsizetype start) { return line.start < start; };
    const auto staleBegin = std::lower_bound(m_lines.begin(), m_lines.end(), position + 1, startsBefore);
    const auto staleEnd = std::lower_bound(staleBegin, m_lines.end(), position + length + 2, startsBefore);
    const size_t changed = size_t(staleBegin - m_lines.begin()) - 1;
    m_lines.erase(staleBegin, staleEnd);
    for (size_t line = changed + 1; line < m_lines.size(); ++line)
        m_lines[line].start += delta;

    std::vector<Line> added;
    const QChar *text = m_text.constData();
    const qsizetype lastCr = std::min(position + with.size(), m_text.size() - 1);
    for (qsizetype cr = std::max<qsizetype>(0, position - 1); cr < lastCr; ++cr) {
        if (text[cr] == u'\r' && text[cr + 1] == u'\n')
            added.push_back(Line{cr + 2, 0, {}});
    }
    if (m_lines.capacity() < m_lines.size() + added.size())
        m_lines.reserve(size_t(grownCapacity(qsizetype(m_lines.size() + added.size()), sizeof(Line))));
    m_lines.insert(m_lines.begin() + qsizetype(changed) + 1, std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));

    const double widthBefore = m_lines[changed].width;
    measure(m_lines[changed], lineEnd(qsizetype(changed)), position);
    double widest = m_lines[changed].width;
    for (size_t line = changed + 1; line <= changed + added.size(); ++line) {
        measure(m_lines[line], lineEnd(qsizetype(line)), m_lines[line].start);
        widest = std::max(widest, m_lines[line].width);
    }
    // Received text only widens lines, unless its LF turned the last line's CR into a break.
    if (appending && (m_lines[changed].width >= widthBefore || widthBefore < m_widest))
        m_widest = std::max(m_widest, widest);
    else
        measureWidest();
}

ConsoleBuffer::Dropped ConsoleBuffer::append(QStringView text)
{
    replace(m_text.size(), 0, text);
    if (m_text.size() - m_capacity <= m_capacity / 8)
        return {};
    return trim();
}

ConsoleBuffer::Dropped ConsoleBuffer::trim()
{
    const qsizetype excess = m_text.size() - m_capacity;
    Dropped dropped;
    dropped.lines = lineOf(excess);
    qsizetype cut = lineStart(dropped.lines);
    if (dropped.lines == 0) {
        // One line longer than the capacity loses whole mark spans from its start, as a
        // terminal drops the oldest rows of a wrapped line.
        Line &first = m_lines.front();
        const qsizetype spans = std::min(excess, lineEnd(0)) / markSpacing;
        if (spans == 0)
            return {};
        cut = spans * markSpacing;
        const double shift = first.marks[size_t(spans - 1)];
        first.marks.erase(first.marks.begin(), first.marks.begin() + spans);
        for (double &mark : first.marks)
            mark -= shift;
        first.width -= shift;
    }
    // Moved in place: a fresh copy would hold the text twice for a moment.
    QChar *data = m_text.data();
    std::copy(data + cut, data + m_text.size(), data);
    m_text.truncate(m_text.size() - cut);
    m_lines.erase(m_lines.begin(), m_lines.begin() + dropped.lines);
    for (Line &line : m_lines)
        line.start -= cut;
    m_lines.front().start = 0;
    dropped.characters = cut;
    measureWidest();
    return dropped;
}

void ConsoleBuffer::measure(Line &line, qsizetype end, qsizetype from)
{
    const qsizetype kept = std::min(qsizetype(line.marks.size()), (std::min(from, end) - line.start) / markSpacing);
    line.marks.resize(size_t(kept));
    double x = kept > 0 ? line.marks.back() : 0;
    const QChar *text = m_text.constData();
    for (qsizetype p = line.start + kept * markSpacing; p < end; ++p) {
        x += advance(text[p]);
        if ((p + 1 - line.start) % markSpacing == 0)
            line.marks.push_back(x);
    }
    line.width = x;
}

void ConsoleBuffer::measureWidest()
{
    m_widest = 0;
    for (const Line &line : m_lines)
        m_widest = std::max(m_widest, line.width);
}

qsizetype ConsoleBuffer::lineEnd(qsizetype line) const
{
    return line + 1 < lineCount() ? lineStart(line + 1) - 2 : m_text.size();
}

qsizetype ConsoleBuffer::lineOf(qsizetype position) const
{
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), position,
                                        [](qsizetype p, const Line &line) { return p < line.start; });
    return qsizetype(after - m_lines.begin()) - 1;
}

bool ConsoleBuffer::breakAt(qsizetype position) const
{
    return position >= 0 && position + 1 < m_text.size() && m_text[position] == u'\r' && m_text[position + 1] == u'\n';
}

bool ConsoleBuffer::insideBreak(qsizetype position) const
{
    return breakAt(position - 1);
}

double ConsoleBuffer::x(qsizetype line, qsizetype position) const
{
    const Line &l = m_lines[size_t(line)];
    const qsizetype marks = std::min(qsizetype(l.marks.size()), (position - l.start) / markSpacing);
    double x = marks > 0 ? l.marks[size_t(marks - 1)] : 0;
    for (qsizetype p = l.start + marks * markSpacing; p < position; ++p)
        x += advance(m_text[p]);
    return x;
}

qsizetype ConsoleBuffer::positionBefore(qsizetype line, double x) const
{
    const Line &l = m_lines[size_t(line)];
    const qsizetype marks = std::upper_bound(l.marks.begin(), l.marks.end(), x) - l.marks.begin();
    double at = marks > 0 ? l.marks[size_t(marks - 1)] : 0;
    const qsizetype end = lineEnd(line);
    qsizetype p = l.start + marks * markSpacing;
    for (; p < end; ++p) {
        const double next = at + advance(m_text[p]);
        if (next > x)
            break;
        at = next;
    }
    return p;
}

qsizetype ConsoleBuffer::positionAt(qsizetype line, double x) const
{
    const qsizetype p = positionBefore(line, x);
    if (p < lineEnd(line) && x - this->x(line, p) > advance(m_text[p]) / 2)
        return p + 1;
    return p;
}
