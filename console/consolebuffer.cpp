#include "consolebuffer.h"

#include "codepage.h"

#include <algorithm>

namespace {

constexpr float unmeasured = -1;
constexpr size_t codeCount = 0x10000;
constexpr size_t byteCount = 0x100;
// The text and the line index grow in large blocks: a block this size is mapped afresh by the
// allocator, costs memory only as it is written, and is given back whole. Small steps would
// leave each outgrown copy behind in the heap.
constexpr size_t growthBytes = 64 * 1024 * 1024;

qsizetype grownCapacity(qsizetype needed, size_t elementSize)
{
    return std::max(qsizetype(growthBytes / elementSize), 2 * needed);
}

template <typename Text>
void makeRoom(Text &text, qsizetype added)
{
    if (text.capacity() < text.size() + added)
        text.reserve(grownCapacity(text.size() + added, sizeof(*text.constData())));
}

bool isCr(char ch)
{
    return ch == '\r';
}

bool isCr(QChar ch)
{
    return ch == u'\r';
}

bool isLf(char ch)
{
    return ch == '\n';
}

bool isLf(QChar ch)
{
    return ch == u'\n';
}

} // namespace

ConsoleBuffer::ConsoleBuffer(Advance advance)
    : m_advance(std::move(advance)), m_advances(codeCount, unmeasured), m_byteAdvances(byteCount, unmeasured)
{
}

double ConsoleBuffer::firstAdvance(QChar ch) const
{
    float &width = m_advances[ch.unicode()];
    width = float(m_advance(ch));
    return width;
}

double ConsoleBuffer::firstAdvance(char byte) const
{
    float &width = m_byteAdvances[quint8(byte)];
    width = float(advance(codepage::toUnicode(byte)));
    return width;
}

QString ConsoleBuffer::text() const
{
    return m_wide ? m_wideText : codepage::toUnicode(m_bytes);
}

QByteArray ConsoleBuffer::windows1254() const
{
    return m_wide ? codepage::fromUnicode(m_wideText) : m_bytes;
}

QChar ConsoleBuffer::at(qsizetype position) const
{
    return m_wide ? m_wideText[position] : codepage::toUnicode(m_bytes[position]);
}

QString ConsoleBuffer::mid(qsizetype position, qsizetype length) const
{
    return m_wide ? m_wideText.sliced(position, length)
                  : codepage::toUnicode(QByteArrayView(m_bytes).sliced(position, length));
}

void ConsoleBuffer::setText(QStringView text)
{
    // Fresh storage and index give back the memory of a long text that is cleared.
    m_bytes = QByteArray();
    m_wideText = QString();
    m_wide = false;
    m_lines = std::vector<Line>(1);
    m_marks.clear();
    m_widest = 0;
    replace(0, 0, text);
}

void ConsoleBuffer::setAdvance(Advance advance)
{
    m_advance = std::move(advance);
    m_advances.assign(codeCount, unmeasured);
    m_byteAdvances.assign(byteCount, unmeasured);
    for (qsizetype line = 0; line < lineCount(); ++line)
        measure(m_lines[size_t(line)], lineEnd(line), lineStart(line));
    measureWidest();
}

void ConsoleBuffer::widen()
{
    m_wideText = codepage::toUnicode(m_bytes);
    m_bytes = QByteArray();
    m_wide = true;
}

void ConsoleBuffer::replace(qsizetype position, qsizetype length, QStringView with)
{
    if (!m_wide) {
        if (const std::optional<QByteArray> bytes = codepage::fromUnicodeExactly(with)) {
            replaceIn(m_bytes, position, length, QByteArrayView(*bytes));
            return;
        }
        widen();
    }
    replaceIn(m_wideText, position, length, with);
}

