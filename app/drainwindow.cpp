#include "drainwindow.h"

#include "caption.h"
#include "commandcatalogue.h"
#include "commport.h"
#include "endsignals.h"
#include "portdrain.h"
#include "programicon.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr auto shownAfter = 1s;
constexpr auto refreshEvery = 250ms;

class DrainWindow : public QWidget
{
public:
    DrainWindow()
    {
        setObjectName(QStringLiteral("DrainWindow"));
        setWindowTitle(WindowCaption());
        setWindowIcon(programIcon());
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(m_text);
        auto *stop = new QPushButton(QStringLiteral("&Göndermeyi Durdur"), this);
        stop->setObjectName(QStringLiteral("stopSending"));
        layout->addWidget(stop, 0, Qt::AlignRight);
        connect(stop, &QPushButton::clicked, this, &DrainWindow::stopSending);
        connect(&m_refresh, &QTimer::timeout, this, &DrainWindow::refresh);
        m_refresh.start(refreshEvery);
        refresh();
    }

    bool stopped() const { return m_stopped; }

protected:
    // Closing it is the operator's answer too: nobody is left to wait for.
    void closeEvent(QCloseEvent *event) override
    {
        stopSending();
        event->accept();
    }

private:
    void refresh()
    {
        const PortDrain::Progress left = PortDrain::progress();
        m_text->setText(QStringLiteral("Kapatılan pencerenin gönderdikleri hâlâ hatta çıkıyor:\n"
                                       "%1 bayt kaldı, en fazla %2 saniye sürer.")
                            .arg(left.bytes)
                            .arg(std::chrono::ceil<std::chrono::seconds>(left.timeLeft).count()));
    }

    void stopSending()
    {
        m_stopped = true;
        PortDrain::closeAll();
    }

    QLabel *m_text = new QLabel(this);
    QTimer m_refresh;
    bool m_stopped = false;
};

} // namespace

qint64 finishSending()
{
    if (PortDrain::progress().timeLeft <= 0ms)
        return PortDrain::waitForAll();
    // The window comes and goes after the last one: it must not end the program by closing.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    DrainWindow window;
    QTimer::singleShot(shownAfter, &window, &QWidget::show);
    const qint64 left = PortDrain::waitForAll();
    window.hide();
    // Nobody to tell after a stop signal (a logout, say), nor after the operator's own stop.
    if (left > 0 && !window.stopped() && !endingBySignal()) {
        QMessageBox box(QMessageBox::NoIcon, ProgramTitle(),
                        commandcatalogue::portFailureText(commerror::PortNotOpen)
                            + QStringLiteral(": %1 bayt hatta çıkmadı.").arg(left),
                        QMessageBox::Ok);
        // As the window's own boxes: no icon on the button that the style would add.
        box.button(QMessageBox::Ok)->setIcon(QIcon());
        box.exec();
    }
    return left;
}
