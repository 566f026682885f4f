#include "platform/mac/macplatform.h"

#include "platform/filewrites.h"
#include "platform/installerlog.h"
#include "platform/mac/launchdagent.h"

#include <QProcess>

namespace Kovel::System {

QString MacPlatform::loginItemPlist(const QString &installedClient)
{
    const QStringList lines = {
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
        QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"),
        QStringLiteral("<plist version=\"1.0\"><dict>"),
        QStringLiteral("  <key>Label</key><string>io.kovel.menubar</string>"),
        QStringLiteral("  <key>ProgramArguments</key><array>"),
        QStringLiteral("    <string>/usr/bin/open</string><string>-a</string><string>")
            + installedClient.toHtmlEscaped() + QStringLiteral("</string>"),
        QStringLiteral("  </array>"),
        QStringLiteral("  <key>RunAtLoad</key><true/>"),
        QStringLiteral("</dict></plist>"),
    };
    return lines.join(QLatin1Char('\n'));
}

QStringList MacPlatform::openArguments(const QString &bundlePath, const QStringList &arguments)
{
    // Without -n, open hands the arguments to a copy already running, if any.
    if (arguments.isEmpty())
        return {QStringLiteral("-a"), bundlePath};
    return QStringList{QStringLiteral("-n"), QStringLiteral("-a"), bundlePath, QStringLiteral("--args")} + arguments;
}

void MacPlatform::openApplication(const QString &bundlePath, const QStringList &arguments)
{
    const QStringList open = openArguments(bundlePath, arguments);
    if (!QProcess::startDetached(QStringLiteral("/usr/bin/open"), open))
        qCWarning(installerLog) << "could not run /usr/bin/open" << open;
}

QString MacPlatform::installedMenubarPath() const
{
    return QStringLiteral("/Applications/KovelBar.app");
}

QString MacPlatform::registerLoginItem(const QString &installedClient)
{
    // A fresh account may have no LaunchAgents folder yet; launchd reads it
    // once it is there.
    const QString folder = homeFolder() + QStringLiteral("/Library/LaunchAgents");
    const QString made = makeFolders(folder, sharedFolderMode);
    if (!made.isEmpty())
        return made;
    // launchd refuses a property list others may write to.
    return writeFileAtomically(folder + QStringLiteral("/io.kovel.menubar.plist"),
                               loginItemPlist(installedClient).toUtf8(), sharedFileMode);
}

QList<QUrl> MacPlatform::privacyPanes() const
{
    const QString prefix = QStringLiteral("x-apple.systempreferences:com.apple.preference.security?");
    QList<QUrl> panes;
    for (const char *anchor : {"Privacy_ScreenCapture", "Privacy_Accessibility"})
        panes.append(QUrl(prefix + QLatin1String(anchor), QUrl::StrictMode));
    return panes;
}

QString MacPlatform::agentFolder() const
{
    return homeFolder() + QStringLiteral("/Library/Application Support/Kovel");
}

void MacPlatform::replaceAgentService(const SensorAgentService &agent,
                                      std::function<void(const AgentServiceResult &result)> finished)
{
    launchdReplaceAgent(agent, homeFolder(), userId(), facts().launchctl,
                        [finished = std::move(finished)](const QString &error) { finished({error}); });
}

} // namespace Kovel::System
