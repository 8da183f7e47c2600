#include "byteglyphs.h"

#include "codepage.h"
#include "consolebuffer.h"
#include "consoletext.h"

#include <QGlyphRun>
#include <QPainter>
#include <QTextLayout>
#include <QVarLengthArray>

#include <algorithm>

void ByteGlyphs::setFont(const QFont &font)
{
    m_font = font;
    m_glyphs.fill({});
    m_fonts.clear();
}

const ByteGlyphs::Glyph &ByteGlyphs::glyphOf(char byte)
{
    Glyph &found = m_glyphs[quint8(byte)];
    if (found.font >= 0)
        return found;
    // Laid out alone, the character gets the font and glyph that a line of text would give it,
    // a fallback font included.
    QTextLayout layout(QString(consoletext::visibleForm(codepage::toUnicode(byte))), m_font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    const bool drawn = !runs.isEmpty() && !runs.front().glyphIndexes().isEmpty();
    const QRawFont font = drawn ? runs.front().rawFont() : QRawFont::fromFont(m_font);
    auto known = std::find(m_fonts.begin(), m_fonts.end(), font);
    if (known == m_fonts.end())
        known = m_fonts.insert(known, font);
    found.font = int(known - m_fonts.begin());
    found.glyph = drawn ? runs.front().glyphIndexes().front() : 0;
    return found;
}

void ByteGlyphs::draw(QPainter &painter, QPointF origin, const ConsoleBuffer &buffer, qsizetype from, qsizetype to)
{
    const QByteArrayView bytes = buffer.narrowText();
    QVarLengthArray<quint32, 256> glyphs;
    QVarLengthArray<QPointF, 256> positions;
    int font = -1;
    double x = 0;
    const auto drawRun = [&] {
        if (glyphs.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(m_fonts[size_t(font)]);
        run.setRawData(glyphs.constData(), positions.constData(), int(glyphs.size()));
        painter.drawGlyphRun(origin, run);
        glyphs.clear();
        positions.clear();
    };
    for (qsizetype p = from; p < to; ++p) {
        const Glyph &glyph = glyphOf(bytes[p]);
        if (glyph.font != font) {
            drawRun();
            font = glyph.font;
        }
        glyphs.append(glyph.glyph);
        positions.append(QPointF(x, 0));
        x += buffer.advance(bytes[p]);
    }
    drawRun();
}
