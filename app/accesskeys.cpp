#include "accesskeys.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
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
        // A key shared by several buttons only moves the focus; the toolkit does that.
        if (!button || event->type() != QEvent::Shortcut || static_cast<QShortcutEvent *>(event)->isAmbiguous())
            return false;
        const QPointer<QAbstractButton> guard(button);
        button->click();
        if (guard) {
            button->setDown(true);
            QTimer::singleShot(pressShown, button, [button] { button->setDown(false); });
        }
        return true;
    }
};

} // namespace

void clickAtOnce(QAbstractButton *button)
{
    static ClickAtOnce *const filter = new ClickAtOnce(QCoreApplication::instance());
    button->installEventFilter(filter);
}

} // namespace accesskeys
