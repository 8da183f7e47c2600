#include "receiveconsole.h"

#include "codepage.h"
#include "consoletext.h"
#include "fileerror.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTextLayout>
#include <QVarLengthArray>
#include <QtMath>

#include <array>
#include <limits>
#include <memory>
#include <cerrno>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

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

// What is left of a frame that began when `since` started. The clock is read once: read twice, it
// could pass the frame's end between the reads and leave a timer of negative length that never runs.
// A link that reads once a frame comes back just as its frame ends, and is shown at once.
qint64 frameLeft(const QElapsedTimer &since, int frameMilliseconds)
{
    return since.isValid() ? frameMilliseconds - since.elapsed() : 0;
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
    m_gutter = new ArrivalGutter(this);
    m_gutter->hide();
    takeFont();
}

void ReceiveConsole::setText(const QString &text)
{
    m_buffer.setText(text);
    m_rows.changedFrom(0);
    m_arrivals = {};
    m_frame.stop();
    m_anchor = m_position = 0;
    m_column = 0;
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
    m_arrivals.topLine = lineOfRow(vertical->value());
    m_arrivals.topRowInLine = vertical->value() - firstRowOf(m_arrivals.topLine);
}

void ReceiveConsole::arrived(ConsoleBuffer::Dropped dropped)
{
    // Positions in the dropped part go to the start of what is kept.
    m_position = std::max<qsizetype>(0, m_position - dropped.characters);
    m_anchor = std::max<qsizetype>(0, m_anchor - dropped.characters);
    m_arrivals.droppedLines += dropped.lines;
    if (dropped.lines > 0)
        m_rows.changedFrom(0);
    // A caret after a CR would now stand inside the line break; it stays at the line's end.
    if (m_buffer.insideBreak(m_position))
        --m_position;
    if (m_buffer.insideBreak(m_anchor))
        --m_anchor;

    if (const qint64 left = frameLeft(m_sinceShown, frameMilliseconds); left <= 0)
        showArrivals();
    else if (!m_frame.isActive())
        m_frame.start(int(left));
}

void ReceiveConsole::showArrivals()
{
    if (!m_arrivals.pending)
        return;
    const Arrivals arrivals = std::exchange(m_arrivals, {});
    m_frame.stop();
    m_sinceShown.start();
    // The bar is drawn, if at all, as the arrivals leave it, not at each step of the way there.
    m_verticalBar->hold();
    follow(arrivals);
    if (const qint64 left = frameLeft(m_sinceScrollBarShown, scrollBarMilliseconds); left <= 0) {
        m_scrollBarFrame.stop();
        m_sinceScrollBarShown.start();
        m_verticalBar->release();
    } else if (!m_scrollBarFrame.isActive()) {
        // In a trickle a later frame draws the bar; the timer, a frame later still, is for when
        // none comes. Its own wake-ups came to a tenth more than the frames'.
        m_scrollBarFrame.start(int(left) + frameMilliseconds);
    }
}

void ReceiveConsole::follow(const Arrivals &arrivals)
{
    QScrollBar *vertical = verticalScrollBar();
    if (arrivals.droppedLines > 0 || m_byteView) {
        // The lines in view keep their place; only their numbers changed.
        const qsizetype topLine = arrivals.topLine - arrivals.droppedLines;
        const qsizetype kept = topLine < 0 ? 0 : firstRowOf(topLine) + arrivals.topRowInLine;
        m_reindexing = true;
        updateScrollBars();
        vertical->setValue(arrivals.following ? vertical->maximum() : int(kept));
        m_reindexing = false;
        updateViews();
        return;
    }
    updateScrollBars();
    if (arrivals.following && vertical->value() != vertical->maximum())
        vertical->setValue(vertical->maximum());
    m_gutter->update();
    const int top = rowTop(arrivals.changedLine);
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
    if (!hasSelection() || m_byteView)
        return;
    copy();
    replaceSelection({});
}

