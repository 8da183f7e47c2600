#pragma once

#include "byterows.h"
#include "consolebuffer.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>
#include <QRawFont>
#include <QElapsedTimer>
#include <QString>
#include <QStringView>
#include <QTimer>

#include <array>
#include <utility>
#include <vector>

class QMenu;
class QPainter;
class SteadyScrollBar;

// The received-data console. It keeps its text exactly (text()) in a line-indexed buffer and
// paints only what is in view, as a terminal does, so that neither a flood of lines nor one
// endless line slows it down. On screen a CR LF pair is a line break and every other control
// character a visible picture. The operator can edit the text; appending never moves the
// operator's caret, selection or view, except that a view at the end follows the new lines.
class ReceiveConsole : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ReceiveConsole(QWidget *parent = nullptr);

    QString text() const { return m_buffer.text(); }
    const ConsoleBuffer &buffer() const { return m_buffer; }
    void setCapacity(qsizetype characters) { m_buffer.setCapacity(characters); }
    void setText(const QString &text);
    // Received text reaches the screen, scroll bars included, at most once a frame: the first
    // arrival after a quiet frame at once, the rest together at the frame's end.
    void appendText(QStringView text);
    // Received bytes, each one character of the terminal's code page (Windows-1254).
    void appendBytes(QByteArrayView windows1254);
    // Shows what has arrived without waiting for the frame's end.
    void showArrivals();

    // The operator's caret and the other end of the selection, as positions in text().
    qsizetype caretPosition() const { return m_position; }
    qsizetype anchorPosition() const { return m_anchor; }
    void select(qsizetype anchor, qsizetype position);
    QString selectedText() const;

    void cut();
    void copy();
    // The byte view's text is about 8 bytes in memory for each byte it shows; a larger selection
    // is refused rather than held several times over by the clipboard and its readers.
    static constexpr qsizetype maxByteViewCopy = qsizetype(4) << 20;
    void paste();
    void selectAll();
    // Writes the text as the terminal's bytes (Windows-1254) to `path`, whole or not at all.
    bool saveTo(const QString &path, QString *error) const;
    // Asks the operator for a file and saves to it.
    void save();
    // Display choices, off at first. The byte view shows each character as its byte in hex
    // beside the character, and takes no edits; the arrival times show in a gutter on the left.
    bool showsBytes() const { return m_byteView; }
    void setShowsBytes(bool shown);
    bool showsArrivalTimes() const;
    void setShowsArrivalTimes(bool shown);
    void setClock(ConsoleBuffer::Clock clock) { m_buffer.setClock(std::move(clock)); }

    // The context menu, as QLineEdit's createStandardContextMenu: the caller owns it.
    QMenu *createContextMenu();

protected:
    void changeEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent *event) override;

private:
    enum class Motion { Left, Right, Up, Down, PageUp, PageDown, LineStart, LineEnd, TextStart, TextEnd };

    // Notes what the first arrival after a shown frame changes, before it is appended.
    void noteArrivals();
    void arrived(ConsoleBuffer::Dropped dropped);
    void takeFont();
    // Draws text()'s characters from..to with the left end of their baseline at `origin`;
    // the text must be narrow (one byte a character).
    void drawBytes(QPainter &painter, QPointF origin, qsizetype from, qsizetype to);
    void updateScrollBars();
    // The view's left edge in pixels; the scroll bar counts in steps of m_pixelsPerStep,
    // so that lines wider than an int of pixels can still be scrolled to their end.
    double horizontalOffset() const;
    void setHorizontalOffset(double pixels);
    int visibleLines() const;
    // How far from the left the lines in view now and before a move of `dy` lines reach.
    int drawnWidth(int dy);
    int lineHeight() const { return m_byteView ? m_byteLineHeight : m_textLineHeight; }
    // The view's rows: a line each in the text view, a line's bytes in rows of 16 in the byte view.
    qsizetype rowCount();
    qsizetype firstRowOf(qsizetype line);
    qsizetype lineOfRow(qsizetype row);
    qsizetype rowOf(qsizetype position);
    int rowTop(qsizetype row) const;
    // The rows that a part of the view shows, from the first to the one after the last.
    std::pair<qsizetype, qsizetype> rowsIn(const QRect &area);
    // Distance from the row's left end to the caret place before `position`, and back.
    double xInRow(qsizetype row, qsizetype position);
    qsizetype positionInRow(qsizetype row, double x);
    qsizetype positionAt(QPointF point);
    QByteArray rowBytes(qsizetype from, qsizetype to) const;
    void paintBytes(QPainter &painter, const QRegion &dirty);
    friend class ArrivalGutter;
    void paintGutter(QPaintEvent *event);
    void layoutGutter();
    void updateViews();

    bool hasSelection() const { return m_anchor != m_position; }
    qsizetype selectionStart() const { return std::min(m_anchor, m_position); }
    qsizetype selectionEnd() const { return std::max(m_anchor, m_position); }
    qsizetype previousPosition(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;

    void move(Motion motion, bool extend);
    void setCaret(qsizetype position, bool extend, bool keepColumn = false);
    void replaceSelection(QStringView with);
    void showCaret();
    void ensureCaretVisible();

    QFont m_font;
    QFont m_byteFont;
    double m_cellWidth = 1;
    double m_byteAscent = 0;
    int m_textLineHeight = 1;
    int m_byteLineHeight = 1;
    bool m_byteView = false;
    QWidget *m_gutter = nullptr;
    // How each byte is drawn: the font that has its visible form (an index in m_glyphFonts,
    // -1 until first needed) and its glyph there. Drawing glyphs directly spares the shaping
    // of every line at every paint.
    struct ByteGlyph
    {
        int font = -1;
        quint32 glyph = 0;
    };
    const ByteGlyph &glyphOf(char byte);
    std::array<ByteGlyph, 256> m_byteGlyphs;
    std::vector<QRawFont> m_glyphFonts;
    ConsoleBuffer m_buffer;
    // Rows are counted as they are first asked for, by const functions too.
    mutable ByteRows m_rows{m_buffer};
    double m_charWidth = 1;
    double m_pixelsPerStep = 1;
    double m_ascent = 0;
    qsizetype m_anchor = 0;
    qsizetype m_position = 0;
    // Where Up and Down aim, kept across short lines.
    double m_column = 0;
    bool m_selecting = false;
    bool m_caretShown = true;
    QBasicTimer m_blink;

    static constexpr int frameMilliseconds = 16;
    // The scroll bar's handle moves by a pixel now and then in a trickle, but drawing the bar
    // costs more than the new lines: it follows at a slower pace.
    static constexpr int scrollBarMilliseconds = 100;
    QTimer m_frame;
    QElapsedTimer m_sinceShown;
    SteadyScrollBar *m_verticalBar = nullptr;
    QTimer m_scrollBarFrame;
    QElapsedTimer m_sinceScrollBarShown;
    // What the arrivals not yet shown changed, as seen when the first of them came.
    struct Arrivals
    {
        bool pending = false;
        bool following = false;
        qsizetype changedLine = 0;
        double changedX = 0;
        qsizetype topLine = 0;
        qsizetype topRowInLine = 0;
        qsizetype droppedLines = 0;
    } m_arrivals;
    // Moves the view and its scroll bars to what the arrivals changed and marks it for painting.
    void follow(const Arrivals &arrivals);
    bool m_reindexing = false;
};
