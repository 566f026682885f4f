#include "platform/launchdagent.h"

#include "platform/commandchain.h"
#include "platform/filewrites.h"


namespace {

const QString agentLabel = QStringLiteral("io.kovel.agent");

// Values go into <string> elements; an "&" or "<" left raw would make the
// whole file unreadable to launchd.
QString xmlEscaped(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&apos;"); break;
        default: out += c;
        }
    }
    return out;
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
                         const QString &launchctl, std::function<void()> finished)
{
    const QString path = plistPath(homeFolder);
    // The LaunchAgents folder is the system's; a missing one is not created.
    writeFileAtomically(path, launchdAgentPlist(agent, homeFolder).toUtf8(), privateFileMode);

    const QString domain = QStringLiteral("gui/") + QString::number(userId);
    // bootout fails when no earlier agent is loaded; that is expected.
    runOneAfterAnother({
                           {launchctl, {QStringLiteral("bootout"), domain + QLatin1Char('/') + agentLabel}},
                           {launchctl, {QStringLiteral("bootstrap"), domain, path}},
                       },
                       std::move(finished));
}
