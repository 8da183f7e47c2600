#pragma once

#include "consolebuffer.h"

#include <QFont>
#include <QPalette>
#include <QRect>
#include <QRegion>

#include <utility>

class ByteGlyphs;
class ConsoleRows;
class QPainter;

// The console's fonts and what is measured of them, once a font.
struct ConsoleLook
{
    // Without kerning and ligatures, so that a line is as wide as the sum of its characters and
    // each character is measured once, when it arrives, and never again.
    QFont font;
    double ascent = 0;
    int lineHeight = 1;
    double charWidth = 1;
    // The byte view's columns need a font whose characters all have one width.
    QFont byteFont;
    double byteAscent = 0;
    int byteLineHeight = 1;
    double cellWidth = 1;

    static ConsoleLook of(const QFont &font);
    // How wide each character is drawn in `font`.
    ConsoleBuffer::Advance advance() const;
};

// Where the view stands over the rows, taken from the console's scroll bars and fonts.
struct ConsoleView
{
    static constexpr int margin = 4;
    static constexpr int caretWidth = 1;

    qsizetype topRow = 0;
    qsizetype rowCount = 0;
    int lineHeight = 1;
    // The view's left edge in the rows, in pixels.
    double left = 0;
    int width = 0;

    int rowTop(qsizetype row) const { return margin + int(row - topRow) * lineHeight; }
    // The rows that a part of the view shows, from the first to the one after the last.
    std::pair<qsizetype, qsizetype> rowsIn(const QRect &area) const;
};

// Paints the console's rows with their selection and caret, and the arrival times beside them.
class ConsolePainter
{
public:
    ConsolePainter(QPainter &painter, const ConsoleView &view, const ConsoleLook &look, const QPalette &colours,
                   const ConsoleBuffer &buffer, ConsoleRows &rows)
        : m_painter(painter), m_view(view), m_look(look), m_colours(colours), m_buffer(buffer), m_rows(rows)
    {
    }

    // `dirty` need not be one rectangle: after a scroll it is the uncovered strip and the
    // lines that changed, whose bounding rectangle could be the whole view.
    void text(const QRegion &dirty, qsizetype selectedFrom, qsizetype selectedTo, ByteGlyphs &glyphs);
    void bytes(const QRegion &dirty, qsizetype selectedFrom, qsizetype selectedTo);
    void caret(qsizetype position);
    void arrivalTimes(const QRect &area);

private:
    bool dirtyRow(const QRegion &dirty, int top) const;

    QPainter &m_painter;
    const ConsoleView &m_view;
    const ConsoleLook &m_look;
    const QPalette &m_colours;
    const ConsoleBuffer &m_buffer;
    ConsoleRows &m_rows;
};
