#pragma once
// The system services the installer uses, behind one small interface with a
// macOS side and a Linux side. Both sides build and are tested everywhere;
// the program picks the one for the running system.

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

namespace Kovel::System {

// The sensor agent as the per-user service manager is to run it.
struct SensorAgentService {
    QString program;   // the agent program the service starts (its own copy, or the package's)
    QString server;    // brain address
    QString deviceID;
    QString apiKey;
};

// How replacing the sensor agent's service ended.
struct AgentServiceResult {
    // "" when the agent is registered and running now, else what failed, in
    // the file's or the service manager's own words.
    QString error;
    // Despite `error`, the agent is registered and starts at the next login:
    // only starting it now failed.
    bool startsAtLogin = false;
};

class Platform
{
public:
    virtual ~Platform() = default;

    virtual QString homeFolder() const = 0;
    virtual uint userId() const = 0;
    virtual QString hostName() const = 0;
    virtual QProcessEnvironment environment() const = 0;

    // The user's default handler (browser for http, settings for their panes).
    virtual void openUrl(const QUrl &url) = 0;
    // Starts an installed application bundle with `arguments`, detached from
    // the installer (a new instance even where the system would reuse one).
    virtual void openApplication(const QString &bundlePath, const QStringList &arguments = {}) = 0;

    // Where the menu bar client is installed, e.g. "/Applications/KovelBar.app".
    virtual QString installedMenubarPath() const = 0;
    // Registers the installed client to start at login (the "io.kovel.menubar"
    // item). Writes atomically, with explicit modes; an earlier item is kept
    // when the new one cannot be written whole. Returns "" or what failed.
    virtual QString registerLoginItem(const QString &installedClient) = 0;

    // The privacy panes the sensor needs, in opening order (none where the
    // system has no such panes).
    virtual QList<QUrl> privacyPanes() const = 0;

    // The per-user home of the sensor agent's own copy, which outlives the
    // installer wherever that was started from.
    virtual QString agentFolder() const = 0;

    // Per-user service manager: writes the sensor agent's service definition
    // (and what it needs beside it) and replaces any earlier agent with it,
    // without blocking the caller's thread. `finished` runs on the caller's
    // thread afterwards, never inside the call.
    virtual void replaceAgentService(const SensorAgentService &agent,
                                     std::function<void(const AgentServiceResult &result)> finished) = 0;
};

} // namespace Kovel::System