void ReceiveConsole::copy()
{
    if (!hasSelection())
        return;
    if (!m_byteView) {
        QGuiApplication::clipboard()->setText(selectedText());
        return;
    }
    const qsizetype bytes = selectionEnd() - selectionStart();
    if (bytes > maxByteViewCopy) {
        const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
        QMessageBox::warning(this, QStringLiteral("Kopyala"),
                             QStringLiteral("Kopyalanamadı: onaltılık görünümde en çok %1 MiB kopyalanabilir, seçim %2 MiB. "
                                            "Metnin tamamı için \"Kaydet...\" kullanın.")
                                 .arg(maxByteViewCopy >> 20)
                                 .arg(turkish.toString(double(bytes) / (1 << 20), 'f', 1)));
        return;
    }
    // What the byte view shows of the selection, row by row: made at its final size, so that
    // the copy holds the text once and no piece of it beside.
    ByteRows &rows = m_rows;
    const qsizetype firstRow = rows.rowOf(selectionStart());
    qsizetype lastRow = firstRow;
    qsizetype length = -1;
    for (; lastRow < rows.count() && rows.rowStart(lastRow) < selectionEnd(); ++lastRow) {
        const qsizetype from = std::max(selectionStart(), rows.rowStart(lastRow));
        const qsizetype to = std::min(selectionEnd(), rows.rowEnd(lastRow));
        if (from < to)
            length += consoletext::byteRowLength(to - from) + 1;
    }
    QString shown(std::max<qsizetype>(length, 0), Qt::Uninitialized);
    QChar *out = shown.data();
    for (qsizetype row = firstRow; row < lastRow; ++row) {
        const qsizetype from = std::max(selectionStart(), rows.rowStart(row));
        const qsizetype to = std::min(selectionEnd(), rows.rowEnd(row));
        if (from >= to)
            continue;
        if (out != shown.data())
            *out++ = QChar(u'\n');
        consoletext::writeByteRow(out, rowBytes(from, to));
        out += consoletext::byteRowLength(to - from);
    }
    QGuiApplication::clipboard()->setText(shown);
}

void ReceiveConsole::paste()
{
    if (m_byteView)
        return;
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
    m_textLineHeight = std::max(1, qCeil(metrics.height()));
    m_ascent = metrics.ascent();
    m_buffer.setAdvance(advances(m_font));
    m_charWidth = std::max(1.0, metrics.averageCharWidth());
    // The byte view's columns need a font whose characters all have one width.
    m_byteFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_byteFont.setPixelSize(std::max(1, QFontInfo(m_font).pixelSize()));
    const QFontMetricsF byteMetrics(m_byteFont);
    m_cellWidth = std::max(1.0, byteMetrics.horizontalAdvance(u'0'));
    m_byteAscent = byteMetrics.ascent();
    m_byteLineHeight = std::max(m_textLineHeight, qCeil(byteMetrics.height()));
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
    if (shown == m_byteView)
        return;
    QScrollBar *vertical = verticalScrollBar();
    const bool following = vertical->value() == vertical->maximum();
    const qsizetype topLine = lineOfRow(vertical->value());
    m_byteView = shown;
    if (!shown)
        m_rows.clear();
    m_reindexing = true;
    updateScrollBars();
    vertical->setValue(following ? vertical->maximum() : int(firstRowOf(topLine)));
    m_reindexing = false;
    m_column = xInRow(rowOf(m_position), m_position);
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
                          ? qCeil(QFontMetricsF(m_font).horizontalAdvance(QStringLiteral("00:00:00.000"))) + 2 * margin
                          : 0;
    setViewportMargins(width, 0, 0, 0);
    const QRect view = viewport()->geometry();
    m_gutter->setGeometry(view.left() - width, view.top(), width, view.height());
}

void ReceiveConsole::paintGutter(QPaintEvent *event)
{
    QPainter painter(m_gutter);
    painter.fillRect(event->rect(), palette().window());
    painter.setFont(m_font);
    painter.setPen(palette().color(QPalette::WindowText));
    const qsizetype rows = rowCount();
    for (qsizetype row = verticalScrollBar()->value(); row < rows; ++row) {
        const int top = rowTop(row);
        if (top > event->rect().bottom())
            break;
        const qsizetype line = lineOfRow(row);
        const QTime arrived = m_buffer.lineArrival(line);
        if (firstRowOf(line) == row && arrived.isValid())
            painter.drawText(QPointF(margin, top + m_ascent), arrived.toString(QStringLiteral("hh:mm:ss.zzz")));
    }
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
    vertical->setRange(0, int(std::max<qsizetype>(0, rowCount() - visible)));
    QScrollBar *horizontal = horizontalScrollBar();
    const int width = viewport()->width();
    const double widest = m_byteView ? double(consoletext::byteRowTextColumn + consoletext::bytesPerRow) * m_cellWidth
                                     : m_buffer.widestLine();
    const double offsetRange = std::max(0.0, std::ceil(widest) + 2 * margin + caretWidth - width);
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
    return std::max(1, (viewport()->height() - margin) / lineHeight());
}

