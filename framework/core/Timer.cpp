#include "framework/core/Timer.h"

namespace fw {

Timer::Timer(QObject* parent) : QObject(parent) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Timer::timeout);
    restart();
}

void Timer::setInterval(int milliseconds) {
    m_interval = milliseconds;
    restart();
}

void Timer::setEnabled(bool enabled) {
    m_enabled = enabled;
    restart();
}

bool Timer::fire() {
    if (!isActive())
        return false;
    restart();
    emit timeout();
    return true;
}

void Timer::restart() {
    if (isActive())
        m_timer.start(m_interval);
    else
        m_timer.stop();
}

} // namespace fw
