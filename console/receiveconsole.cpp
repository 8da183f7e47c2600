#include "receiveconsole.h"

#include "consolemenu.h"
#include "consoletext.h"
#include "savefile.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QtMath>

#include <limits>
#include <memory>

namespace {

constexpr int margin = ConsoleView::margin;
constexpr int caretWidth = ConsoleView::caretWidth;

} // namespace

// The strip left of the view with each line's arrival time.
class ArrivalGutter : public QWidget
{
public:
    explicit ArrivalGutter(ReceiveConsole *console) : QWidget(console), m_console(console) {}

protected:
    void paintEvent(QPaintEvent *event) override { m_console->paintGutter(event); }

private:
    ReceiveConsole *m_console;
};

ReceiveConsole::ReceiveConsole(QWidget *parent)
    : QAbstractScrollArea(parent), m_look(ConsoleLook::of(font())), m_buffer(m_look.advance())
{
    m_verticalBar = new SteadyScrollBar(Qt::Vertical, this);
    setVerticalScrollBar(m_verticalBar);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The area lays its bars out again on every change of their ranges, which repaints both
    // bars and the frame: in a trickle, once a line. Bars that are always there need no layout.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()})
        disconnect(bar, SIGNAL(rangeChanged(int, int)), this, SLOT(_q_showOrHideScrollBars()));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    m_pacer = new ArrivalPacer(m_verticalBar, [this] { follow(std::exchange(m_arrivals, {})); });
    m_pacer->setParent(this);
    m_gutter = new ArrivalGutter(this);
    m_gutter->hide();
    takeFont();
}

void ReceiveConsole::setText(const QString &text)
{
    m_buffer.setText(text);
    m_rows.changedFrom(0);
    m_arrivals = {};
    m_pacer->clear();
    m_cursor.reset();
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateViews();
}

void ReceiveConsole::appendText(QStringView text)
{
    if (text.isEmpty())
        return;
    noteArrivals();
    arrived(m_buffer.append(text));
}

void ReceiveConsole::appendBytes(QByteArrayView windows1254)
{
    if (windows1254.isEmpty())
        return;
    noteArrivals();
    arrived(m_buffer.appendBytes(windows1254));
}

void ReceiveConsole::noteArrivals()
{
    // Appending changes the last line and adds lines after it.
    m_rows.changedFrom(m_buffer.lineCount() - 1);
    if (m_pacer->pending())
        return;
    QScrollBar *vertical = verticalScrollBar();
    const qsizetype oldEnd = m_buffer.size();
    m_arrivals.following = vertical->value() == vertical->maximum();
    m_arrivals.changedLine = m_buffer.lineOf(oldEnd);
    // A CR at the old end stops being drawn when its LF arrives.
    m_arrivals.changedX =
        m_buffer.x(m_arrivals.changedLine, std::max(m_buffer.lineStart(m_arrivals.changedLine), oldEnd - 1));
    m_arrivals.topLine = m_rows.lineOfRow(vertical->value());
    m_arrivals.topRowInLine = vertical->value() - m_rows.firstRowOf(m_arrivals.topLine);
}

void ReceiveConsole::arrived(ConsoleBuffer::Dropped dropped)
{
    m_cursor.appended(dropped.characters);
    m_arrivals.droppedLines += dropped.lines;
    if (dropped.lines > 0)
        m_rows.changedFrom(0);
    m_pacer->arrived();
}

void ReceiveConsole::showArrivals()
{
    m_pacer->showNow();
}

void ReceiveConsole::follow(const Arrivals &arrivals)
{
    QScrollBar *vertical = verticalScrollBar();
    if (arrivals.droppedLines > 0 || m_rows.byteView()) {
        // The lines in view keep their place; only their numbers changed.
        const qsizetype topLine = arrivals.topLine - arrivals.droppedLines;
        const qsizetype kept = topLine < 0 ? 0 : m_rows.firstRowOf(topLine) + arrivals.topRowInLine;
        m_reindexing = true;
        updateScrollBars();
        vertical->setValue(arrivals.following ? vertical->maximum() : int(kept));
        m_reindexing = false;
        updateViews();
        return;
    }
    if (arrivals.following) {
        // In a trickle new lines land in blank rows below the end, and when those are used up
        // the view moves by a third of itself: moving it a line a frame costs the display a
        // copy of the whole view each frame. A flood goes to the end, as it repaints anyway.
        const qsizetype end = std::max<qsizetype>(0, m_rows.count() - visibleLines());
        const qsizetype jump = std::max(1, visibleLines() / 3);
        const qsizetype behind = end - vertical->value();
        updateScrollBars(behind <= 0 ? -behind : behind < jump ? jump : 0);
        if (vertical->value() != vertical->maximum())
            vertical->setValue(vertical->maximum());
    } else {
        updateScrollBars();
    }
    m_gutter->update();
    const int top = rowTop(arrivals.changedLine);
    const bool inView = top < viewport()->height() && arrivals.changedLine >= vertical->value()
                        && margin + arrivals.changedX - horizontalOffset() < viewport()->width();
    if (inView)
        viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
}

