#pragma once
// Linux: the client under ~/Applications, an XDG autostart entry, no privacy
// panes, and a systemd user service for the sensor agent.

#include "platform/systemplatform.h"

namespace Kovel::System {

class LinuxPlatform : public SystemPlatform
{
public:
    using SystemPlatform::SystemPlatform;

    // The autostart entry that starts the installed client at login.
    static QString autostartEntry(const QString &installedClient);
    // The program inside a client bundle.
    static QString bundleExecutable(const QString &bundlePath);

    // $XDG_CONFIG_HOME, or ~/.config where it is unset or not absolute.
    QString configHome() const;
    // Where the desktop looks for the login item.
    QString autostartEntryPath() const;

    // Starts the bundle's program, detached from the installer.
    void openApplication(const QString &bundlePath, const QStringList &arguments = {}) override;
    QString installedMenubarPath() const override;
    QString registerLoginItem(const QString &installedClient) override;
    QList<QUrl> privacyPanes() const override { return {}; }
    // $XDG_DATA_HOME/kovel (default ~/.local/share/kovel).
    QString agentFolder() const override;
    // The unit and the key file under $XDG_CONFIG_HOME (default ~/.config).
    void replaceAgentService(const SensorAgentService &agent,
                             std::function<void(const AgentServiceResult &result)> finished) override;
};

} // namespace Kovel::System
