#pragma once
// A platform side for tests: a temporary home folder, and every open request
// and service-manager call recorded instead of carried out. Either side's
// real file writing (login item, paths) stays in place.
//
//   FakePlatform p;                 // Linux side
//   FakeMacPlatform mac;            // macOS side (client under the temp home)
//   p.openedUrls, p.openedApplications (+ openedArguments), p.agents, p.agentServiceError,
//   p.agentStartsAtLogin

#include "platform/linux/linuxplatform.h"
#include "platform/mac/macplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace fakeplatform_detail {
struct TempHome {
    QTemporaryDir homeDir;
};

inline Kovel::System::PlatformFacts factsFor(const QString &home)
{
    Kovel::System::PlatformFacts f;
    f.homeFolder = home;
    f.userId = 501;
    f.hostName = QStringLiteral("test-host");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    // The XDG folders follow the temporary home unless a test sets them.
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    f.environment = env;
    f.launchctl = QStringLiteral("/nonexistent/launchctl");
    f.systemctl = QStringLiteral("/nonexistent/systemctl");
    return f;
}
} // namespace fakeplatform_detail

template <class Side>
class RecordingPlatform : private fakeplatform_detail::TempHome, public Side
{
public:
    RecordingPlatform() : Side(fakeplatform_detail::factsFor(homeDir.path())) {}
    explicit RecordingPlatform(Kovel::System::PlatformFacts facts)
        : Side([&] { facts.homeFolder = homeDir.path(); return facts; }()) {}

    QString home() const { return homeDir.path(); }
    // The child processes' environment (HOME is the temporary home).
    void setEnvironment(const QProcessEnvironment &env) { m_env = env; m_envSet = true; }
    QProcessEnvironment environment() const override { return m_envSet ? m_env : Side::environment(); }

    void openUrl(const QUrl &url) override { openedUrls.append(url); }
    void openApplication(const QString &bundlePath, const QStringList &arguments = {}) override
    {
        openedApplications.append(bundlePath);
        openedArguments.append(arguments);
    }
    // Under the temporary home on both sides, never the real /Applications.
    QString installedMenubarPath() const override { return home() + QStringLiteral("/Applications/KovelBar.app"); }

    void replaceAgentService(const Kovel::System::SensorAgentService &agent,
                             std::function<void(const Kovel::System::AgentServiceResult &result)> finished) override
    {
        agents.append(agent);
        if (holdAgentFinish) {
            heldAgentFinish = [finished, this] { finished({agentServiceError, agentStartsAtLogin}); };
            return;
        }
        // Like the real service managers: never finishes inside the call.
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [finished, result = Kovel::System::AgentServiceResult{agentServiceError, agentStartsAtLogin}] {
                               finished(result);
                           });
    }

    QList<QUrl> openedUrls;
    QStringList openedApplications;
    QList<QStringList> openedArguments;   // one list per openApplication()
    QList<Kovel::System::SensorAgentService> agents;
    // Set to keep replaceAgentService from finishing; call heldAgentFinish later.
    bool holdAgentFinish = false;
    std::function<void()> heldAgentFinish;
    // What the service manager reports back ("" for success), and whether
    // the agent is registered all the same.
    QString agentServiceError;
    bool agentStartsAtLogin = false;

private:
    QProcessEnvironment m_env;
    bool m_envSet = false;
};

using FakePlatform = RecordingPlatform<Kovel::System::LinuxPlatform>;
using FakeMacPlatform = RecordingPlatform<Kovel::System::MacPlatform>;