void ReceiveConsole::select(qsizetype anchor, qsizetype position)
{
    m_cursor.select(anchor, position);
    caretMoved();
}

QString ReceiveConsole::selectedText() const
{
    return m_buffer.mid(m_cursor.selectionStart(), m_cursor.selectionEnd() - m_cursor.selectionStart());
}

void ReceiveConsole::cut()
{
    if (!m_cursor.hasSelection() || m_rows.byteView())
        return;
    copy();
    replaceSelection({});
}

void ReceiveConsole::copy()
{
    if (!m_cursor.hasSelection())
        return;
    if (!m_rows.byteView()) {
        QGuiApplication::clipboard()->setText(selectedText());
        return;
    }
    const qsizetype bytes = m_cursor.selectionEnd() - m_cursor.selectionStart();
    if (bytes > maxByteViewCopy) {
        const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
        QMessageBox::warning(this, QStringLiteral("Kopyala"),
                             QStringLiteral("Kopyalanamadı: onaltılık görünümde en çok %1 MiB kopyalanabilir, seçim %2 MiB. "
                                            "Metnin tamamı için \"Kaydet...\" kullanın.")
                                 .arg(maxByteViewCopy >> 20)
                                 .arg(turkish.toString(double(bytes) / (1 << 20), 'f', 1)));
        return;
    }
    QGuiApplication::clipboard()->setText(m_rows.byteViewText(m_cursor.selectionStart(), m_cursor.selectionEnd()));
}

void ReceiveConsole::deleteSelection()
{
    if (m_cursor.hasSelection() && !m_rows.byteView())
        replaceSelection({});
}

void ReceiveConsole::paste()
{
    if (m_rows.byteView())
        return;
    const QString pasted = QGuiApplication::clipboard()->text();
    if (!pasted.isEmpty())
        replaceSelection(pasted);
}

void ReceiveConsole::selectAll()
{
    m_cursor.selectAll();
    caretMoved();
}

void ReceiveConsole::takeFont()
{
    m_look = ConsoleLook::of(font());
    m_glyphs.setFont(m_look.font);
    m_buffer.setAdvance(m_look.advance());
    m_rows.setCellWidth(m_look.cellWidth);
    layoutGutter();
    updateScrollBars();
    updateViews();
}

void ReceiveConsole::updateViews()
{
    viewport()->update();
    m_gutter->update();
}

void ReceiveConsole::setShowsBytes(bool shown)
{
    if (shown == m_rows.byteView())
        return;
    QScrollBar *vertical = verticalScrollBar();
    const bool following = vertical->value() == vertical->maximum();
    const qsizetype topLine = m_rows.lineOfRow(vertical->value());
    m_rows.setByteView(shown);
    m_reindexing = true;
    updateScrollBars();
    vertical->setValue(following ? vertical->maximum() : int(m_rows.firstRowOf(topLine)));
    m_reindexing = false;
    m_cursor.takeColumn();
    updateViews();
}

bool ReceiveConsole::showsArrivalTimes() const
{
    return !m_gutter->isHidden();
}

void ReceiveConsole::setShowsArrivalTimes(bool shown)
{
    m_gutter->setVisible(shown);
    layoutGutter();
    updateScrollBars();
    updateViews();
}

void ReceiveConsole::layoutGutter()
{
    const int width = showsArrivalTimes()
                          ? qCeil(QFontMetricsF(m_look.font).horizontalAdvance(QStringLiteral("00:00:00.000"))) + 2 * margin
                          : 0;
    setViewportMargins(width, 0, 0, 0);
    const QRect view = viewport()->geometry();
    m_gutter->setGeometry(view.left() - width, view.top(), width, view.height());
}

