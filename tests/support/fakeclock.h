#pragma once

#include "clock.h"

#include <QElapsedTimer>

#include <memory>

// A wall clock that starts where the test says and runs at real speed; the test can
// also set it to another time at any moment, as an operator changing the system clock.
class FakeClock
{
public:
    explicit FakeClock(const QDateTime &start) : m_state(std::make_shared<State>())
    {
        m_state->start = start;
        m_state->elapsed.start();
    }

    void set(const QDateTime &now)
    {
        m_state->start = now;
        m_state->elapsed.restart();
    }

    // Frozen clocks only change when set.
    void freeze() { m_state->frozen = true; }

    Clock clock() const
    {
        return [state = m_state] { return state->frozen ? state->start : state->start.addMSecs(state->elapsed.elapsed()); };
    }

private:
    struct State
    {
        QDateTime start;
        QElapsedTimer elapsed;
        bool frozen = false;
    };
    std::shared_ptr<State> m_state;
};