template <typename Text, typename Piece>
void ConsoleBuffer::replaceIn(Text &text, qsizetype position, qsizetype length, Piece with)
{
    position = std::clamp<qsizetype>(position, 0, text.size());
    length = std::clamp<qsizetype>(length, 0, text.size() - position);
    const bool appending = position == text.size();
    const bool fillsEmptyEnd = appending && m_lines.back().start == text.size() && !with.isEmpty();
    const qsizetype delta = with.size() - length;
    if (appending) {
        makeRoom(text, with.size());
        text.append(with);
    } else {
        text.replace(position, length, with.data(), with.size());
    }

    // A line starts after each CR LF pair. Only pairs whose CR lies from position - 1 to the
    // end of the replaced part can have changed; the others keep their lines, shifted.
    const auto startsBefore = [](const Line &line, qsizetype start) { return line.start < start; };
    const auto staleBegin = std::lower_bound(m_lines.begin(), m_lines.end(), position + 1, startsBefore);
    const auto staleEnd = std::lower_bound(staleBegin, m_lines.end(), position + length + 2, startsBefore);
    const size_t changed = size_t(staleBegin - m_lines.begin()) - 1;
    m_lines.erase(staleBegin, staleEnd);
    m_marks.erase(m_marks.lower_bound(position + 1), m_marks.lower_bound(position + length + 2));
    shiftMarks(position + length + 2, delta);
    for (size_t line = changed + 1; line < m_lines.size(); ++line)
        m_lines[line].start += delta;

    std::vector<Line> added;
    const auto *chars = text.constData();
    const qsizetype lastCr = std::min(position + with.size(), text.size() - 1);
    for (qsizetype cr = std::max<qsizetype>(0, position - 1); cr < lastCr; ++cr) {
        if (isCr(chars[cr]) && isLf(chars[cr + 1]))
            added.push_back(Line{cr + 2, 0, 0});
    }
    // The clock is read only when a line gets its first character.
    if (!added.empty() || fillsEmptyEnd) {
        const qint32 now = m_timeOfDay().msecsSinceStartOfDay();
        for (Line &line : added)
            line.arrived = now;
        if (fillsEmptyEnd)
            m_lines[changed].arrived = now;
    }
    if (m_lines.capacity() < m_lines.size() + added.size())
        m_lines.reserve(size_t(grownCapacity(qsizetype(m_lines.size() + added.size()), sizeof(Line))));
    m_lines.insert(m_lines.begin() + qsizetype(changed) + 1, added.begin(), added.end());

    const double widthBefore = lineWidth(qsizetype(changed));
    measure(m_lines[changed], lineEnd(qsizetype(changed)), position);
    double widest = lineWidth(qsizetype(changed));
    for (size_t line = changed + 1; line <= changed + added.size(); ++line) {
        measure(m_lines[line], lineEnd(qsizetype(line)), m_lines[line].start);
        widest = std::max(widest, lineWidth(qsizetype(line)));
    }
    // Received text only widens lines, unless its LF turned the last line's CR into a break.
    if (appending && (lineWidth(qsizetype(changed)) >= widthBefore || widthBefore < m_widest))
        m_widest = std::max(m_widest, widest);
    else
        measureWidest();
}

ConsoleBuffer::Dropped ConsoleBuffer::append(QStringView text)
{
    replace(size(), 0, text);
    return trimIfOver();
}

ConsoleBuffer::Dropped ConsoleBuffer::appendBytes(QByteArrayView windows1254)
{
    if (m_wide)
        replaceIn(m_wideText, size(), 0, QStringView(codepage::toUnicode(windows1254)));
    else
        replaceIn(m_bytes, size(), 0, windows1254);
    return trimIfOver();
}

ConsoleBuffer::Dropped ConsoleBuffer::trimIfOver()
{
    if (size() - m_capacity <= m_capacity / 8)
        return {};
    return trim();
}

ConsoleBuffer::Dropped ConsoleBuffer::trim()
{
    const qsizetype excess = size() - m_capacity;
    Dropped dropped;
    dropped.lines = lineOf(excess);
    qsizetype cut = lineStart(dropped.lines);
    if (dropped.lines == 0) {
        // One line longer than the capacity loses whole mark spans from its start, as a
        // terminal drops the oldest rows of a wrapped line.
        const qsizetype spans = std::min(excess, lineEnd(0)) / markSpacing;
        if (spans == 0)
            return {};
        cut = spans * markSpacing;
        std::vector<double> &marks = m_marks[0];
        const double shift = marks[size_t(spans - 1)];
        marks.erase(marks.begin(), marks.begin() + spans);
        for (double &mark : marks)
            mark -= shift;
    }
    // Qt drops an array's front by moving where it starts, not what it holds: the kept text
    // moves only when the block's end runs out of room, once in several trims, and in place.
    if (m_wide)
        m_wideText.remove(0, cut);
    else
        m_bytes.remove(0, cut);
    m_lines.erase(m_lines.begin(), m_lines.begin() + dropped.lines);
    if (dropped.lines > 0)
        m_marks.erase(m_marks.begin(), m_marks.lower_bound(cut));
    shiftMarks(cut, -cut);
    for (Line &line : m_lines)
        line.start -= cut;
    m_lines.front().start = 0;
    dropped.characters = cut;
    measureWidest();
    return dropped;
}

