#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <atomic>

// Every wait of every program ends on SIGINT, SIGTERM and SIGHUP alike, in one of two forms.

// The event-loop form: turns SIGINT, SIGTERM and SIGHUP into a Qt signal, so that a program without a window
// leaves through its event loop: the port closes after its queued bytes and links it made go.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    bool stopped() const { return m_count > 0; }
    // Stop signals so far, and requestStop()s.
    int count() const { return m_count; }
    // As a signal would: for an end the program finds itself (its output closed). Any thread.
    void requestStop();

signals:
    void stopRequested();

private:
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
    // Asked from the command line's port threads.
    std::atomic<int> m_count = 0;
};

// The blocking form, for a process that writes out without an event loop (an exit handler):
// from arming on, a stop signal interrupts blocked waits, and each wait asks whether one came.
namespace stopsignals {
void armForBlockingWaits();
bool arrivedSinceArmed();
} // namespace stopsignals