qsizetype ReceiveConsole::rowCount()
{
    return m_byteView ? m_rows.count() : m_buffer.lineCount();
}

qsizetype ReceiveConsole::firstRowOf(qsizetype line)
{
    return m_byteView ? m_rows.firstRow(line) : line;
}

qsizetype ReceiveConsole::lineOfRow(qsizetype row)
{
    return m_byteView ? m_rows.lineOf(row) : std::min(row, m_buffer.lineCount() - 1);
}

qsizetype ReceiveConsole::rowOf(qsizetype position)
{
    return m_byteView ? m_rows.rowOf(position) : m_buffer.lineOf(position);
}

std::pair<qsizetype, qsizetype> ReceiveConsole::rowsIn(const QRect &area)
{
    const qsizetype top = verticalScrollBar()->value();
    const qsizetype first = top + std::max(0, (area.top() - margin) / lineHeight());
    const qsizetype last = area.bottom() < margin ? first - 1 : top + (area.bottom() - margin) / lineHeight();
    return {first, std::min(last + 1, rowCount())};
}

int ReceiveConsole::rowTop(qsizetype row) const
{
    return margin + int(row - verticalScrollBar()->value()) * lineHeight();
}

double ReceiveConsole::xInRow(qsizetype row, qsizetype position)
{
    if (!m_byteView)
        return m_buffer.x(row, position);
    return double(consoletext::hexCells * (position - m_rows.rowStart(row))) * m_cellWidth;
}

qsizetype ReceiveConsole::positionInRow(qsizetype row, double x)
{
    if (!m_byteView)
        return m_buffer.positionAt(row, x);
    // Either column of a byte stands for it; a caret goes to the nearest boundary between bytes.
    const double column = x / m_cellWidth;
    const double hexCells = consoletext::hexCells;
    const qsizetype index = column < consoletext::byteRowTextColumn - 1 ? qFloor((column + hexCells / 2) / hexCells)
                                                                        : qRound(column - consoletext::byteRowTextColumn);
    const qsizetype start = m_rows.rowStart(row);
    const qsizetype last = std::min(m_rows.rowEnd(row), m_buffer.lineEnd(lineOfRow(row)));
    return std::clamp(start + index, start, std::max(start, last));
}

qsizetype ReceiveConsole::positionAt(QPointF point)
{
    const qsizetype row = std::clamp<qsizetype>(verticalScrollBar()->value() + qFloor((point.y() - margin) / lineHeight()), 0,
                                                rowCount() - 1);
    return positionInRow(row, point.x() + horizontalOffset() - margin);
}

