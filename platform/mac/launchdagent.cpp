#include "platform/mac/launchdagent.h"

#include "platform/commandchain.h"
#include "platform/filewrites.h"

namespace Kovel::System {

namespace {

const QString agentLabel = QStringLiteral("io.kovel.agent");

// Values go into <string> elements; an "&" or "<" left raw would make the
// whole file unreadable to launchd.
QString xmlEscaped(const QString &value)
{
    return value.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&apos;"));
}

QString plistPath(const QString &homeFolder)
{
    return homeFolder + QStringLiteral("/Library/LaunchAgents/io.kovel.agent.plist");
}

} // namespace

QString launchdAgentPlist(const SensorAgentService &agent, const QString &homeFolder)
{
    const QString home = xmlEscaped(homeFolder);
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n")
        + QStringLiteral("<plist version=\"1.0\"><dict>\n  <key>Label</key><string>io.kovel.agent</string>\n"
                         "  <key>ProgramArguments</key><array>\n    <string>")
        + xmlEscaped(agent.program)
        + QStringLiteral("</string><string>agent</string>\n    <string>--server</string><string>")
        + xmlEscaped(agent.server)
        + QStringLiteral("</string>\n    <string>--device-id</string><string>")
        + xmlEscaped(agent.deviceID)
        + QStringLiteral("</string>\n    <string>--api-key</string><string>")
        + xmlEscaped(agent.apiKey)
        + QStringLiteral("</string>\n  </array>\n  <key>RunAtLoad</key><true/><key>KeepAlive</key><true/>\n"
                         "  <key>StandardOutPath</key><string>")
        + home
        + QStringLiteral("/Library/Logs/kovel-agent.log</string>\n  <key>StandardErrorPath</key><string>")
        + home
        + QStringLiteral("/Library/Logs/kovel-agent.err.log</string>\n</dict></plist>");
}

void launchdReplaceAgent(const SensorAgentService &agent, const QString &homeFolder, uint userId,
                         const QString &launchctl, std::function<void(const QString &error)> finished)
{
    // Without the folder nothing would be written while the run went on.
    QString error = makeFolders(homeFolder + QStringLiteral("/Library/LaunchAgents"), sharedFolderMode);
    // launchd opens the log files itself but does not make their folder.
    if (error.isEmpty())
        error = makeFolders(homeFolder + QStringLiteral("/Library/Logs"), sharedFolderMode);
    const QString path = plistPath(homeFolder);
    // It holds the API key.
    if (error.isEmpty())
        error = writeFileAtomically(path, launchdAgentPlist(agent, homeFolder).toUtf8(), privateFileMode);
    if (!error.isEmpty()) {
        finishLater(std::move(finished), error);
        return;
    }

    const QString domain = QStringLiteral("gui/") + QString::number(userId);
    runOneAfterAnother({
                           // Fails when no earlier agent is loaded; that is expected.
                           {launchctl, {QStringLiteral("bootout"), domain + QLatin1Char('/') + agentLabel}, true},
                           {launchctl, {QStringLiteral("bootstrap"), domain, path}},
                       },
                       std::move(finished));
}

} // namespace Kovel::System