void ReceiveConsole::paintGutter(QPaintEvent *event)
{
    QPainter painter(m_gutter);
    const ConsoleView shown = view();
    ConsolePainter(painter, shown, m_look, palette(), m_buffer, m_rows).arrivalTimes(event->rect());
}

void ReceiveConsole::updateScrollBars(qsizetype blankRows)
{
    // A scroll bar repaints on every change of its steps, even to the same values.
    const auto setSteps = [](QScrollBar *bar, int single, int page) {
        if (bar->singleStep() != single)
            bar->setSingleStep(single);
        if (bar->pageStep() != page)
            bar->setPageStep(page);
    };
    const int visible = visibleLines();
    QScrollBar *vertical = verticalScrollBar();
    setSteps(vertical, vertical->singleStep(), visible);
    vertical->setRange(0, int(std::max<qsizetype>(0, m_rows.count() - visible) + blankRows));
    QScrollBar *horizontal = horizontalScrollBar();
    const int width = viewport()->width();
    const double widest = m_rows.byteView()
                              ? double(consoletext::byteRowTextColumn + consoletext::bytesPerRow) * m_rows.cellWidth()
                              : m_buffer.widestLine();
    const double offsetRange = std::max(0.0, std::ceil(widest) + 2 * margin + caretWidth - width);
    const double offset = horizontalOffset();
    m_pixelsPerStep = std::max(1.0, std::ceil(offsetRange / std::numeric_limits<int>::max()));
    horizontal->setRange(0, int(std::ceil(offsetRange / m_pixelsPerStep)));
    setSteps(horizontal, std::max(1, qRound(m_look.charWidth / m_pixelsPerStep)), std::max(1, int(width / m_pixelsPerStep)));
    setHorizontalOffset(offset);
}

double ReceiveConsole::horizontalOffset() const
{
    return horizontalScrollBar()->value() * m_pixelsPerStep;
}

void ReceiveConsole::setHorizontalOffset(double pixels)
{
    horizontalScrollBar()->setValue(
        int(std::clamp(std::round(pixels / m_pixelsPerStep), 0.0, double(horizontalScrollBar()->maximum()))));
}

int ReceiveConsole::visibleLines() const
{
    return std::max(1, (viewport()->height() - margin) / lineHeight());
}

int ReceiveConsole::rowTop(qsizetype row) const
{
    return margin + int(row - verticalScrollBar()->value()) * lineHeight();
}

qsizetype ReceiveConsole::positionAt(QPointF point)
{
    const qsizetype row = std::clamp<qsizetype>(verticalScrollBar()->value() + qFloor((point.y() - margin) / lineHeight()),
                                                0, m_rows.count() - 1);
    return m_rows.positionInRow(row, point.x() + horizontalOffset() - margin);
}

void ReceiveConsole::setCaret(qsizetype position, bool extend, bool keepColumn)
{
    m_cursor.setCaret(position, extend, keepColumn);
    caretMoved();
}

void ReceiveConsole::caretMoved()
{
    showCaret();
    ensureCaretVisible();
    viewport()->update();
}

void ReceiveConsole::replaceSelection(QStringView with)
{
    m_cursor.replaceSelection(with);
    edited();
}

void ReceiveConsole::edited()
{
    updateScrollBars();
    m_gutter->update();
    caretMoved();
}

void ReceiveConsole::showCaret()
{
    m_caretShown = true;
    if (m_blink.isActive())
        m_blink.start(QApplication::cursorFlashTime() / 2, this);
}

void ReceiveConsole::ensureCaretVisible()
{
    const qsizetype row = m_rows.rowOf(m_cursor.position());
    QScrollBar *vertical = verticalScrollBar();
    if (row < vertical->value())
        vertical->setValue(int(row));
    else if (row >= vertical->value() + visibleLines())
        vertical->setValue(int(row) - visibleLines() + 1);

    const double x = margin + m_rows.xInRow(row, m_cursor.position());
    const double left = horizontalOffset();
    const int width = viewport()->width();
    if (x < left + margin)
        setHorizontalOffset(std::floor(x) - margin);
    else if (x + caretWidth > left + width - margin)
        setHorizontalOffset(std::ceil(x) + caretWidth - width + margin);
}