QByteArray ReceiveConsole::rowBytes(qsizetype from, qsizetype to) const
{
    if (m_buffer.isNarrow())
        return m_buffer.narrowText().sliced(from, to - from).toByteArray();
    return codepage::fromUnicode(m_buffer.mid(from, to - from));
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
    const qsizetype row = rowOf(m_position);
    const qsizetype lastRow = rowCount() - 1;
    const auto onRow = [this](qsizetype target) {
        return positionInRow(target, m_column);
    };
    switch (motion) {
    case Motion::Left:
        setCaret(hasSelection() && !extend ? selectionStart() : previousPosition(m_position), extend);
        break;
    case Motion::Right:
        setCaret(hasSelection() && !extend ? selectionEnd() : nextPosition(m_position), extend);
        break;
    case Motion::Up:
        setCaret(row > 0 ? onRow(row - 1) : m_position, extend, true);
        break;
    case Motion::Down:
        setCaret(row < lastRow ? onRow(row + 1) : m_position, extend, true);
        break;
    case Motion::PageUp:
        verticalScrollBar()->setValue(verticalScrollBar()->value() - visibleLines());
        setCaret(onRow(std::max<qsizetype>(0, row - visibleLines())), extend, true);
        break;
    case Motion::PageDown:
        verticalScrollBar()->setValue(verticalScrollBar()->value() + visibleLines());
        setCaret(onRow(std::min(lastRow, row + visibleLines())), extend, true);
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
        m_column = xInRow(rowOf(position), position);
    showCaret();
    ensureCaretVisible();
    viewport()->update();
}

void ReceiveConsole::replaceSelection(QStringView with)
{
    const qsizetype start = selectionStart();
    m_buffer.replace(start, selectionEnd() - start, with);
    m_rows.changedFrom(m_buffer.lineOf(start));
    updateScrollBars();
    m_gutter->update();
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
    const qsizetype row = rowOf(m_position);
    QScrollBar *vertical = verticalScrollBar();
    if (row < vertical->value())
        vertical->setValue(int(row));
    else if (row >= vertical->value() + visibleLines())
        vertical->setValue(int(row) - visibleLines() + 1);

    const double x = margin + xInRow(row, m_position);
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

namespace {

// As fs.protected_symlinks: in a sticky folder that everyone may write, a link that is neither
// ours nor the folder owner's may have been planted to aim our write at a file of ours.
bool plantedLink(const QString &path)
{
    struct stat link {};
    struct stat folder {};
    if (::lstat(QFile::encodeName(path).constData(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid == ::geteuid())
        return false;
    if (::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) != 0)
        return false;
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && folder.st_uid != link.st_uid;
}

} // namespace

bool ReceiveConsole::saveTo(const QString &path, QString *error) const
{
    if (plantedLink(path)) {
        *error = QStringLiteral("ortak bir klasörde başka bir kullanıcının sembolik bağlantısı");
        return false;
    }
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        *error = fileErrorText(errno);
        return false;
    }
    // Written past Qt's buffer, so that a failed write still has its errno to tell why.
    const QByteArray bytes = m_buffer.windows1254();
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(file.handle(), bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno != EINTR) {
            *error = fileErrorText(errno);
            return false;
        }
        done += std::max<ssize_t>(written, 0);
    }
    errno = 0;
    if (file.commit())
        return true;
    *error = fileErrorText(errno);
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
    // The console keeps no history of edits: its Undo and Redo are there, as in Qt's boxes, but cannot act.
    add("&Undo", QKeySequence::Undo, false, [] {});
    add("&Redo", QKeySequence::Redo, false, [] {});
    menu->addSeparator();
    add("Cu&t", QKeySequence::Cut, hasSelection() && !m_byteView, &ReceiveConsole::cut);
    add("&Copy", QKeySequence::Copy, hasSelection(), &ReceiveConsole::copy);
    add("&Paste", QKeySequence::Paste, !QGuiApplication::clipboard()->text().isEmpty() && !m_byteView,
        &ReceiveConsole::paste);
    add("Delete", QKeySequence::UnknownKey, hasSelection() && !m_byteView, [this] {
        if (hasSelection() && !m_byteView)
            replaceSelection({});
    });
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, m_buffer.size() > 0, &ReceiveConsole::selectAll);
    menu->addSeparator();
    const auto addChoice = [&](const QString &text, bool checked, void (ReceiveConsole::*set)(bool)) {
        QAction *item = menu->addAction(text);
        item->setCheckable(true);
        item->setChecked(checked);
        connect(item, &QAction::toggled, this, set);
    };
    addChoice(QStringLiteral("Onaltılık Görünüm"), m_byteView, &ReceiveConsole::setShowsBytes);
    addChoice(QStringLiteral("Geliş Zamanları"), showsArrivalTimes(), &ReceiveConsole::setShowsArrivalTimes);
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
    viewport()->update(0, rowTop(rowOf(m_position)), viewport()->width(), lineHeight());
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
    } else if (m_byteView) {
        // The byte view only shows the text; edits belong to the text view.
        QAbstractScrollArea::keyPressEvent(event);
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
    // After a scroll the region is the strip the move uncovered and the lines that changed,
    // which need not be one rectangle: its bounding rectangle could be the whole view.
    const QRegion &dirty = event->region();
    if (m_byteView) {
        paintBytes(painter, dirty);
        return;
    }
    painter.setFont(m_font);
    const QPalette &colors = palette();
    const double viewLeft = horizontalOffset() - margin;
    const double viewRight = viewLeft + viewport()->width();
    const qsizetype selectedFrom = selectionStart();
    const qsizetype selectedTo = selectionEnd();
    const auto [first, end] = rowsIn(dirty.boundingRect());
    for (qsizetype line = first; line < end; ++line) {
        const int top = rowTop(line);
        if (!dirty.intersects(QRect(0, top, viewport()->width(), lineHeight())))
            continue;
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
                painter.fillRect(QRectF(x, top, width, lineHeight()), colors.highlight());
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
            painter.fillRect(QRectF(breakX, top, m_buffer.advance(u' '), lineHeight()), colors.highlight());
        }
    }

    if (hasFocus() && m_caretShown) {
        const qsizetype line = m_buffer.lineOf(m_position);
        const double x = m_buffer.x(line, m_position) - viewLeft;
        painter.fillRect(QRectF(x, rowTop(line), caretWidth, lineHeight()), colors.text());
    }
}