double ConsoleBuffer::widthOf(const Line &line) const
{
    const std::vector<double> &marks = marksOf(line);
    return (marks.empty() ? 0 : marks.back()) + line.tailWidth;
}

const std::vector<double> &ConsoleBuffer::marksOf(const Line &line) const
{
    static const std::vector<double> none;
    const auto found = m_marks.find(line.start);
    return found == m_marks.end() ? none : found->second;
}

void ConsoleBuffer::shiftMarks(qsizetype from, qsizetype delta)
{
    if (delta == 0)
        return;
    std::map<qsizetype, std::vector<double>> shifted;
    for (auto entry = m_marks.lower_bound(from); entry != m_marks.end();) {
        auto node = m_marks.extract(entry++);
        node.key() += delta;
        shifted.insert(std::move(node));
    }
    m_marks.merge(shifted);
}

void ConsoleBuffer::measure(Line &line, qsizetype end, qsizetype from)
{
    const qsizetype needed = (end - line.start) / markSpacing;
    const auto found = m_marks.find(line.start);
    std::vector<double> *marks = found == m_marks.end() ? nullptr : &found->second;
    const qsizetype kept = marks ? std::min(qsizetype(marks->size()), (std::min(from, end) - line.start) / markSpacing) : 0;
    if (needed == 0) {
        if (marks)
            m_marks.erase(found);
        marks = nullptr;
    } else if (!marks) {
        marks = &m_marks[line.start];
    }
    if (marks)
        marks->resize(size_t(kept));
    double x = kept > 0 ? marks->back() : 0;
    withText([&](const auto *text) {
        for (qsizetype p = line.start + kept * markSpacing; p < end; ++p) {
            x += advance(text[p]);
            if ((p + 1 - line.start) % markSpacing == 0)
                marks->push_back(x);
        }
    });
    line.tailWidth = float(x - (marks && !marks->empty() ? marks->back() : 0));
}

void ConsoleBuffer::measureWidest()
{
    m_widest = 0;
    for (const Line &line : m_lines)
        m_widest = std::max(m_widest, widthOf(line));
}

qsizetype ConsoleBuffer::lineEnd(qsizetype line) const
{
    return line + 1 < lineCount() ? lineStart(line + 1) - 2 : size();
}

qsizetype ConsoleBuffer::lineOf(qsizetype position) const
{
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), position,
                                        [](qsizetype p, const Line &line) { return p < line.start; });
    return qsizetype(after - m_lines.begin()) - 1;
}

QTime ConsoleBuffer::lineArrival(qsizetype line) const
{
    if (line + 1 == lineCount() && lineStart(line) == size())
        return {};
    return QTime::fromMSecsSinceStartOfDay(m_lines[size_t(line)].arrived);
}

bool ConsoleBuffer::breakAt(qsizetype position) const
{
    return position >= 0 && position + 1 < size()
           && withText([position](const auto *text) { return isCr(text[position]) && isLf(text[position + 1]); });
}

bool ConsoleBuffer::insideBreak(qsizetype position) const
{
    return breakAt(position - 1);
}

double ConsoleBuffer::x(qsizetype line, qsizetype position) const
{
    const Line &l = m_lines[size_t(line)];
    const std::vector<double> &lineMarks = marksOf(l);
    const qsizetype marks = std::min(qsizetype(lineMarks.size()), (position - l.start) / markSpacing);
    double x = marks > 0 ? lineMarks[size_t(marks - 1)] : 0;
    withText([&](const auto *text) {
        for (qsizetype p = l.start + marks * markSpacing; p < position; ++p)
            x += advance(text[p]);
    });
    return x;
}

qsizetype ConsoleBuffer::positionBefore(qsizetype line, double x) const
{
    const Line &l = m_lines[size_t(line)];
    const std::vector<double> &lineMarks = marksOf(l);
    const qsizetype marks = std::upper_bound(lineMarks.begin(), lineMarks.end(), x) - lineMarks.begin();
    double at = marks > 0 ? lineMarks[size_t(marks - 1)] : 0;
    const qsizetype end = lineEnd(line);
    return withText([&](const auto *text) {
        qsizetype p = l.start + marks * markSpacing;
        for (; p < end; ++p) {
            const double next = at + advance(text[p]);
            if (next > x)
                break;
            at = next;
        }
        return p;
    });
}

qsizetype ConsoleBuffer::positionAt(qsizetype line, double x) const
{
    const qsizetype p = positionBefore(line, x);
    if (p < lineEnd(line) && x - this->x(line, p) > advance(at(p)) / 2)
        return p + 1;
    return p;
}
