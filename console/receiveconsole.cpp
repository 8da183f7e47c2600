#include "receiveconsole.h"

#include "codepage.h"
#include "consoletext.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>

#include <memory>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextLayout>
#include <QVarLengthArray>
#include <QtMath>

#include <array>
#include <limits>
#include <utility>

namespace {

constexpr int margin = 4;
constexpr int caretWidth = 1;
// The smallest step a font engine keeps; any letter spacing turns ligatures off.
constexpr double ligatureBreak = 1.0 / 64;

// Without kerning and ligatures a line is as wide as the sum of its characters, so that each
// character is measured once, when it arrives, and never again.
QFont summableFont(QFont font)
{
    font.setKerning(false);
    font.setLetterSpacing(QFont::AbsoluteSpacing, ligatureBreak);
    return font;
}

ConsoleBuffer::Advance advances(const QFont &font)
{
    return [metrics = QFontMetricsF(font)](QChar ch) {
        return metrics.horizontalAdvance(QString(consoletext::visibleForm(ch)));
    };
}

} // namespace

// Draws itself again only when what it shows changes: in a trickle the range grows a line at
// a time while the handle stays on the same pixels, and drawing the bar costs more than the lines.
class SteadyScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // While held, changes are not drawn; release() draws them if they changed what is shown.
    void hold() { m_held = true; }
    void release()
    {
        m_held = false;
        if (look() != m_painted)
            update();
    }

protected:
    void sliderChange(SliderChange change) override
    {
        if (change == SliderOrientationChange || (!m_held && look() != m_painted))
            QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_painted = look();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look
    {
        QRect handle;
        bool atStart = false;
        bool atEnd = false;
        bool operator==(const Look &) const = default;
    };

    Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Look m_painted;
    bool m_held = false;
};

ReceiveConsole::ReceiveConsole(QWidget *parent)
    : QAbstractScrollArea(parent), m_font(summableFont(font())), m_buffer(advances(m_font))
{
    m_verticalBar = new SteadyScrollBar(Qt::Vertical, this);
    setVerticalScrollBar(m_verticalBar);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The area lays its bars out again on every change of their ranges, which repaints both
    // bars and the frame: in a trickle, once a line. Bars that are always there need no layout.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()})
        disconnect(bar, SIGNAL(rangeChanged(int,int)), this, SLOT(_q_showOrHideScrollBars()));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &ReceiveConsole::showArrivals);
    m_scrollBarFrame.setSingleShot(true);
    connect(&m_scrollBarFrame, &QTimer::timeout, this, [this] {
        m_sinceScrollBarShown.start();
        m_verticalBar->release();
    });
    takeFont();
}

void ReceiveConsole::setText(const QString &text)
{
    m_buffer.setText(text);
    m_arrivals = {};
    m_frame.stop();
    m_anchor = m_position = 0;
    m_column = 0;
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
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
    if (m_arrivals.pending)
        return;
    QScrollBar *vertical = verticalScrollBar();
    const qsizetype oldEnd = m_buffer.size();
    m_arrivals.pending = true;
    m_arrivals.following = vertical->value() == vertical->maximum();
    m_arrivals.changedLine = m_buffer.lineOf(oldEnd);
    // A CR at the old end stops being drawn when its LF arrives.
    m_arrivals.changedX = m_buffer.x(m_arrivals.changedLine,
                                     std::max(m_buffer.lineStart(m_arrivals.changedLine), oldEnd - 1));
}

void ReceiveConsole::arrived(ConsoleBuffer::Dropped dropped)
{
    // Positions in the dropped part go to the start of what is kept.
    m_position = std::max<qsizetype>(0, m_position - dropped.characters);
    m_anchor = std::max<qsizetype>(0, m_anchor - dropped.characters);
    m_arrivals.droppedLines += dropped.lines;
    // A caret after a CR would now stand inside the line break; it stays at the line's end.
    if (m_buffer.insideBreak(m_position))
        --m_position;
    if (m_buffer.insideBreak(m_anchor))
        --m_anchor;

    if (!m_sinceShown.isValid() || m_sinceShown.hasExpired(frameMilliseconds))
        showArrivals();
    else if (!m_frame.isActive())
        m_frame.start(int(frameMilliseconds - m_sinceShown.elapsed()));
}