void ReceiveConsole::paintBytes(QPainter &painter, const QRegion &dirty)
{
    painter.setFont(m_byteFont);
    const QPalette &colors = palette();
    const double viewLeft = horizontalOffset() - margin;
    const qsizetype selectedFrom = selectionStart();
    const qsizetype selectedTo = selectionEnd();
    const auto cell = [&](double column, int top, double columns) {
        return QRectF(column * m_cellWidth - viewLeft, top, columns * m_cellWidth, lineHeight());
    };
    const auto [first, end] = rowsIn(dirty.boundingRect());
    for (qsizetype row = first; row < end; ++row) {
        const int top = rowTop(row);
        if (!dirty.intersects(QRect(0, top, viewport()->width(), lineHeight())))
            continue;
        const qsizetype start = m_rows.rowStart(row);
        const QString shown = consoletext::byteRow(rowBytes(start, m_rows.rowEnd(row)));
        painter.setPen(colors.color(QPalette::Text));
        painter.drawText(QPointF(-viewLeft, top + m_byteAscent), shown);
        // Selected bytes are marked in both columns.
        painter.setPen(colors.color(QPalette::HighlightedText));
        const qsizetype from = std::max(selectedFrom, start) - start;
        const qsizetype to = std::min(selectedTo, m_rows.rowEnd(row)) - start;
        const double baseline = top + m_byteAscent;
        for (qsizetype i = from; i < to; ++i) {
            const qsizetype hexColumn = consoletext::hexCells * i;
            const qsizetype textColumn = consoletext::byteRowTextColumn + i;
            // Selected hex cells join up, but for the space after the last.
            painter.fillRect(cell(hexColumn, top, i + 1 < to ? consoletext::hexCells : 2), colors.highlight());
            painter.fillRect(cell(textColumn, top, 1), colors.highlight());
            painter.drawText(QPointF(cell(hexColumn, top, 2).left(), baseline), shown.mid(hexColumn, 2));
            painter.drawText(QPointF(cell(textColumn, top, 1).left(), baseline), shown.mid(textColumn, 1));
        }
    }
    if (hasFocus() && m_caretShown) {
        const qsizetype row = rowOf(m_position);
        painter.fillRect(QRectF(xInRow(row, m_position) - viewLeft - 1, rowTop(row), caretWidth, lineHeight()),
                         colors.text());
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
    if (m_byteView)
        return viewport()->width();
    const auto [first, end] = rowsIn(viewport()->rect());
    double widest = 0;
    const qsizetype from = std::max<qsizetype>(0, first + std::min(dy, 0));
    const qsizetype to = std::min(rowCount(), end + std::max(dy, 0));
    for (qsizetype line = from; line < to; ++line)
        widest = std::max(widest, m_buffer.lineWidth(line));
    // A glyph may reach a little past its advance; a selected line break and the caret go past
    // the line's end.
    const double right = margin - horizontalOffset() + widest + m_buffer.advance(u' ') + m_charWidth + caretWidth;
    return std::clamp(int(std::ceil(right)), 0, viewport()->width());
}

void ReceiveConsole::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutGutter();
    updateScrollBars();
}
