#include "installer/core/installerstate.h"

namespace Kovel::Installer {

InstallerState::InstallerState(QObject *parent) : QObject(parent) {}

void InstallerState::setRole(Role v)
{
    if (m_role == v) return;
    m_role = v;
    emit roleChanged(v);
}

void InstallerState::setEngine(Engine v)
{
    if (m_engine == v) return;
    m_engine = v;
    emit engineChanged(v);
}

void InstallerState::setServerURL(const QString &v)
{
    if (m_serverURL == v) return;
    m_serverURL = v;
    emit serverURLChanged(v);
}

void InstallerState::setPairCode(const QString &v)
{
    if (m_pairCode == v) return;
    m_pairCode = v;
    emit pairCodeChanged(v);
}

void InstallerState::setAiPairCode(const QString &v)
{
    if (m_aiPairCode == v) return;
    m_aiPairCode = v;
    emit aiPairCodeChanged(v);
}

void InstallerState::setLog(const QString &v)
{
    m_log = v;
    emit logChanged(m_log);
}

void InstallerState::appendToLog(const QString &text)
{
    if (text.isEmpty()) return;
    m_log += text;
    emit logAppended(text);
}

void InstallerState::setRunning(bool v)
{
    if (m_running == v) return;
    m_running = v;
    emit runningChanged(v);
}

void InstallerState::setDone(bool v)
{
    if (m_done == v) return;
    m_done = v;
    emit doneChanged(v);
}

void InstallerState::setDashboardOffered(bool v)
{
    if (m_dashboardOffered == v) return;
    m_dashboardOffered = v;
    emit dashboardOfferedChanged(v);
}

} // namespace Kovel::Installer
