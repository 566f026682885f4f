#pragma once
// macOS: the client in /Applications, a launchd login agent, the system
// settings' privacy panes and launchd for the sensor agent.

#include "platform/systemplatform.h"

namespace Kovel::System {

class MacPlatform : public SystemPlatform
{
public:
    using SystemPlatform::SystemPlatform;

    // The login item's property list for the installed client, as launchd reads it.
    static QString loginItemPlist(const QString &installedClient);

    // What "/usr/bin/open" is given to start the bundle with `arguments`.
    static QStringList openArguments(const QString &bundlePath, const QStringList &arguments);

    // Starts the bundle through "/usr/bin/open", as Finder would.
    void openApplication(const QString &bundlePath, const QStringList &arguments = {}) override;
    QString installedMenubarPath() const override;
    QString registerLoginItem(const QString &installedClient) override;
    QList<QUrl> privacyPanes() const override;
    // ~/Library/Application Support/Kovel
    QString agentFolder() const override;
    void replaceAgentService(const SensorAgentService &agent,
                             std::function<void(const AgentServiceResult &result)> finished) override;
};

} // namespace Kovel::System
