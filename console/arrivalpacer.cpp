#include "arrivalpacer.h"

#include <QStyle>
#include <QStyleOptionSlider>

#include <utility>

void SteadyScrollBar::release()
{
    m_held = false;
    if (look() != m_painted)
        update();
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    if (change == SliderOrientationChange || (!m_held && look() != m_painted))
        QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    QScrollBar::paintEvent(event);
}

SteadyScrollBar::Look SteadyScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this), value() == minimum(),
            value() == maximum()};
}

namespace {

// What is left of a frame that began when `since` started. The clock is read once: read twice, it
// could pass the frame's end between the reads and leave a timer of negative length that never runs.
// A link that reads once a frame comes back just as its frame ends, and is shown at once.
qint64 frameLeft(const QElapsedTimer &since, int frameMilliseconds)
{
    return since.isValid() ? frameMilliseconds - since.elapsed() : 0;
}

} // namespace

ArrivalPacer::ArrivalPacer(SteadyScrollBar *bar, std::function<void()> show) : m_bar(bar), m_show(std::move(show))
{
    m_frame.setSingleShot(true);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &ArrivalPacer::showNow);
    m_scrollBarFrame.setSingleShot(true);
    connect(&m_scrollBarFrame, &QTimer::timeout, this, [this] {
        m_sinceScrollBarShown.start();
        m_bar->release();
    });
}

void ArrivalPacer::arrived()
{
    m_pending = true;
    if (const qint64 left = frameLeft(m_sinceShown, frameMilliseconds); left <= 0)
        showNow();
    else if (!m_frame.isActive())
        m_frame.start(int(left));
}

void ArrivalPacer::showNow()
{
    if (!std::exchange(m_pending, false))
        return;
    m_frame.stop();
    m_sinceShown.start();
    // The bar is drawn, if at all, as the arrivals leave it, not at each step of the way there.
    m_bar->hold();
    m_show();
    if (const qint64 left = frameLeft(m_sinceScrollBarShown, scrollBarMilliseconds); left <= 0) {
        m_scrollBarFrame.stop();
        m_sinceScrollBarShown.start();
        m_bar->release();
    } else if (!m_scrollBarFrame.isActive()) {
        // In a trickle a later frame draws the bar; the timer, a frame later still, is for when
        // none comes. Its own wake-ups came to a tenth more than the frames'.
        m_scrollBarFrame.start(int(left) + frameMilliseconds);
    }
}

void ArrivalPacer::clear()
{
    m_pending = false;
    m_frame.stop();
}
