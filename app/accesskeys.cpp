#include "accesskeys.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcutEvent>
#include <QTimer>

#include <chrono>

namespace accesskeys {
namespace {

using namespace std::chrono_literals;

constexpr auto pressShown = 100ms;

class ClickAtOnce : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (!button)
            return false;
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick
            || event->type() == QEvent::MouseButtonRelease)
            return pressOrRelease(button, static_cast<QMouseEvent *>(event));
        // A key shared by several buttons only moves the focus; the toolkit does that.
        if (event->type() != QEvent::Shortcut || static_cast<QShortcutEvent *>(event)->isAmbiguous())
            return false;
        const QPointer<QAbstractButton> guard(button);
        button->click();
        if (guard) {
            button->setDown(true);
            QTimer::singleShot(pressShown, button, [button] { button->setDown(false); });
        }
        return true;
    }

private:
    // The toolkit draws the button at once on a press and on a release, before it reports either,
    // and drawing over what the X server may still be reading waits for the server. The button
    // takes the event unable to draw, and is drawn at the next turn of the event loop instead;
    // it may draw again from its pressed() or released(), before the routine runs.
    static bool pressOrRelease(QAbstractButton *button, QMouseEvent *event)
    {
        if (event->button() != Qt::LeftButton || !button->updatesEnabled())
            return false;
        const QPointer<QAbstractButton> guard(button);
        button->setUpdatesEnabled(false);
        const bool handled = static_cast<QObject *>(button)->event(event);
        if (guard)
            button->setUpdatesEnabled(true);
        return handled;
    }
};

} // namespace

void clickAtOnce(QAbstractButton *button)
{
    static ClickAtOnce *const filter = new ClickAtOnce(QCoreApplication::instance());
    button->installEventFilter(filter);
    const auto drawable = [button] { button->setUpdatesEnabled(true); };
    QObject::connect(button, &QAbstractButton::pressed, filter, drawable);
    QObject::connect(button, &QAbstractButton::released, filter, drawable);
}

} // namespace accesskeys
