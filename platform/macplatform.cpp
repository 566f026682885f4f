#include "platform/macplatform.h"

#include "platform/launchdagent.h"

#include <QDir>
#include <QSaveFile>

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

void MacPlatform::openApplication(const QString &bundlePath)
{
    openUrl(QUrl::fromLocalFile(bundlePath));
}

QString MacPlatform::installedMenubarPath() const
{
    return QStringLiteral("/Applications/KovelBar.app");
}

void MacPlatform::registerLoginItem(const QString &installedClient)
{
    // launchd's folder is the system's to make; a missing one means no login item.
    const QString folder = homeFolder() + QStringLiteral("/Library/LaunchAgents");
    if (!QDir(folder).exists())
        return;
    QSaveFile file(folder + QStringLiteral("/io.kovel.menubar.plist"));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(loginItemPlist(installedClient).toUtf8());
    file.commit();
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
                                      std::function<void(const QString &error)> finished)
{
    launchdReplaceAgent(agent, homeFolder(), userId(), facts().launchctl, std::move(finished));
}