void ReceiveConsole::showArrivals()
{
    if (!m_arrivals.pending)
        return;
    const Arrivals arrivals = std::exchange(m_arrivals, {});
    m_frame.stop();
    m_sinceShown.start();
    QScrollBar *vertical = verticalScrollBar();
    if (!m_sinceScrollBarShown.isValid() || m_sinceScrollBarShown.hasExpired(scrollBarMilliseconds)) {
        m_sinceScrollBarShown.start();
    } else if (!m_scrollBarFrame.isActive()) {
        m_verticalBar->hold();
        m_scrollBarFrame.start(int(scrollBarMilliseconds - m_sinceScrollBarShown.elapsed()));
    }
    if (arrivals.droppedLines > 0) {
        // The lines in view keep their place; only their numbers changed.
        const int kept = int(std::max<qsizetype>(0, vertical->value() - arrivals.droppedLines));
        m_reindexing = true;
        updateScrollBars();
        vertical->setValue(arrivals.following ? vertical->maximum() : kept);
        m_reindexing = false;
        viewport()->update();
        return;
    }
    updateScrollBars();
    if (arrivals.following && vertical->value() != vertical->maximum())
        vertical->setValue(vertical->maximum());
    const int top = lineTop(arrivals.changedLine);
    const bool inView = top < viewport()->height() && arrivals.changedLine >= vertical->value()
                        && margin + arrivals.changedX - horizontalOffset() < viewport()->width();
    if (inView)
        viewport()->update(0, top, viewport()->width(), viewport()->height() - top);
}

void ReceiveConsole::select(qsizetype anchor, qsizetype position)
{
    const qsizetype end = m_buffer.size();
    m_anchor = std::clamp<qsizetype>(anchor, 0, end);
    setCaret(std::clamp<qsizetype>(position, 0, end), true);
    if (m_buffer.insideBreak(m_anchor))
        --m_anchor;
}

QString ReceiveConsole::selectedText() const
{
    return m_buffer.mid(selectionStart(), selectionEnd() - selectionStart());
}

void ReceiveConsole::cut()
{
    if (!hasSelection())
        return;
    copy();
    replaceSelection({});
}

void ReceiveConsole::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void ReceiveConsole::paste()
{
    const QString pasted = QGuiApplication::clipboard()->text();
    if (!pasted.isEmpty())
        replaceSelection(pasted);
}

void ReceiveConsole::selectAll()
{
    m_anchor = 0;
    setCaret(m_buffer.size(), true);
}

void ReceiveConsole::takeFont()
{
    m_font = summableFont(font());
    m_byteGlyphs.fill({});
    m_glyphFonts.clear();
    const QFontMetricsF metrics(m_font);
    m_lineHeight = std::max(1, qCeil(metrics.height()));
    m_ascent = metrics.ascent();
    m_buffer.setAdvance(advances(m_font));
    m_charWidth = std::max(1.0, metrics.averageCharWidth());
    updateScrollBars();
    viewport()->update();
}

void ReceiveConsole::updateScrollBars()
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
    vertical->setRange(0, int(std::max<qsizetype>(0, m_buffer.lineCount() - visible)));
    QScrollBar *horizontal = horizontalScrollBar();
    const int width = viewport()->width();
    const double offsetRange = std::max(0.0, std::ceil(m_buffer.widestLine()) + 2 * margin + caretWidth - width);
    const double offset = horizontalOffset();
    m_pixelsPerStep = std::max(1.0, std::ceil(offsetRange / std::numeric_limits<int>::max()));
    horizontal->setRange(0, int(std::ceil(offsetRange / m_pixelsPerStep)));
    setSteps(horizontal, std::max(1, qRound(m_charWidth / m_pixelsPerStep)), std::max(1, int(width / m_pixelsPerStep)));
    setHorizontalOffset(offset);
}

double ReceiveConsole::horizontalOffset() const
{
    return horizontalScrollBar()->value() * m_pixelsPerStep;
}

void ReceiveConsole::setHorizontalOffset(double pixels)
{
    horizontalScrollBar()->setValue(int(std::clamp(std::round(pixels / m_pixelsPerStep), 0.0,
                                                   double(horizontalScrollBar()->maximum()))));
}

