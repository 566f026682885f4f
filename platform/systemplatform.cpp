#include "platform/systemplatform.h"

#include <QDesktopServices>
#include <QDir>
#include <QSysInfo>

#include <unistd.h>

namespace Kovel::System {

QString SystemPlatform::homeFolder() const
{
    return m_facts.homeFolder ? *m_facts.homeFolder : QDir::homePath();
}

uint SystemPlatform::userId() const
{
    return m_facts.userId ? *m_facts.userId : uint(::getuid());
}

QString SystemPlatform::hostName() const
{
    return m_facts.hostName ? *m_facts.hostName : QSysInfo::machineHostName();
}

QProcessEnvironment SystemPlatform::environment() const
{
    return m_facts.environment ? *m_facts.environment : QProcessEnvironment::systemEnvironment();
}

void SystemPlatform::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace Kovel::System
