#include "installer/runs/runregistry.h"

#include "installer/runs/processgroupending.h"

#include <QProcess>

namespace Kovel::Installer {

void RunRegistry::add(QProcess *child, std::function<void()> abandon)
{
    m_abandon.insert(child, std::move(abandon));
    auto forget = [this, child] { m_abandon.remove(child); };
    QObject::connect(child, &QProcess::finished, &m_lifetime, forget);
    QObject::connect(child, &QProcess::errorOccurred, &m_lifetime, [forget](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            forget();
    });
    QObject::connect(child, &QObject::destroyed, &m_lifetime, forget);
}

bool RunRegistry::endRuns(std::function<void()> ended, int graceMs)
{
    QList<QProcess *> children;
    for (auto it = m_abandon.cbegin(); it != m_abandon.cend(); ++it) {
        if (it.key()->processId() <= 0)
            continue;
        it.value()();
        children.append(it.key());
    }
    if (children.isEmpty())
        return false;
    endProcessGroups(children, graceMs, &m_lifetime, std::move(ended));
    return true;
}

} // namespace Kovel::Installer
