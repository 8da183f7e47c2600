#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <atomic>

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal, so that a program without a window
// leaves through its event loop: the port closes after its queued bytes and links it made go.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    bool stopped() const { return m_stopped; }

signals:
    void stopRequested();

private:
    void onSignal();

    QSocketNotifier *m_notifier = nullptr;
    // Asked from the command line's port threads.
    std::atomic<bool> m_stopped = false;
};
