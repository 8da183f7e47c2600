#pragma once

#include "consolebuffer.h"
#include "consolerows.h"

#include <QStringView>

#include <algorithm>
#include <optional>

class QKeyEvent;

// The operator's caret and selection in the console's text, without a screen: positions in the
// text, the column that Up and Down aim at across short lines, the motions, and the edits. A
// caret never stands inside a CR LF pair.
class ConsoleCursor
{
public:
    enum class Motion { Left, Right, Up, Down, PageUp, PageDown, LineStart, LineEnd, TextStart, TextEnd };
    struct KeyMotion
    {
        Motion motion;
        bool extend;
    };
    // The motion a key asks for, by the platform's key bindings.
    static std::optional<KeyMotion> motionOf(const QKeyEvent &event);

    ConsoleCursor(ConsoleBuffer &buffer, ConsoleRows &rows) : m_buffer(buffer), m_rows(rows) {}

    qsizetype position() const { return m_position; }
    qsizetype anchor() const { return m_anchor; }
    bool hasSelection() const { return m_anchor != m_position; }
    qsizetype selectionStart() const { return std::min(m_anchor, m_position); }
    qsizetype selectionEnd() const { return std::max(m_anchor, m_position); }

    void reset();
    // `extend` keeps the anchor, so that the selection grows or shrinks; `keepColumn` keeps
    // aiming at the column of an earlier Up or Down.
    void setCaret(qsizetype position, bool extend, bool keepColumn = false);
    // `pageRows` is how many rows a page up or down moves.
    void move(Motion motion, bool extend, qsizetype pageRows);
    void select(qsizetype anchor, qsizetype position);
    void selectAll();
    void replaceSelection(QStringView with);
    // Typing, Enter (a CR LF), Backspace and Delete; false for a key that edits nothing.
    bool edit(const QKeyEvent &event);
    // Text was appended and its first `droppedCharacters` dropped: positions in the dropped part
    // go to the start of what is kept.
    void appended(qsizetype droppedCharacters);
    // Aims Up and Down at the caret's place again, after the rows changed shape.
    void takeColumn();

private:
    qsizetype previousPosition(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;

    ConsoleBuffer &m_buffer;
    ConsoleRows &m_rows;
    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    double m_column = 0;
};
