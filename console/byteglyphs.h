#pragma once

#include <QByteArrayView>
#include <QFont>
#include <QPointF>
#include <QRawFont>

#include <array>
#include <vector>

class ConsoleBuffer;
class QPainter;

// Draws Windows-1254 bytes by their visible forms' glyphs, found once a byte: drawing glyphs
// directly spares the shaping of every line at every paint.
class ByteGlyphs
{
public:
    // Forgets the glyphs found in the font before.
    void setFont(const QFont &font);
    // Draws the buffer's characters from..to with the left end of their baseline at `origin`;
    // the buffer must be narrow (one byte a character).
    void draw(QPainter &painter, QPointF origin, const ConsoleBuffer &buffer, qsizetype from, qsizetype to);

private:
    // The font that has the byte's visible form (an index in m_fonts, -1 until first needed)
    // and its glyph there.
    struct Glyph
    {
        int font = -1;
        quint32 glyph = 0;
    };
    const Glyph &glyphOf(char byte);

    QFont m_font;
    std::array<Glyph, 256> m_glyphs;
    std::vector<QRawFont> m_fonts;
};
