#pragma once

#include "arrivalpacer.h"
#include "byteglyphs.h"
#include "consolebuffer.h"
#include "consolecursor.h"
#include "consolepainter.h"
#include "consolerows.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>


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
    qsizetype caretPosition() const { return m_cursor.position(); }
    qsizetype anchorPosition() const { return m_cursor.anchor(); }
    void select(qsizetype anchor, qsizetype position);
    QString selectedText() const;
    bool hasSelection() const { return m_cursor.hasSelection(); }

    void cut();
    void copy();
    // The byte view's text is about 8 bytes in memory for each byte it shows; a larger selection
    // is refused rather than held several times over by the clipboard and its readers.
    static constexpr qsizetype maxByteViewCopy = qsizetype(4) << 20;
    void paste();
    void deleteSelection();
    void selectAll();
    // Writes the text as the terminal's bytes (Windows-1254) to `path`, whole or not at all;
    // on failure, says why in the operator's words.
    std::optional<QString> saveTo(const QString &path) const;
    // Display choices, off at first. The byte view shows each character as its byte in hex
    // beside the character, and takes no edits; the arrival times show in a gutter on the left.
    bool showsBytes() const { return m_rows.byteView(); }
    void setShowsBytes(bool shown);
    bool showsArrivalTimes() const;
    void setShowsArrivalTimes(bool shown);
    void setClock(ConsoleBuffer::TimeOfDaySource timeOfDay) { m_buffer.setClock(std::move(timeOfDay)); }


signals:
    // The operator chose "Kaydet..." in the context menu.
    void saveRequested();

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
    // Notes what the first arrival after a shown frame changes, before it is appended.
    void noteArrivals();
    void arrived(ConsoleBuffer::Dropped dropped);
    void takeFont();
    // `blankRows` lets a view that follows the end show that many rows below it.
    void updateScrollBars(qsizetype blankRows = 0);
    // The view's left edge in pixels; the scroll bar counts in steps of m_pixelsPerStep,
    // so that lines wider than an int of pixels can still be scrolled to their end.
    double horizontalOffset() const;
    void setHorizontalOffset(double pixels);
    int visibleLines() const;
    // How far from the left the lines in view now and before a move of `dy` lines reach.
    int drawnWidth(int dy);
    int lineHeight() const { return m_rows.byteView() ? m_look.byteLineHeight : m_look.lineHeight; }
    int rowTop(qsizetype row) const;
    qsizetype positionAt(QPointF point);
    ConsoleView view();
    friend class ArrivalGutter;
    void paintGutter(QPaintEvent *event);
    void layoutGutter();
    void updateViews();

    void setCaret(qsizetype position, bool extend, bool keepColumn = false);
    void replaceSelection(QStringView with);
    // Shows the text and the caret after an edit.
    void edited();
    // Shows the caret where the cursor now is.
    void caretMoved();
    void showCaret();
    void ensureCaretVisible();

    ConsoleLook m_look;
    QWidget *m_gutter = nullptr;
    ByteGlyphs m_glyphs;
    ConsoleBuffer m_buffer;
    // Rows are counted as they are first asked for, by const functions too.
    mutable ConsoleRows m_rows{m_buffer};
    ConsoleCursor m_cursor{m_buffer, m_rows};
    double m_pixelsPerStep = 1;
    bool m_selecting = false;
    bool m_caretShown = true;
    QBasicTimer m_blink;

    SteadyScrollBar *m_verticalBar = nullptr;
    // What the arrivals not yet shown changed, as seen when the first of them came.
    struct Arrivals
    {
        bool following = false;
        qsizetype changedLine = 0;
        double changedX = 0;
        qsizetype topLine = 0;
        qsizetype topRowInLine = 0;
        qsizetype droppedLines = 0;
    } m_arrivals;
    ArrivalPacer *m_pacer = nullptr;
    // Moves the view and its scroll bars to what the arrivals changed and marks it for painting.
    void follow(const Arrivals &arrivals);
    bool m_reindexing = false;
};
