#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QTime>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

// The console's text and the index of its lines. The text is kept exactly as it came, one byte
// a character in the terminal's code page (Windows-1254) for as long as every character has a
// byte there, and as UTF-16 from the first one that has none (the operator may paste any). A line
// ends only at a CR LF pair, which belongs to the line it ends. Every line knows its width on
// screen, and a long line carries a mark every `markSpacing` characters, so that finding a
// point on it walks a few hundred characters at most, however long the line is. Changes at
// the end (received data) cost only what they add.
class ConsoleBuffer
{
public:
    // The width of one character of the text as the console shows it.
    using Advance = std::function<double(QChar)>;

    static constexpr qsizetype markSpacing = 256;
    // Like a terminal's scroll-back: at least this many of the newest characters are kept.
    static constexpr qsizetype defaultCapacity = 32 * 1024 * 1024;

    // What an append dropped from the start of the text to stay within the capacity.
    struct Dropped
    {
        qsizetype characters = 0;
        qsizetype lines = 0;
    };

    explicit ConsoleBuffer(Advance advance);

    QString text() const;
    qsizetype size() const { return m_wide ? m_wideText.size() : m_bytes.size(); }
    // While every character has a byte in the code page, the text is these bytes.
    bool isNarrow() const { return !m_wide; }
    QByteArrayView narrowText() const { return m_bytes; }
    // The text as the terminal's bytes, CR LF as received; a character without a byte is '?'.
    QByteArray windows1254() const;
    QChar at(qsizetype position) const;
    QString mid(qsizetype position, qsizetype length) const;
    void setText(QStringView text);
    // Appends, then drops the oldest whole lines beyond the capacity. Trimming waits until an
    // eighth of the capacity is over, so that its cost is spread over many appends.
    Dropped append(QStringView text);
    // Appends received bytes, each one character of the code page.
    Dropped appendBytes(QByteArrayView windows1254);
    // Replaces `length` characters at `position` with `with`.
    void replace(qsizetype position, qsizetype length, QStringView with);
    // Measures every line again, as after a change of font.
    void setAdvance(Advance advance);

    // Where the time of day comes from when a line gets its first character: a time of day
    // only, unlike link/'s Clock, which tells the date too.
    using TimeOfDaySource = std::function<QTime()>;
    void setClock(TimeOfDaySource timeOfDay) { m_timeOfDay = std::move(timeOfDay); }
    // When the line's first character came; invalid for an empty last line.
    QTime lineArrival(qsizetype line) const;

    qsizetype capacity() const { return m_capacity; }
    void setCapacity(qsizetype characters) { m_capacity = std::max<qsizetype>(1, characters); }

    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    qsizetype lineStart(qsizetype line) const { return m_lines[size_t(line)].start; }
    // Where the line's characters end: at its CR LF pair, or at the end of the text.
    qsizetype lineEnd(qsizetype line) const;
    // The line that holds `position`; a line break's two positions belong to the line it ends.
    qsizetype lineOf(qsizetype position) const;
    double lineWidth(qsizetype line) const { return widthOf(m_lines[size_t(line)]); }
    double widestLine() const { return m_widest; }

    // Between the CR and the LF of a line break, where no caret may stand.
    bool insideBreak(qsizetype position) const;
    bool breakAt(qsizetype position) const;

    // Distance from the start of `line` to `position` on it (lineStart..lineEnd).
    double x(qsizetype line, qsizetype position) const;
    // The last position on `line` whose distance from the line's start is at most `x`.
    qsizetype positionBefore(qsizetype line, double x) const;
    // The position on `line` nearest to `x`.
    qsizetype positionAt(qsizetype line, double x) const;

    double advance(QChar ch) const
    {
        const float width = m_advances[ch.unicode()];
        return width >= 0 ? width : firstAdvance(ch);
    }
    double advance(char byte) const
    {
        const float width = m_byteAdvances[quint8(byte)];
        return width >= 0 ? width : firstAdvance(byte);
    }

private:
    struct Line
    {
        qsizetype start = 0;
        // The width after the line's last mark: all of it on a short line. A float holds a
        // sum of a few hundred advances exactly and keeps a line's entry at 16 bytes.
        float tailWidth = 0;
        // When its first character came, in milliseconds since midnight.
        qint32 arrived = 0;
    };
    double widthOf(const Line &line) const;

    const std::vector<double> &marksOf(const Line &line) const;
    // Moves the marks of the lines starting at `from` or later along with their lines.
    void shiftMarks(qsizetype from, qsizetype delta);
    double firstAdvance(QChar ch) const;
    double firstAdvance(char byte) const;
    // Calls `use` with the stored characters: const char * or const QChar *.
    template <typename Use>
    decltype(auto) withText(Use &&use) const
    {
        return m_wide ? use(m_wideText.constData()) : use(m_bytes.constData());
    }
    template <typename Text, typename Piece>
    void replaceIn(Text &text, qsizetype position, qsizetype length, Piece with);
    void widen();
    void measure(Line &line, qsizetype end, qsizetype from);
    void measureWidest();
    Dropped trimIfOver();
    Dropped trim();

    Advance m_advance;
    // One width per UTF-16 code and per byte, taken from m_advance the first time it is needed.
    mutable std::vector<float> m_advances;
    mutable std::vector<float> m_byteAdvances;
    QByteArray m_bytes;
    QString m_wideText;
    bool m_wide = false;
    std::vector<Line> m_lines = std::vector<Line>(1);
    // By line start: marks[j] is the distance to the character at start + (j + 1) * markSpacing.
    // Only long lines have marks; keeping them aside keeps the many short lines small.
    std::map<qsizetype, std::vector<double>> m_marks;
    TimeOfDaySource m_timeOfDay = &QTime::currentTime;
    double m_widest = 0;
    qsizetype m_capacity = defaultCapacity;
};