int ReceiveConsole::visibleLines() const
{
    return std::max(1, (viewport()->height() - margin) / m_lineHeight);
}

int ReceiveConsole::lineTop(qsizetype line) const
{
    return margin + int(line - verticalScrollBar()->value()) * m_lineHeight;
}

qsizetype ReceiveConsole::positionAt(QPointF point) const
{
    const qsizetype row = qFloor((point.y() - margin) / m_lineHeight);
    const qsizetype line = std::clamp<qsizetype>(verticalScrollBar()->value() + row, 0, m_buffer.lineCount() - 1);
    return m_buffer.positionAt(line, point.x() + horizontalOffset() - margin);
}

qsizetype ReceiveConsole::previousPosition(qsizetype position) const
{
    if (position == 0)
        return 0;
    return m_buffer.breakAt(position - 2) ? position - 2 : position - 1;
}

qsizetype ReceiveConsole::nextPosition(qsizetype position) const
{
    if (position >= m_buffer.size())
        return position;
    return m_buffer.breakAt(position) ? position + 2 : position + 1;
}

void ReceiveConsole::move(Motion motion, bool extend)
{
    const qsizetype line = m_buffer.lineOf(m_position);
    const qsizetype lastLine = m_buffer.lineCount() - 1;
    const auto onLine = [this](qsizetype target) {
        return m_buffer.positionAt(target, m_column);
    };
    switch (motion) {
    case Motion::Left:
        setCaret(hasSelection() && !extend ? selectionStart() : previousPosition(m_position), extend);
        break;
    case Motion::Right:
        setCaret(hasSelection() && !extend ? selectionEnd() : nextPosition(m_position), extend);
        break;
    case Motion::Up:
        setCaret(line > 0 ? onLine(line - 1) : m_position, extend, true);
        break;
    case Motion::Down:
        setCaret(line < lastLine ? onLine(line + 1) : m_position, extend, true);
        break;
    case Motion::PageUp:
        verticalScrollBar()->setValue(verticalScrollBar()->value() - visibleLines());
        setCaret(onLine(std::max<qsizetype>(0, line - visibleLines())), extend, true);
        break;
    case Motion::PageDown:
        verticalScrollBar()->setValue(verticalScrollBar()->value() + visibleLines());
        setCaret(onLine(std::min(lastLine, line + visibleLines())), extend, true);
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

void ReceiveConsole::setCaret(qsizetype position, bool extend, bool keepColumn)
{
    if (m_buffer.insideBreak(position))
        --position;
    m_position = position;
    if (!extend)
        m_anchor = position;
    if (!keepColumn)
        m_column = m_buffer.x(m_buffer.lineOf(position), position);
    showCaret();
    ensureCaretVisible();
    viewport()->update();
}

void ReceiveConsole::replaceSelection(QStringView with)
{
    const qsizetype start = selectionStart();
    m_buffer.replace(start, selectionEnd() - start, with);
    updateScrollBars();
    setCaret(start + with.size(), false);
}

void ReceiveConsole::showCaret()
{
    m_caretShown = true;
    if (m_blink.isActive())
        m_blink.start(QApplication::cursorFlashTime() / 2, this);
}

void ReceiveConsole::ensureCaretVisible()
{
    const qsizetype line = m_buffer.lineOf(m_position);
    QScrollBar *vertical = verticalScrollBar();
    if (line < vertical->value())
        vertical->setValue(int(line));
    else if (line >= vertical->value() + visibleLines())
        vertical->setValue(int(line) - visibleLines() + 1);

    const double x = margin + m_buffer.x(line, m_position);
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

bool ReceiveConsole::saveTo(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(m_buffer.windows1254()) == m_buffer.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

void ReceiveConsole::save()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Kaydet"));
    QString error;
    if (!path.isEmpty() && !saveTo(path, &error))
        QMessageBox::warning(this, QStringLiteral("Kaydet"), QStringLiteral("Kaydedilemedi: %1").arg(error));
}

QMenu *ReceiveConsole::createContextMenu()
{
    auto *menu = new QMenu(this);
    const auto add = [&](const char *text, QKeySequence::StandardKey key, bool enabled, auto action) {
        // The entries of Qt's own text boxes, so that Qt's translations name them as those do.
        QAction *item = menu->addAction(QCoreApplication::translate("QWidgetTextControl", text));
        item->setShortcut(key);
        item->setEnabled(enabled);
        connect(item, &QAction::triggered, this, action);
    };
    add("Cu&t", QKeySequence::Cut, hasSelection(), &ReceiveConsole::cut);
    add("&Copy", QKeySequence::Copy, hasSelection(), &ReceiveConsole::copy);
    add("&Paste", QKeySequence::Paste, !QGuiApplication::clipboard()->text().isEmpty(), &ReceiveConsole::paste);
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, m_buffer.size() > 0, &ReceiveConsole::selectAll);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Kaydet..."), this, &ReceiveConsole::save);
    return menu;
}

void ReceiveConsole::contextMenuEvent(QContextMenuEvent *event)
{
    const std::unique_ptr<QMenu> menu(createContextMenu());
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
    const qsizetype line = m_buffer.lineOf(m_position);
    viewport()->update(0, lineTop(line), viewport()->width(), m_lineHeight);
}

void ReceiveConsole::keyPressEvent(QKeyEvent *event)
{
    struct KeyMotion
    {
        QKeySequence::StandardKey key;
        Motion motion;
        bool extend;
    };
    static constexpr std::array<KeyMotion, 20> motions{{
        {QKeySequence::MoveToPreviousChar, Motion::Left, false},
        {QKeySequence::SelectPreviousChar, Motion::Left, true},
        {QKeySequence::MoveToNextChar, Motion::Right, false},
        {QKeySequence::SelectNextChar, Motion::Right, true},
        {QKeySequence::MoveToPreviousLine, Motion::Up, false},
        {QKeySequence::SelectPreviousLine, Motion::Up, true},
        {QKeySequence::MoveToNextLine, Motion::Down, false},
        {QKeySequence::SelectNextLine, Motion::Down, true},
        {QKeySequence::MoveToPreviousPage, Motion::PageUp, false},
        {QKeySequence::SelectPreviousPage, Motion::PageUp, true},
        {QKeySequence::MoveToNextPage, Motion::PageDown, false},
        {QKeySequence::SelectNextPage, Motion::PageDown, true},
        {QKeySequence::MoveToStartOfLine, Motion::LineStart, false},
        {QKeySequence::SelectStartOfLine, Motion::LineStart, true},
        {QKeySequence::MoveToEndOfLine, Motion::LineEnd, false},
        {QKeySequence::SelectEndOfLine, Motion::LineEnd, true},
        {QKeySequence::MoveToStartOfDocument, Motion::TextStart, false},
        {QKeySequence::SelectStartOfDocument, Motion::TextStart, true},
        {QKeySequence::MoveToEndOfDocument, Motion::TextEnd, false},
        {QKeySequence::SelectEndOfDocument, Motion::TextEnd, true},
    }};
    for (const KeyMotion &entry : motions) {
        if (event->matches(entry.key)) {
            move(entry.motion, entry.extend);
            return;
        }
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::Cut)) {
        cut();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
    } else if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier)) {
        if (!hasSelection())
            m_anchor = previousPosition(m_position);
        replaceSelection({});
    } else if (event->matches(QKeySequence::Delete)) {
        if (!hasSelection())
            m_anchor = nextPosition(m_position);
        replaceSelection({});
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        replaceSelection(u"\r\n");
    } else if (const QString typed = event->text();
               !typed.isEmpty() && typed.front().isPrint()
               && (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != Qt::ControlModifier) {
        replaceSelection(typed);
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

void ReceiveConsole::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setFont(m_font);
    const QPalette &colors = palette();
    const QRect dirty = event->rect();
    const double left = horizontalOffset();
    const double viewLeft = left - margin;
    const double viewRight = viewLeft + viewport()->width();
    const qsizetype selectedFrom = selectionStart();
    const qsizetype selectedTo = selectionEnd();

    const qsizetype first = verticalScrollBar()->value() + std::max(0, (dirty.top() - margin) / m_lineHeight);
    for (qsizetype line = first; line < m_buffer.lineCount(); ++line) {
        const int top = lineTop(line);
        if (top > dirty.bottom())
            break;
        const qsizetype end = m_buffer.lineEnd(line);
        const qsizetype from = m_buffer.positionBefore(line, viewLeft);
        const qsizetype to = std::min(end, m_buffer.positionBefore(line, viewRight) + 1);
        // The line in up to three runs: before, inside and after the selection.
        const std::array<qsizetype, 4> cuts{from, std::clamp(selectedFrom, from, to), std::clamp(selectedTo, from, to), to};
        double x = m_buffer.x(line, from) - viewLeft;
        for (size_t run = 0; run < 3; ++run) {
            const qsizetype length = cuts[run + 1] - cuts[run];
            if (length == 0)
                continue;
            const double width = m_buffer.x(line, cuts[run + 1]) - m_buffer.x(line, cuts[run]);
            const bool selected = run == 1;
            if (selected)
                painter.fillRect(QRectF(x, top, width, m_lineHeight), colors.highlight());
            painter.setPen(colors.color(selected ? QPalette::HighlightedText : QPalette::Text));
            if (m_buffer.isNarrow())
                drawBytes(painter, QPointF(x, top + m_ascent), cuts[run], cuts[run + 1]);
            else
                painter.drawText(QPointF(x, top + m_ascent), consoletext::displayText(m_buffer.mid(cuts[run], length)));
            x += width;
        }
        // A selected line break shows as a little selected space after the line.
        if (end < m_buffer.size() && selectedFrom <= end && selectedTo > end) {
            const double breakX = m_buffer.x(line, end) - viewLeft;
            painter.fillRect(QRectF(breakX, top, m_buffer.advance(u' '), m_lineHeight), colors.highlight());
        }
    }

    if (hasFocus() && m_caretShown) {
        const qsizetype line = m_buffer.lineOf(m_position);
        const double x = m_buffer.x(line, m_position) - viewLeft;
        painter.fillRect(QRectF(x, lineTop(line), caretWidth, m_lineHeight), colors.text());
    }
}

const ReceiveConsole::ByteGlyph &ReceiveConsole::glyphOf(char byte)
{
    ByteGlyph &found = m_byteGlyphs[quint8(byte)];
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
    auto known = std::find(m_glyphFonts.begin(), m_glyphFonts.end(), font);
    if (known == m_glyphFonts.end())
        known = m_glyphFonts.insert(known, font);
    found.font = int(known - m_glyphFonts.begin());
    found.glyph = drawn ? runs.front().glyphIndexes().front() : 0;
    return found;
}

void ReceiveConsole::drawBytes(QPainter &painter, QPointF origin, qsizetype from, qsizetype to)
{
    const QByteArrayView bytes = m_buffer.narrowText();
    QVarLengthArray<quint32, 256> glyphs;
    QVarLengthArray<QPointF, 256> positions;
    int font = -1;
    double x = 0;
    const auto drawRun = [&] {
        if (glyphs.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(m_glyphFonts[size_t(font)]);
        run.setRawData(glyphs.constData(), positions.constData(), int(glyphs.size()));
        painter.drawGlyphRun(origin, run);
        glyphs.clear();
        positions.clear();
    };
    for (qsizetype p = from; p < to; ++p) {
        const ByteGlyph &glyph = glyphOf(bytes[p]);
        if (glyph.font != font) {
            drawRun();
            font = glyph.font;
        }
        glyphs.append(glyph.glyph);
        positions.append(QPointF(x, 0));
        x += m_buffer.advance(bytes[p]);
    }
    drawRun();
}

void ReceiveConsole::scrollContentsBy(int dx, int dy)
{
    if (m_reindexing)
        return;
    // Moving what is drawn leaves only the uncovered lines to paint, as a terminal does.
    const double pixels = dx * m_pixelsPerStep;
    if (std::abs(pixels) < viewport()->width() && std::abs(dy) < visibleLines()) {
        viewport()->scroll(int(pixels), dy * m_lineHeight);
        // The top margin shows no line, but the move brought part of one there.
        if (dy != 0)
            viewport()->update(0, 0, viewport()->width(), margin);
    } else
        viewport()->update();
}

void ReceiveConsole::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}