void ReceiveConsole::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        takeFont();
}

std::optional<QString> ReceiveConsole::saveTo(const QString &path) const
{
    return saveWhole(path, m_buffer.windows1254());
}

void ReceiveConsole::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu(createConsoleMenu(*this));
    menu->exec(event->globalPos());
}

void ReceiveConsole::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    if (QApplication::cursorFlashTime() > 0)
        m_blink.start(QApplication::cursorFlashTime() / 2, this);
    m_caretShown = true;
    viewport()->update();
}

void ReceiveConsole::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    viewport()->update();
}

void ReceiveConsole::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(0, rowTop(m_rows.rowOf(m_cursor.position())), viewport()->width(), lineHeight());
}

void ReceiveConsole::keyPressEvent(QKeyEvent *event)
{
    if (const auto motion = ConsoleCursor::motionOf(*event)) {
        // A page up or down moves the view by a page, and the caret with it.
        QScrollBar *vertical = verticalScrollBar();
        if (motion->motion == ConsoleCursor::Motion::PageUp)
            vertical->setValue(vertical->value() - visibleLines());
        else if (motion->motion == ConsoleCursor::Motion::PageDown)
            vertical->setValue(vertical->value() + visibleLines());
        m_cursor.move(motion->motion, motion->extend, visibleLines());
        caretMoved();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (m_rows.byteView()) {
        // The byte view only shows the text; edits belong to the text view.
        QAbstractScrollArea::keyPressEvent(event);
    } else if (m_cursor.edit(*event)) {
        edited();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void ReceiveConsole::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_selecting = true;
    setCaret(positionAt(event->position()), event->modifiers() & Qt::ShiftModifier);
}

void ReceiveConsole::mouseMoveEvent(QMouseEvent *event)
{
    if (m_selecting && (event->buttons() & Qt::LeftButton))
        setCaret(positionAt(event->position()), true);
}

void ReceiveConsole::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_selecting = false;
    else
        QAbstractScrollArea::mouseReleaseEvent(event);
}

ConsoleView ReceiveConsole::view()
{
    return {verticalScrollBar()->value(), m_rows.count(), lineHeight(), horizontalOffset() - margin, viewport()->width()};
}

void ReceiveConsole::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const ConsoleView shown = view();
    ConsolePainter paint(painter, shown, m_look, palette(), m_buffer, m_rows);
    if (m_rows.byteView())
        paint.bytes(event->region(), m_cursor.selectionStart(), m_cursor.selectionEnd());
    else
        paint.text(event->region(), m_cursor.selectionStart(), m_cursor.selectionEnd(), m_glyphs);
    if (hasFocus() && m_caretShown)
        paint.caret(m_cursor.position());
}

void ReceiveConsole::scrollContentsBy(int dx, int dy)
{
    if (m_reindexing)
        return;
    // Moving what is drawn leaves only the uncovered lines to paint, as a terminal does.
    const double pixels = dx * m_pixelsPerStep;
    if (dy != 0)
        m_gutter->update();
    if (std::abs(pixels) < viewport()->width() && std::abs(dy) < visibleLines()) {
        // The top margin shows no line, and the blank beyond the widest line in view is blank
        // after an up or down move too: neither is moved.
        const int moved = dx == 0 ? drawnWidth(dy) : viewport()->width();
        viewport()->scroll(int(pixels), dy * lineHeight(), QRect(0, margin, moved, viewport()->height() - margin));
    } else
        viewport()->update();
}

int ReceiveConsole::drawnWidth(int dy)
{
    if (m_rows.byteView())
        return viewport()->width();
    const auto [first, end] = view().rowsIn(viewport()->rect());
    double widest = 0;
    const qsizetype from = std::max<qsizetype>(0, first + std::min(dy, 0));
    const qsizetype to = std::min(m_rows.count(), end + std::max(dy, 0));
    for (qsizetype line = from; line < to; ++line)
        widest = std::max(widest, m_buffer.lineWidth(line));
    // A glyph may reach a little past its advance; a selected line break and the caret go past
    // the line's end.
    const double right = margin - horizontalOffset() + widest + m_buffer.advance(u' ') + m_look.charWidth + caretWidth;
    return std::clamp(int(std::ceil(right)), 0, viewport()->width());
}

void ReceiveConsole::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutGutter();
    updateScrollBars();
}
