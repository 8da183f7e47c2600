#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QScrollBar>
#include <QTimer>

#include <functional>

// A scroll bar that draws itself again only when what it shows changes: in a trickle the range
// grows a line at a time while the handle stays on the same pixels, and drawing the bar costs
// more than the lines.
class SteadyScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

    // While held, changes are not drawn; release() draws them if they changed what is shown.
    void hold() { m_held = true; }
    void release();

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    struct Look
    {
        QRect handle;
        bool atStart = false;
        bool atEnd = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;

    Look m_painted;
    bool m_held = false;
};

// Lets arrivals reach the screen at most once a frame: the first arrival after a quiet frame
// at once, the rest together at the frame's end. The scroll bar follows at a slower pace.
class ArrivalPacer : public QObject
{
public:
    // `show` moves the view to what arrived and marks it for painting.
    ArrivalPacer(SteadyScrollBar *bar, std::function<void()> show);

    // Whether arrivals wait to be shown.
    bool pending() const { return m_pending; }
    void arrived();
    // Shows what has arrived without waiting for the frame's end.
    void showNow();
    // Forgets what waits, when the text is replaced.
    void clear();

private:
    static constexpr int frameMilliseconds = 16;
    // The scroll bar's handle moves by a pixel now and then in a trickle, but drawing the bar
    // costs more than the new lines: it follows at a slower pace.
    static constexpr int scrollBarMilliseconds = 100;

    SteadyScrollBar *m_bar;
    std::function<void()> m_show;
    bool m_pending = false;
    QTimer m_frame;
    QElapsedTimer m_sinceShown;
    QTimer m_scrollBarFrame;
    QElapsedTimer m_sinceScrollBarShown;
};
