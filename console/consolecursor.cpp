#include "consolecursor.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <array>

std::optional<ConsoleCursor::KeyMotion> ConsoleCursor::motionOf(const QKeyEvent &event)
{
    struct Binding
    {
        QKeySequence::StandardKey key;
        KeyMotion motion;
    };
    static constexpr std::array<Binding, 20> bindings{{
        {QKeySequence::MoveToPreviousChar, {Motion::Left, false}},
        {QKeySequence::SelectPreviousChar, {Motion::Left, true}},
        {QKeySequence::MoveToNextChar, {Motion::Right, false}},
        {QKeySequence::SelectNextChar, {Motion::Right, true}},
        {QKeySequence::MoveToPreviousLine, {Motion::Up, false}},
        {QKeySequence::SelectPreviousLine, {Motion::Up, true}},
        {QKeySequence::MoveToNextLine, {Motion::Down, false}},
        {QKeySequence::SelectNextLine, {Motion::Down, true}},
        {QKeySequence::MoveToPreviousPage, {Motion::PageUp, false}},
        {QKeySequence::SelectPreviousPage, {Motion::PageUp, true}},
        {QKeySequence::MoveToNextPage, {Motion::PageDown, false}},
        {QKeySequence::SelectNextPage, {Motion::PageDown, true}},
        {QKeySequence::MoveToStartOfLine, {Motion::LineStart, false}},
        {QKeySequence::SelectStartOfLine, {Motion::LineStart, true}},
        {QKeySequence::MoveToEndOfLine, {Motion::LineEnd, false}},
        {QKeySequence::SelectEndOfLine, {Motion::LineEnd, true}},
        {QKeySequence::MoveToStartOfDocument, {Motion::TextStart, false}},
        {QKeySequence::SelectStartOfDocument, {Motion::TextStart, true}},
        {QKeySequence::MoveToEndOfDocument, {Motion::TextEnd, false}},
        {QKeySequence::SelectEndOfDocument, {Motion::TextEnd, true}},
    }};
    for (const Binding &binding : bindings) {
        if (event.matches(binding.key))
            return binding.motion;
    }
    return std::nullopt;
}

void ConsoleCursor::reset()
{
    m_anchor = m_position = 0;
    m_column = 0;
}

void ConsoleCursor::setCaret(qsizetype position, bool extend, bool keepColumn)
{
    if (m_buffer.insideBreak(position))
        --position;
    m_position = position;
    if (!extend)
        m_anchor = position;
    if (!keepColumn)
        takeColumn();
}

void ConsoleCursor::takeColumn()
{
    m_column = m_rows.xInRow(m_rows.rowOf(m_position), m_position);
}

void ConsoleCursor::move(Motion motion, bool extend, qsizetype pageRows)
{
    const qsizetype line = m_buffer.lineOf(m_position);
    const qsizetype row = m_rows.rowOf(m_position);
    const qsizetype lastRow = m_rows.count() - 1;
    const auto onRow = [this](qsizetype target) { return m_rows.positionInRow(target, m_column); };
    switch (motion) {
    case Motion::Left:
        setCaret(hasSelection() && !extend ? selectionStart() : previousPosition(m_position), extend);
        break;
    case Motion::Right:
        setCaret(hasSelection() && !extend ? selectionEnd() : nextPosition(m_position), extend);
        break;
    case Motion::Up:
        setCaret(row > 0 ? onRow(row - 1) : m_position, extend, true);
        break;
    case Motion::Down:
        setCaret(row < lastRow ? onRow(row + 1) : m_position, extend, true);
        break;
    case Motion::PageUp:
        setCaret(onRow(std::max<qsizetype>(0, row - pageRows)), extend, true);
        break;
    case Motion::PageDown:
        setCaret(onRow(std::min(lastRow, row + pageRows)), extend, true);
        break;
    case Motion::LineStart:
        setCaret(m_buffer.lineStart(line), extend);
        break;
    case Motion::LineEnd:
        setCaret(m_buffer.lineEnd(line), extend);
        break;
    case Motion::TextStart:
        setCaret(0, extend);
        break;
    case Motion::TextEnd:
        setCaret(m_buffer.size(), extend);
        break;
    }
}

void ConsoleCursor::select(qsizetype anchor, qsizetype position)
{
    const qsizetype end = m_buffer.size();
    m_anchor = std::clamp<qsizetype>(anchor, 0, end);
    setCaret(std::clamp<qsizetype>(position, 0, end), true);
    if (m_buffer.insideBreak(m_anchor))
        --m_anchor;
}

void ConsoleCursor::selectAll()
{
    m_anchor = 0;
    setCaret(m_buffer.size(), true);
}

void ConsoleCursor::replaceSelection(QStringView with)
{
    const qsizetype start = selectionStart();
    m_buffer.replace(start, selectionEnd() - start, with);
    m_rows.changedFrom(m_buffer.lineOf(start));
    setCaret(start + with.size(), false);
}

bool ConsoleCursor::edit(const QKeyEvent &event)
{
    if (event.key() == Qt::Key_Backspace && !(event.modifiers() & ~Qt::ShiftModifier)) {
        if (!hasSelection())
            m_anchor = previousPosition(m_position);
        replaceSelection({});
    } else if (event.matches(QKeySequence::Delete)) {
        if (!hasSelection())
            m_anchor = nextPosition(m_position);
        replaceSelection({});
    } else if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
        replaceSelection(u"\r\n");
    } else if (const QString typed = event.text();
               !typed.isEmpty() && typed.front().isPrint()
               && (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != Qt::ControlModifier) {
        replaceSelection(typed);
    } else {
        return false;
    }
    return true;
}

void ConsoleCursor::appended(qsizetype droppedCharacters)
{
    m_position = std::max<qsizetype>(0, m_position - droppedCharacters);
    m_anchor = std::max<qsizetype>(0, m_anchor - droppedCharacters);
    // A caret after a CR whose LF just came would stand inside the line break; it stays at the line's end.
    if (m_buffer.insideBreak(m_position))
        --m_position;
    if (m_buffer.insideBreak(m_anchor))
        --m_anchor;
}

qsizetype ConsoleCursor::previousPosition(qsizetype position) const
{
    if (position == 0)
        return 0;
    return m_buffer.breakAt(position - 2) ? position - 2 : position - 1;
}

qsizetype ConsoleCursor::nextPosition(qsizetype position) const
{
    if (position >= m_buffer.size())
        return position;
    return m_buffer.breakAt(position) ? position + 2 : position + 1;
}
