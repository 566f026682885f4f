#include "menubar/tray/traywait.h"

#include <QTimer>

namespace Kovel::Bar {

namespace {

constexpr int trayChecks = 10;
constexpr int trayCheckIntervalMs = 300;

}

TrayWait::TrayWait(std::function<bool()> trayAvailable, QObject *parent)
    : QObject(parent)
    , m_trayAvailable(std::move(trayAvailable))
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(trayCheckIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &TrayWait::check);
}

void TrayWait::start()
{
    if (m_trayAvailable())
        return;
    m_timer->start();
}

void TrayWait::check()
{
    if (m_trayAvailable()) {
        m_timer->stop();
        return;
    }
    if (++m_checks < trayChecks)
        return;
    m_timer->stop();
    emit gaveUp();
}

} // namespace Kovel::Bar
