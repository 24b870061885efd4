#pragma once

#include <QObject>
#include <QTimer>

namespace fw {

// The timer component: an interval in milliseconds, an enabled flag and the
// event OnTimer (the signal timeout()), fired every interval while the timer
// is enabled and its interval is above 0. Setting the interval or enabling
// starts the count anew. A new timer is off, with an interval of 1000 ms.
// fire() lets a test play an elapsed interval at once.
class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject* parent = nullptr);

    int interval() const { return m_interval; }
    void setInterval(int milliseconds);
    bool enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // Whether intervals elapse: enabled, with an interval above 0.
    bool isActive() const { return m_enabled && m_interval > 0; }

    // What an elapsed interval does, now: OnTimer runs and the next interval
    // is counted from here. Only while the timer is active; returns whether
    // OnTimer ran.
    bool fire();

signals:
    void timeout(); // OnTimer

private:
    void restart();
    QTimer m_timer;
    int m_interval = 1000;
    bool m_enabled = false;
};

} // namespace fw
