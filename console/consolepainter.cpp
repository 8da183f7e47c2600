#include "consolepainter.h"

#include "byteglyphs.h"
#include "consolebuffer.h"
#include "consolerows.h"
#include "consoletext.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <array>

namespace {

// The smallest step a font engine keeps; any letter spacing turns ligatures off.
constexpr double ligatureBreak = 1.0 / 64;

} // namespace

ConsoleLook ConsoleLook::of(const QFont &font)
{
    ConsoleLook look;
    look.font = font;
    look.font.setKerning(false);
    look.font.setLetterSpacing(QFont::AbsoluteSpacing, ligatureBreak);
    const QFontMetricsF metrics(look.font);
    look.lineHeight = std::max(1, qCeil(metrics.height()));
    look.ascent = metrics.ascent();
    look.charWidth = std::max(1.0, metrics.averageCharWidth());
    look.byteFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    look.byteFont.setPixelSize(std::max(1, QFontInfo(look.font).pixelSize()));
    const QFontMetricsF byteMetrics(look.byteFont);
    look.cellWidth = std::max(1.0, byteMetrics.horizontalAdvance(u'0'));
    look.byteAscent = byteMetrics.ascent();
    look.byteLineHeight = std::max(look.lineHeight, qCeil(byteMetrics.height()));
    return look;
}

ConsoleBuffer::Advance ConsoleLook::advance() const
{
    return [metrics = QFontMetricsF(font)](QChar ch) {
        return metrics.horizontalAdvance(QString(consoletext::visibleForm(ch)));
    };
}

std::pair<qsizetype, qsizetype> ConsoleView::rowsIn(const QRect &area) const
{
    const qsizetype first = topRow + std::max(0, (area.top() - margin) / lineHeight);
    const qsizetype last = area.bottom() < margin ? first - 1 : topRow + (area.bottom() - margin) / lineHeight;
    return {first, std::min(last + 1, rowCount)};
}

bool ConsolePainter::dirtyRow(const QRegion &dirty, int top) const
{
    return dirty.intersects(QRect(0, top, m_view.width, m_view.lineHeight));
}

void ConsolePainter::text(const QRegion &dirty, qsizetype selectedFrom, qsizetype selectedTo, ByteGlyphs &glyphs)
{
    m_painter.setFont(m_look.font);
    const double viewRight = m_view.left + m_view.width;
    const int height = m_view.lineHeight;
    const auto [first, end] = m_view.rowsIn(dirty.boundingRect());
    for (qsizetype line = first; line < end; ++line) {
        const int top = m_view.rowTop(line);
        if (!dirtyRow(dirty, top))
            continue;
        const qsizetype lineEnd = m_buffer.lineEnd(line);
        const qsizetype from = m_buffer.positionBefore(line, m_view.left);
        const qsizetype to = std::min(lineEnd, m_buffer.positionBefore(line, viewRight) + 1);
        // The line in up to three runs: before, inside and after the selection.
        const std::array<qsizetype, 4> cuts{from, std::clamp(selectedFrom, from, to), std::clamp(selectedTo, from, to), to};
        double x = m_buffer.x(line, from) - m_view.left;
        for (size_t run = 0; run < 3; ++run) {
            const qsizetype length = cuts[run + 1] - cuts[run];
            if (length == 0)
                continue;
            const double width = m_buffer.x(line, cuts[run + 1]) - m_buffer.x(line, cuts[run]);
            const bool selected = run == 1;
            if (selected)
                m_painter.fillRect(QRectF(x, top, width, height), m_colours.highlight());
            m_painter.setPen(m_colours.color(selected ? QPalette::HighlightedText : QPalette::Text));
            const QPointF origin(x, top + m_look.ascent);
            if (m_buffer.isNarrow())
                glyphs.draw(m_painter, origin, m_buffer, cuts[run], cuts[run + 1]);
            else
                m_painter.drawText(origin, consoletext::displayText(m_buffer.mid(cuts[run], length)));
            x += width;
        }
        // A selected line break shows as a little selected space after the line.
        if (lineEnd < m_buffer.size() && selectedFrom <= lineEnd && selectedTo > lineEnd) {
            const double breakX = m_buffer.x(line, lineEnd) - m_view.left;
            m_painter.fillRect(QRectF(breakX, top, m_buffer.advance(u' '), height), m_colours.highlight());
        }
    }
}

void ConsolePainter::bytes(const QRegion &dirty, qsizetype selectedFrom, qsizetype selectedTo)
{
    m_painter.setFont(m_look.byteFont);
    const auto cell = [&](double column, int top, double columns) {
        return QRectF(column * m_rows.cellWidth() - m_view.left, top, columns * m_rows.cellWidth(), m_view.lineHeight);
    };
    const auto [first, end] = m_view.rowsIn(dirty.boundingRect());
    for (qsizetype row = first; row < end; ++row) {
        const int top = m_view.rowTop(row);
        if (!dirtyRow(dirty, top))
            continue;
        const qsizetype start = m_rows.rowStart(row);
        const QString shown = consoletext::byteRow(m_rows.bytes(start, m_rows.rowEnd(row)));
        const double baseline = top + m_look.byteAscent;
        m_painter.setPen(m_colours.color(QPalette::Text));
        m_painter.drawText(QPointF(-m_view.left, baseline), shown);
        // Selected bytes are marked in both columns.
        m_painter.setPen(m_colours.color(QPalette::HighlightedText));
        const qsizetype from = std::max(selectedFrom, start) - start;
        const qsizetype to = std::min(selectedTo, m_rows.rowEnd(row)) - start;
        for (qsizetype i = from; i < to; ++i) {
            const qsizetype hexColumn = consoletext::hexCells * i;
            const qsizetype textColumn = consoletext::byteRowTextColumn + i;
            // Selected hex cells join up, but for the space after the last.
            m_painter.fillRect(cell(hexColumn, top, i + 1 < to ? consoletext::hexCells : 2), m_colours.highlight());
            m_painter.fillRect(cell(textColumn, top, 1), m_colours.highlight());
            m_painter.drawText(QPointF(cell(hexColumn, top, 2).left(), baseline), shown.mid(hexColumn, 2));
            m_painter.drawText(QPointF(cell(textColumn, top, 1).left(), baseline), shown.mid(textColumn, 1));
        }
    }
}

void ConsolePainter::caret(qsizetype position)
{
    const qsizetype row = m_rows.rowOf(position);
    // In the byte view the caret stands in the gap before its byte's hex cell.
    const double x = m_rows.byteView() ? m_rows.xInRow(row, position) - 1 : m_rows.xInRow(row, position);
    m_painter.fillRect(QRectF(x - m_view.left, m_view.rowTop(row), ConsoleView::caretWidth, m_view.lineHeight),
                       m_colours.text());
}

void ConsolePainter::arrivalTimes(const QRect &area)
{
    m_painter.fillRect(area, m_colours.window());
    m_painter.setFont(m_look.font);
    m_painter.setPen(m_colours.color(QPalette::WindowText));
    for (qsizetype row = m_view.topRow; row < m_view.rowCount; ++row) {
        const int top = m_view.rowTop(row);
        if (top > area.bottom())
            break;
        const qsizetype line = m_rows.lineOfRow(row);
        const QTime arrived = m_buffer.lineArrival(line);
        if (m_rows.firstRowOf(line) == row && arrived.isValid())
            m_painter.drawText(QPointF(ConsoleView::margin, top + m_look.ascent),
                               arrived.toString(QStringLiteral("hh:mm:ss.zzz")));
    }
}
